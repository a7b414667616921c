#include "platform/image/hdr.h"

#include <cstdlib>
#include <cstring>
#include <string>

namespace gx::image {
namespace {

// Reads as stb_image's memory reader does: zero once past the end.
struct Reader {
    const uint8_t* data;
    size_t size;
    size_t at = 0;
    bool overrun = false;  // a byte past the end was asked for
    bool atEnd() const { return at >= size; }
    int get() {
        if (at < size) return data[at++];
        overrun = true;
        return 0;
    }
    void skip(size_t n) {
        if (n > size - at) overrun = true;
        at = n < size - at ? at + n : size;
    }
};

constexpr size_t kLineLimit = 1023;  // longer header lines are cut there, the rest skipped

std::string line(Reader& r) {
    std::string s;
    char c = char(r.get());
    while (!r.atEnd() && c != '\n') {
        s += c;
        if (s.size() == kLineLimit) {
            while (!r.atEnd() && r.get() != '\n') {
            }
            break;
        }
        c = char(r.get());
    }
    return s;
}

}  // namespace

bool hdrScanlinesComplete(const uint8_t* data, size_t size) {
    Reader r{data, size};
    std::string id = line(r);
    if (id != "#?RADIANCE" && id != "#?RGBE") return true;
    while (!line(r).empty()) {
    }
    std::string dims = line(r);
    if (dims.compare(0, 3, "-Y ") != 0) return true;
    char* p = dims.data() + 3;
    long height = std::strtol(p, &p, 10);
    while (*p == ' ') ++p;
    if (std::strncmp(p, "+X ", 3) != 0) return true;
    long width = std::strtol(p + 3, nullptr, 10);
    if (width < 8 || width >= 32768 || height <= 0 || height > (1 << 24)) return true;  // flat data ends by itself

    for (long y = 0; y < height; ++y) {
        int c1 = r.get(), c2 = r.get(), len = r.get();
        if (r.overrun) return false;
        if (c1 != 2 || c2 != 2 || (len & 0x80)) return true;  // flat from here on
        len = len << 8 | r.get();
        if (r.overrun) return false;
        if (len != width) return true;
        for (int channel = 0; channel < 4; ++channel) {
            long x = 0;
            while (x < width) {
                int count = r.get();
                if (count > 128) {
                    r.get();
                    count -= 128;
                    if (count > width - x) return true;
                } else {
                    if (count > width - x) return true;
                    r.skip(size_t(count));
                }
                if (r.overrun) return false;
                x += count;
            }
        }
    }
    return true;
}

}  // namespace gx::image
