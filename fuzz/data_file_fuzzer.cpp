// libFuzzer target: a good data file with the input's edits applied (each 5 bytes: an
// offset and a byte; a leftover 4 bytes cut the file to that length), then loaded. Any
// file the loader accepts must keep every rule.
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "bodies/ring_tables.h"
#include "ui/ring_generator.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string good = [] {
        std::string p = "/tmp/gx-data-fuzzer-good-" + std::to_string(getpid()) + ".dat";
        gx::generateRingTablesTo(p);
        return p;
    }();
    static const std::string path = "/tmp/gx-data-fuzzer-" + std::to_string(getpid()) + ".dat";
    std::string cmd = "cp '" + good + "' '" + path + "'";
    if (std::system(cmd.c_str()) != 0) return 0;
    int fd = open(path.c_str(), O_RDWR);
    if (fd < 0) return 0;
    size_t at = 0;
    for (; at + 5 <= size; at += 5) {
        uint32_t offset;
        std::memcpy(&offset, data + at, 4);
        (void)!pwrite(fd, data + at + 4, 1, off_t(offset % gx::kRingFileSize));
    }
    if (size - at == 4) {
        uint32_t length;
        std::memcpy(&length, data + at, 4);
        (void)!ftruncate(fd, off_t(length % gx::kRingFileSize));
    }
    close(fd);
    if (gx::loadRingTablesFrom(path) && !gx::ringTablesValid(gx::ringTables)) __builtin_trap();
    gx::freeRingTables();
    return 0;
}
