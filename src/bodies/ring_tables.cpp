// Ring tables: the process-wide copy, the data file's reader and writer, and the
// checks that keep a foreign or damaged file from reaching the sprite code.
#include "bodies/ring_tables.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <bit>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>

#include "framework/failures.h"
#include "platform/os/paths.h"

namespace gx {

// The file is the in-memory image of the tables, and that is little-endian.
static_assert(std::endian::native == std::endian::little);

RingTables ringTables;

const int8_t ringCompassSteps[11][2] = {{0, 0},  {1, 1},  {0, 1}, {-1, 1}, {-1, 0}, {-1, -1},
                                        {0, -1}, {1, -1}, {1, 0}, {1, 1},  {0, 1}};

std::string ringTablesPath() { return joinPath(cacheFolder(), kRingFileName); }

void freeRingTables() {
    delete[] ringTables.ringStart;
    delete[] ringTables.ringPoints;
    delete[] ringTables.directionCodes;
    ringTables = RingTables{};
}

bool ringTablesValid(const RingTables& t) {
    if (t.ringCentreX != kRingCentre || t.ringCentreY != kRingCentre) return false;
    if (!t.ringStart || !t.ringPoints || !t.directionCodes) return false;
    if (t.ringStart[0] != 0) return false;
    for (int r = 1; r < kRingCount; ++r) {
        if (t.ringStart[r] < t.ringStart[r - 1] || t.ringStart[r] > kRingPointCount) return false;
    }
    // Branch-free reductions: these run over the whole 23 MB on every start.
    const int32_t* coords = &t.ringPoints[0].x;
    uint32_t outside = 0;
    for (size_t i = 0; i < size_t(kRingPointCount) * 2; ++i) {
        outside |= uint32_t(uint32_t(coords[i]) >= uint32_t(kRingSide));
    }
    if (outside) return false;
    uint32_t badCode = 0;
    for (size_t i = 0; i < size_t(kRingPointCount); ++i) {
        const uint8_t c = t.directionCodes[i];
        badCode |= uint32_t(c == 1) | uint32_t(c > 9);
    }
    return badCode == 0;
}

uint64_t ringTablesHash(const RingTables& t) {
    if (!t.ringStart || !t.ringPoints || !t.directionCodes) return 0;
    // Four independent lanes of xor-and-multiply over 64-bit words: each step is a
    // bijection of its lane, so any one changed word changes the result.
    uint64_t lane[4] = {0x9E3779B97F4A7C15ull, 0xC2B2AE3D27D4EB4Full, 0x165667B19E3779F9ull,
                        0x27D4EB2F165667C5ull};
    auto mix = [&](const void* data, size_t bytes) {
        const auto* p = static_cast<const unsigned char*>(data);
        size_t i = 0;
        for (; i + 32 <= bytes; i += 32) {
            for (int k = 0; k < 4; ++k) {
                uint64_t w;
                std::memcpy(&w, p + i + 8 * size_t(k), 8);
                lane[k] = (lane[k] ^ w) * 0x100000001B3ull;
            }
        }
        for (; i < bytes; ++i) lane[0] = (lane[0] ^ p[i]) * 0x100000001B3ull;
    };
    mix(t.ringStart, kRingStartBytes);
    mix(t.ringPoints, kRingPointsBytes);
    mix(t.directionCodes, kDirectionCodesBytes);
    uint64_t h = 0;
    for (uint64_t v : lane) h = (h ^ v ^ (v >> 29)) * 0xBF58476D1CE4E5B9ull;
    return h;
}

namespace {

bool allocationFailsForTesting = false;

bool readFully(int fd, void* data, size_t size) {
    auto* p = static_cast<char*>(data);
    while (size > 0) {
        const ssize_t n = ::read(fd, p, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        size -= size_t(n);
    }
    return true;
}

bool writeFully(int fd, const void* data, size_t size) {
    const auto* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, p, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        size -= size_t(n);
    }
    return true;
}

struct FileCloser {
    int fd;
    ~FileCloser() {
        if (fd >= 0) ::close(fd);
    }
};

bool readTables(int fd, RingTables& t) {
    int32_t header[4];
    if (!readFully(fd, header, sizeof header)) return false;
    if (header[0] != kRingStampSide || header[1] != kRingStampSecond) return false;
    t.ringCentreX = header[2];
    t.ringCentreY = header[3];

    if (!allocationFailsForTesting) {
        t.ringStart = new (std::nothrow) int32_t[kRingCount];
        t.ringPoints = new (std::nothrow) RingPoint[kRingPointCount];
        t.directionCodes = new (std::nothrow) uint8_t[kRingPointCount];
    }
    if (!t.ringStart || !t.ringPoints || !t.directionCodes) {
        reportOutOfMemory();
        return false;
    }
    return readFully(fd, t.ringStart, kRingStartBytes) &&
           readFully(fd, t.ringShades, kRingShadesBytes) &&
           readFully(fd, t.ringPoints, kRingPointsBytes) &&
           readFully(fd, t.directionCodes, kDirectionCodesBytes);
}

// Puts the finished temporary file in place of `path` in one step. Over an existing
// file, ext4 starts writing the new file's data out inside a plain rename (it guards
// against the empty files of rename-without-fsync), which took longer than writing
// the data; swapping the two names atomically and then removing the old file does not.
bool replaceFile(const std::string& temp, const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
        ::renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, path.c_str(), RENAME_EXCHANGE) == 0) {
        ::unlink(temp.c_str());  // now the old file
        return true;
    }
    return ::rename(temp.c_str(), path.c_str()) == 0;
}

}  // namespace

