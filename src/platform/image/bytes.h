// Where a decoder reads a picture file from: the open file, when only the description
// is wanted (so only the bytes a format needs are read, wherever they lie), or the
// whole file in memory, for the pixels. Both read through one call, so the header a
// description comes from is parsed by the same code as the one the pixels come with.
#pragma once

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

namespace gx::image {

struct Bytes {
    const uint8_t* data = nullptr;  // the whole file, or null to read from fd
    int fd = -1;
    uint64_t size = 0;

    // Copies n bytes from offset; false when they are not all there.
    bool read(uint64_t offset, void* out, size_t n) const {
        if (offset > size || n > size - offset) return false;
        if (data) {
            if (n) std::memcpy(out, data + offset, n);
            return true;
        }
        auto* to = static_cast<uint8_t*>(out);
        while (n > 0) {
            ssize_t got = pread(fd, to, n, off_t(offset));
            if (got <= 0) return false;
            to += got;
            offset += uint64_t(got);
            n -= size_t(got);
        }
        return true;
    }
    // Up to n bytes from offset, fewer at the end of the file.
    std::vector<uint8_t> take(uint64_t offset, size_t n) const {
        std::vector<uint8_t> out;
        if (offset >= size) return out;
        out.resize(size_t(std::min<uint64_t>(n, size - offset)));
        if (!read(offset, out.data(), out.size())) out.clear();
        return out;
    }
};

inline uint16_t le16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }
inline uint32_t le32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
inline uint16_t be16(const uint8_t* p) { return uint16_t(p[0] << 8 | p[1]); }
inline uint32_t be32(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

// 0xAARRGGBB from separate channels.
inline uint32_t argb(uint32_t a, uint32_t r, uint32_t g, uint32_t b) {
    return a << 24 | r << 16 | g << 8 | b;
}

// Swaps the first and third byte of every pixel: RGBA bytes in memory become the
// bitmap's 0xAARRGGBB (BGRA bytes on this little-endian machine), and back.
inline void swapRedBlue(uint32_t* pixels, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        uint32_t p = pixels[i];
        pixels[i] = (p & 0xFF00FF00u) | (p & 0xFFu) << 16 | (p >> 16 & 0xFFu);
    }
}

}  // namespace gx::image
