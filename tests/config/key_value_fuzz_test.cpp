// Random and mutated files through load, set and save: nothing may crash or read out of
// bounds (run under the sanitizers), and whatever a save writes must read back as the
// values that were set, with every other value where it was.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <random>

#include "config/key_value_file.h"
#include "config/settings.h"
#include "support/mutation.h"
#include "support/temp_folder.h"

namespace gx {
namespace {

const char* const kPieces[] = {
    "Key",  "key",  "GameSpeed", "ImagePath", "Duration", "A",    "b",           " ",
    " ",    "\t",   "=",         "==",        "\"",       "\"\"", "//",          "\r\n",
    "\r\n", "\n",   "\n",        "\r",        "10",       "-3",   "99999999999", "abc",
    "a b",  "true", "FALSE",     "\xff",      "\x80",     "//c",  "x=y"};

struct Fuzzer {
    std::mt19937 rng;
    explicit Fuzzer(uint32_t seed) : rng(seed) {}

    size_t below(size_t n) { return n ? std::uniform_int_distribution<size_t>(0, n - 1)(rng) : 0; }

    std::string pieces(size_t count) {
        std::string s;
        for (size_t i = 0; i < count; ++i) {
            size_t k = below(std::size(kPieces) + 3);
            if (k < std::size(kPieces)) s += kPieces[k];
            else if (k == std::size(kPieces)) s += std::string(below(300), "xv \""[below(4)]);
            else if (k == std::size(kPieces) + 1) s += char(below(256));
            else s += std::to_string(int(below(100000)) - 50000);
        }
        return s;
    }

    std::string mutate(std::string s) {
        for (size_t n = below(6) + 1; n > 0; --n) {
            size_t at = below(s.size() + 1);
            switch (below(4)) {
            case 0:
                if (at < s.size()) s[at] = char(below(256));
                break;
            case 1:
                if (at < s.size()) s.erase(at, below(8) + 1);
                break;
            case 2: s.insert(at, pieces(below(3) + 1)); break;
            default: s.insert(at, std::string(below(280), ' ')); break;
            }
        }
        return s;
    }

    std::string file() {
        switch (below(3)) {
        case 0: return pieces(below(120));
        case 1: return mutate(settingsTemplate());
        default: {
            std::string s;
            for (size_t i = below(70); i > 0; --i)
                s += std::string(kPieces[below(5)]) + std::to_string(below(60)) + " = " +
                     pieces(below(3)) + (below(2) ? "\r\n" : "\n");
            return mutate(s);
        }
        }
    }

    std::string text() {
        std::string s = pieces(below(4));
        s.erase(std::remove(s.begin(), s.end(), '\0'), s.end());
        return s;
    }
};

std::string escaped(const std::string& bytes) {
    std::string out;
    for (unsigned char c : bytes) {
        char hex[8];
        std::snprintf(hex, sizeof hex, "\\x%02x", c);
        out += (c < 32 || c > 126) ? std::string(hex) : std::string(1, char(c));
    }
    return out;
}

void checkEntries(const KeyValueFile& r, const std::string& bytes) {
    ASSERT_LE(r.entryCount(), KeyValueFile::kMaxEntries);
    size_t previousEnd = 0;
    for (size_t i = 0; i < r.entries().size(); ++i) {
        const KeyValueEntry& e = r.entries()[i];
        ASSERT_GE(size_t(e.fileOffset), previousEnd);
        ASSERT_LE(size_t(e.fileOffset) + size_t(e.storedSize - 1), bytes.size());
        previousEnd = size_t(e.fileOffset) + size_t(e.storedSize - 1);
        if (!e.refused) {
            ASSERT_EQ(bytes.compare(size_t(e.fileOffset), e.value.size(), e.value), 0);
            ASSERT_LE(e.value.size(), 259u);
        }
        for (size_t j = 0; j < i; ++j) ASSERT_NE(r.entries()[j].keyHash, e.keyHash);
    }
}

TEST(KeyValueFuzz, RandomAndMutatedFilesLoadSaveAndReadBack) {
    // tmpfs when there is one: the saves' fsync would otherwise dominate.
    const std::string folder = gxtest::fuzzFolder("gx_fuzz");
    ASSERT_FALSE(folder.empty());
    struct Cleanup {
        std::string folder;
        ~Cleanup() { gxtest::removeFuzzFolder(folder); }
    } cleanup{folder};
    const std::string path = folder + "/f.ini";

    const uint32_t seed = gxtest::fuzzSeed(20240611);
    Fuzzer fz(seed);
    for (int iteration = 0; iteration < 600; ++iteration) {
        SCOPED_TRACE("seed " + std::to_string(seed) + " iteration " + std::to_string(iteration));
        std::string bytes = fz.file();
        gxtest::writeFile(path, bytes);
        KeyValueFile r(path);
        ASSERT_TRUE(r.load());
        ASSERT_NO_FATAL_FAILURE(checkEntries(r, bytes));
        std::vector<KeyValueEntry> expected = r.entries();

        for (int round = 0; round < 3; ++round) {
            for (size_t n = fz.below(5); n > 0 && !expected.empty(); --n) {
                size_t i = fz.below(expected.size());
                uint32_t hash = expected[i].keyHash;
                std::string text;
                bool ok = false;
                switch (fz.below(3)) {
                case 0:
                    text = fz.text();
                    ok = r.setString(hash, text.c_str());
                    break;
                case 1: {
                    int32_t v = int32_t(fz.rng());
                    ok = r.setInt(hash, v);
                    text = std::to_string(v);
                    break;
                }
                default: {
                    int32_t v = int32_t(fz.below(3));
                    ok = r.setBool(hash, v);
                    text = v == 1 ? "true" : "false";
                    break;
                }
                }
                if (ok) {
                    expected[i].value = text;
                    expected[i].refused = false;
                }
            }
            ASSERT_TRUE(r.save());
            const std::string written = gxtest::readFile(path);
            ASSERT_NO_FATAL_FAILURE(checkEntries(r, written));
            SCOPED_TRACE("before: " + escaped(bytes) + "\nafter: " + escaped(written));
            KeyValueFile back(path);
            ASSERT_TRUE(back.load());
            ASSERT_EQ(back.entryCount(), int32_t(expected.size()));
            for (size_t i = 0; i < expected.size(); ++i) {
                const KeyValueEntry& e = back.entries()[i];
                ASSERT_EQ(e.keyHash, expected[i].keyHash);
                ASSERT_EQ(e.refused, expected[i].refused);
                if (!e.refused) {
                    ASSERT_EQ(e.value, expected[i].value);
                }
                ASSERT_EQ(e.fileOffset, r.entries()[i].fileOffset);
            }
        }
    }
}

}  // namespace
}  // namespace gx
