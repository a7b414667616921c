// Damaged copies of a good data file through the loader. Each damage that breaks a rule
// the tables live by (stamps, centre, ring starts in order and in range, points inside
// the square, direction codes) must be refused and leave no tables; whatever is accepted
// must pass the same checks. One good file is patched in place and put back each time.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <fstream>

#include "bodies/ring_tables.h"
#include "support/mutation.h"
#include "support/run.h"

namespace {

using namespace gx;

class DataFile {
public:
    explicit DataFile(const std::string& path) : path_(path), fd_(open(path.c_str(), O_RDWR)) {}
    ~DataFile() {
        if (fd_ >= 0) close(fd_);
    }
    bool ok() const { return fd_ >= 0; }
    // Writes bytes at the offset, returning what was there.
    std::string patch(size_t at, const std::string& bytes) {
        std::string old(bytes.size(), '\0');
        EXPECT_EQ(pread(fd_, old.data(), old.size(), off_t(at)), ssize_t(old.size()));
        EXPECT_EQ(pwrite(fd_, bytes.data(), bytes.size(), off_t(at)), ssize_t(bytes.size()));
        return old;
    }
    int32_t int32At(size_t at) {
        int32_t v = 0;
        EXPECT_EQ(pread(fd_, &v, 4, off_t(at)), 4);
        return v;
    }

private:
    std::string path_;
    int fd_;
};

std::string bytesOf(int32_t v) { return std::string(reinterpret_cast<const char*>(&v), 4); }

constexpr size_t kStarts = kRingFileHeaderBytes;
constexpr size_t kPoints = kStarts + kRingStartBytes + kRingShadesBytes;
constexpr size_t kCodes = kPoints + kRingPointsBytes;

bool loadedAndValid(const std::string& path) {
    bool loaded = loadRingTablesFrom(path);
    if (loaded) {
        EXPECT_TRUE(ringTablesValid(ringTables));
    } else {
        EXPECT_EQ(ringTables.ringStart, nullptr);
        EXPECT_EQ(ringTables.ringPoints, nullptr);
        EXPECT_EQ(ringTables.directionCodes, nullptr);
    }
    freeRingTables();
    return loaded;
}

TEST(DataFileFuzz, DamageThatBreaksARuleIsRefused) {
    const std::string dir = gxtest::fuzzFolder("gxdatfuzz");
    const std::string path = dir + "/Glimmerax.dat";
    ASSERT_EQ(std::system(("cp '" + gxtest::sharedDataFile() + "' '" + path + "'").c_str()), 0);
    ASSERT_TRUE(loadedAndValid(path));
    DataFile file(path);
    ASSERT_TRUE(file.ok());
    const uint32_t seed = gxtest::fuzzSeed(4242);
    gxtest::Mutator m(seed);
    static const int32_t kBad[] = {-1,        INT32_MIN,           INT32_MAX,
                                   kRingSide, kRingPointCount + 1, 0x10000};
    const int n = gxtest::fuzzIterations(200);
    int acceptedFlips = 0;
    for (int i = 0; i < n && !HasFailure(); ++i) {
        SCOPED_TRACE("seed " + std::to_string(seed) + " iteration " + std::to_string(i));
        const int32_t bad = kBad[m.below(std::size(kBad))];
        size_t at = 0;
        bool mustRefuse = true;
        std::string bytes;
        switch (i % 5) {
        case 0:  // a header field: stamps or centre
            at = 4 * m.below(4);
            bytes = bytesOf(bad);
            break;
        case 1: {  // a ring start out of order or out of range
            size_t ring = m.below(kRingCount);
            at = kStarts + 4 * ring;
            static const int32_t kOutOfRange[] = {-1, INT32_MIN, INT32_MAX, kRingPointCount + 1};
            int32_t v = kOutOfRange[m.below(4)];
            if (ring > 0 && m.below(2))
                v = file.int32At(at - 4) - 1;  // one below the previous start
            if (ring == 0) v = 1 + int32_t(m.below(100));
            bytes = bytesOf(v);
            break;
        }
        case 2:  // a point outside the square
            at = kPoints + 4 * m.below(size_t(kRingPointCount) * 2);
            bytes = bytesOf(bad == kRingPointCount + 1 || bad == 0x10000 ? kRingSide + 1 : bad);
            break;
        case 3:  // a direction code that is not one
            at = kCodes + m.below(size_t(kRingPointCount));
            bytes = std::string(1, char(m.below(2) ? 1 : 10 + m.below(246)));
            break;
        default:  // any byte anywhere: refused or still keeping every rule
            at = m.below(kRingFileSize);
            bytes = std::string(1, char(m.next() | 1));
            mustRefuse = false;
            break;
        }
        std::string old = file.patch(at, bytes);
        if (old == bytes) mustRefuse = false;
        bool loaded = loadedAndValid(path);
        if (mustRefuse) {
            EXPECT_FALSE(loaded) << "damage at byte " << at << " accepted";
        } else if (loaded) {
            ++acceptedFlips;
        }
        file.patch(at, old);
    }
    EXPECT_TRUE(loadedAndValid(path)) << "the good file was not put back";
    std::printf("%d of %d changed bytes still kept every rule (shades, or a value in range)\n",
                acceptedFlips, n / 5);
    gxtest::removeFuzzFolder(dir);
}

TEST(DataFileFuzz, ShortFilesAndForeignBytesAreRefused) {
    const std::string dir = gxtest::fuzzFolder("gxdatshort");
    const std::string good = gxtest::readFile(gxtest::sharedDataFile());
    ASSERT_EQ(good.size(), kRingFileSize);
    gxtest::Mutator m(gxtest::fuzzSeed(77));
    const std::string path = dir + "/short.dat";
    std::vector<size_t> sizes = {
        0, 1, kRingFileHeaderBytes, kRingFileHeaderBytes + 1, kCodes, kRingFileSize - 1};
    for (int i = gxtest::fuzzIterations(9); i > 0; --i) sizes.push_back(m.below(kRingFileSize));
    for (size_t size : sizes) {
        std::ofstream(path, std::ios::binary | std::ios::trunc) << good.substr(0, size);
        EXPECT_FALSE(loadedAndValid(path)) << size << " bytes";
    }
    // The right size, but a good header over random tables, and random bytes throughout.
    std::string noise(kRingFileSize, '\0');
    for (char& c : noise) c = char(m.next());
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        << good.substr(0, kRingFileHeaderBytes) << noise.substr(kRingFileHeaderBytes);
    EXPECT_FALSE(loadedAndValid(path));
    std::ofstream(path, std::ios::binary | std::ios::trunc) << noise;
    EXPECT_FALSE(loadedAndValid(path));
    // Not a file at all.
    EXPECT_FALSE(loadedAndValid(dir));
    EXPECT_FALSE(loadedAndValid(dir + "/missing.dat"));
    gxtest::removeFuzzFolder(dir);
}

}  // namespace
