// Seeded mutations of good files: every run of a test tries the same inputs, and a
// failure names the seed and the iteration that reproduce it.
#pragma once

#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <string>

namespace gxtest {

// The count for a CI run; GLIMMERAX_FUZZ_ITERATIONS asks for more (or fewer), and under
// the sanitizers a third of the count keeps the suite inside its budget.
inline int fuzzIterations(int normal) {
    if (const char* v = std::getenv("GLIMMERAX_FUZZ_ITERATIONS")) return std::max(1, std::atoi(v));
    return std::getenv("GLIMMERAX_UNDER_SANITIZER") ? std::max(1, normal / 3) : normal;
}

inline uint32_t fuzzSeed(uint32_t normal) {
    if (const char* v = std::getenv("GLIMMERAX_FUZZ_SEED"))
        return uint32_t(std::strtoul(v, nullptr, 10));
    return normal;
}

// A folder in memory when there is one: thousands of small writes stay cheap.
inline std::string fuzzFolder(const std::string& tag) {
    struct stat st {};
    std::string base = stat("/dev/shm", &st) == 0 && S_ISDIR(st.st_mode) ? "/dev/shm" : "/tmp";
    std::string tmpl = base + "/" + tag + "-XXXXXX";
    return mkdtemp(tmpl.data()) ? tmpl : std::string();
}

inline void removeFuzzFolder(const std::string& dir) {
    if (dir.rfind("/dev/shm/", 0) == 0 || dir.rfind("/tmp/", 0) == 0) {
        std::string cmd = "rm -rf '" + dir + "'";
        (void)std::system(cmd.c_str());
    }
}

class Mutator {
public:
    explicit Mutator(uint32_t seed) : rng_(seed) {}
    uint32_t next() { return uint32_t(rng_()); }
    size_t below(size_t n) { return n ? size_t(rng_() % n) : 0; }

    // One to six edits: bit flips, cuts, insertions, deletions, a header field set to
    // 0, -1 or INT_MAX, a random byte. Headers are where decoders go wrong, so a third
    // of the edits land in the first 160 bytes.
    std::string mutate(const std::string& seed) {
        std::string s = seed;
        for (int e = 1 + int(below(6)); e > 0 && !s.empty(); --e) {
            size_t at = below(3) == 0 ? below(std::min<size_t>(s.size(), 160)) : below(s.size());
            switch (below(7)) {
            case 0: s[at] = char(s[at] ^ (1 << below(8))); break;
            case 1: s.resize(at); break;
            case 2: s.insert(at, std::string(1 + below(64), char(next()))); break;
            case 3: {
                static const uint32_t kExtremes[] = {0u, 0xFFFFFFFFu, 0x7FFFFFFFu, 0x80000000u,
                                                     0x00010000u};
                uint32_t v = kExtremes[below(5)];
                bool bigEndian = below(2);
                for (int k = 0; k < 4 && at + k < s.size(); ++k)
                    s[at + k] = char(v >> (8 * (bigEndian ? 3 - k : k)));
                break;
            }
            case 4: s.erase(at, 1 + below(32)); break;
            case 5:
                s.insert(at, s.substr(below(s.size()), 1 + below(256)));
                break;  // a repeated piece
            default: s[at] = char(next()); break;
            }
        }
        return s;
    }

private:
    std::mt19937 rng_;
};

}  // namespace gxtest