bool loadRingTablesFrom(const std::string& path) {
    freeRingTables();
    struct stat st {};
    const off_t size = ::stat(path.c_str(), &st) == 0 ? st.st_size : 0;
    if (size > off_t(UINT32_MAX) || size < off_t(kRingFileSize)) return false;
    FileCloser file{::open(path.c_str(), O_RDONLY | O_CLOEXEC)};
    if (file.fd < 0) return false;
    if (!readTables(file.fd, ringTables) || !ringTablesValid(ringTables) ||
        ringTablesHash(ringTables) != kRingTablesHash) {
        freeRingTables();
        return false;
    }
    return true;
}

bool loadRingTables() {
    const std::string path = ringTablesPath();
    removeStaleDataFileParts(path);
    return loadRingTablesFrom(path);
}

void setRingTablesAllocationFailsForTesting(bool fail) { allocationFailsForTesting = fail; }

int removeStaleDataFileParts(const std::string& path) {
    const size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    const std::string prefix =
        (slash == std::string::npos ? path : path.substr(slash + 1)) + ".part.";
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return 0;
    int removed = 0;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) continue;
        // Our own pattern only: the prefix and a process id, nothing after it.
        const std::string digits = name.substr(prefix.size());
        if (digits.size() > 9 || digits.find_first_not_of("0123456789") != std::string::npos)
            continue;
        const long pid = std::strtol(digits.c_str(), nullptr, 10);
        if (pid <= 0 || pid == long(::getpid())) continue;
        // A process that still runs (or that we may not signal) may still be writing it.
        if (::kill(pid_t(pid), 0) == 0 || errno != ESRCH) continue;
        const std::string file = folder + name;
        struct stat st {};
        if (::lstat(file.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
        if (::unlink(file.c_str()) == 0) ++removed;
    }
    ::closedir(dir);
    return removed;
}

bool writeRingTables(const RingTables& t, const std::string& path, int* error) {
    int failure = 0;
    auto failed = [&](int e) {
        failure = e ? e : EIO;
        if (error) *error = failure;
        return false;
    };
    if (!t.ringStart || !t.ringPoints || !t.directionCodes) return failed(EINVAL);
    const std::string temp = path + ".part." + std::to_string(::getpid());
    FileCloser file{::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644)};
    if (file.fd < 0) return failed(errno);
    const int32_t header[4] = {kRingStampSide, kRingStampSecond, t.ringCentreX, t.ringCentreY};
    bool ok = writeFully(file.fd, header, sizeof header) &&
              writeFully(file.fd, t.ringStart, kRingStartBytes) &&
              writeFully(file.fd, t.ringShades, kRingShadesBytes) &&
              writeFully(file.fd, t.ringPoints, kRingPointsBytes) &&
              writeFully(file.fd, t.directionCodes, kDirectionCodesBytes);
    if (!ok) failure = errno ? errno : ENOSPC;
    if (::close(file.fd) != 0 && ok) {
        ok = false;
        failure = errno;
    }
    file.fd = -1;
    if (ok && !replaceFile(temp, path)) {
        ok = false;
        failure = errno;
    }
    if (!ok) {
        ::unlink(temp.c_str());
        return failed(failure);
    }
    return true;
}

}  // namespace gx
