// Radiance pictures through stb_image. stb_image reads a missing byte as zero, and a
// zero count in its run-length loop makes no progress, so data that ends inside a
// scanline would keep it reading for ever: the data is walked here first, the same
// way, to refuse such files.
#include <stb_image.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "platform/image/formats.h"

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
            while (!r.atEnd() && r.get() != '\n') {}
            break;
        }
        c = char(r.get());
    }
    return s;
}

// False when the run-length scanlines end before the picture does. Anything else
// (including headers the decoder will refuse itself) is left to the decoder.
bool hdrScanlinesComplete(const uint8_t* data, size_t size) {
    Reader r{data, size};
    std::string id = line(r);
    if (id != "#?RADIANCE" && id != "#?RGBE") return true;
    while (!line(r).empty()) {}
    std::string dims = line(r);
    if (dims.compare(0, 3, "-Y ") != 0) return true;
    char* p = dims.data() + 3;
    long height = std::strtol(p, &p, 10);
    while (*p == ' ') ++p;
    if (std::strncmp(p, "+X ", 3) != 0) return true;
    long width = std::strtol(p + 3, nullptr, 10);
    if (width < 8 || width >= 32768 || height <= 0 || height > (1 << 24))
        return true;  // flat data ends by itself

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

}  // namespace

bool readHdrInfo(const Bytes& in, ImageInfo* info) {
    const std::vector<uint8_t> head = in.take(0, 64 * 1024);
    int w = 0, h = 0, comp = 0;
    if (!stbi_is_hdr_from_memory(head.data(), int(head.size())) ||
        !stbi_info_from_memory(head.data(), int(head.size()), &w, &h, &comp) || w <= 0 || h <= 0 ||
        !sizeAcceptable(uint32_t(w), uint32_t(h)))
        return false;
    describe(info, uint32_t(w), uint32_t(h), false);
    return true;
}

bool decodeHdr(const Bytes& in, Bitmap* out) {
    if (!in.data || in.size > uint64_t(INT32_MAX) ||
        !hdrScanlinesComplete(in.data, size_t(in.size)))
        return false;
    int w = 0, h = 0, comp = 0;
    std::unique_ptr<float, void (*)(void*)> px(
        stbi_loadf_from_memory(in.data, int(in.size), &w, &h, &comp, 4), stbi_image_free);
    if (!px || !allocateBitmap(out, uint32_t(w), uint32_t(h))) return false;
    for (size_t i = 0; i < out->pixels.size(); ++i) {
        const float* p = px.get() + i * 4;
        out->pixels[i] = argb(quantiseChannel(p[3]), quantiseChannel(p[0]), quantiseChannel(p[1]),
                              quantiseChannel(p[2]));
    }
    return true;
}

}  // namespace gx::image
