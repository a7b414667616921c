// DirectDraw Surface files: our own header reader, block decompression by libsquish.
// BC1, BC2 and BC3 (DXT1 to DXT5) and uncompressed 24- and 32-bit colour are read.
#include <squish.h>

#include <cstring>
#include <vector>

#include "platform/image/bitfields.h"
#include "platform/image/formats.h"

namespace gx::image {
namespace {

constexpr uint32_t kPfAlphaPixels = 0x1;
constexpr uint32_t kPfFourCC = 0x4;
constexpr uint32_t kPfRgb = 0x40;
constexpr uint32_t kCaps2Volume = 0x200000;

constexpr size_t kDdsHeaderBytes = 128;  // magic plus the 124-byte header

enum class DdsKind { Bc1, Bc2, Bc3, Rgb };

struct DdsLayout {
    uint32_t width = 0, height = 0;
    DdsKind kind = DdsKind::Rgb;
    uint32_t bitCount = 0;
    uint32_t masks[4] = {};  // red, green, blue, alpha
    bool hasAlpha = false;
    uint64_t dataBytes = 0;
};

uint32_t readU32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

constexpr uint32_t fourCC(char a, char b, char c, char d) {
    return uint32_t(uint8_t(a)) | uint32_t(uint8_t(b)) << 8 | uint32_t(uint8_t(c)) << 16 |
           uint32_t(uint8_t(d)) << 24;
}

bool parseDds(const uint8_t* d, size_t n, uint64_t fileSize, DdsLayout* L) {
    if (n < kDdsHeaderBytes || std::memcmp(d, "DDS ", 4) != 0) return false;
    const uint8_t* h = d + 4;
    if (readU32(h) != 124) return false;
    L->height = readU32(h + 8);
    L->width = readU32(h + 12);
    if (L->width == 0 || L->height == 0 || L->width > kMaxDimension || L->height > kMaxDimension)
        return false;
    const uint8_t* pf = h + 72;
    if (readU32(pf) != 32) return false;
    uint32_t caps2 = readU32(h + 108);
    if (caps2 & kCaps2Volume) return false;
    uint32_t flags = readU32(pf + 4);
    uint64_t blocks = uint64_t((L->width + 3) / 4) * ((L->height + 3) / 4);
    if (flags & kPfFourCC) {
        uint32_t cc = readU32(pf + 8);
        if (cc == fourCC('D', 'X', 'T', '1')) {
            L->kind = DdsKind::Bc1;
            L->dataBytes = blocks * 8;
        } else if (cc == fourCC('D', 'X', 'T', '2') || cc == fourCC('D', 'X', 'T', '3')) {
            L->kind = DdsKind::Bc2;
            L->dataBytes = blocks * 16;
        } else if (cc == fourCC('D', 'X', 'T', '4') || cc == fourCC('D', 'X', 'T', '5')) {
            L->kind = DdsKind::Bc3;
            L->dataBytes = blocks * 16;
        } else {
            return false;
        }
        L->hasAlpha = true;
    } else if (flags & kPfRgb) {
        L->kind = DdsKind::Rgb;
        L->bitCount = readU32(pf + 12);
        if (L->bitCount != 24 && L->bitCount != 32) return false;
        for (int i = 0; i < 3; ++i) L->masks[i] = readU32(pf + 16 + 4 * i);
        L->hasAlpha = (flags & kPfAlphaPixels) != 0;
        L->masks[3] = L->hasAlpha ? readU32(pf + 28) : 0;
        if (L->hasAlpha && L->masks[3] == 0) L->hasAlpha = false;
        // The pitch written in headers is often wrong; the layout defines it.
        uint64_t pitch = (uint64_t(L->width) * L->bitCount + 7) / 8;
        L->dataBytes = pitch * L->height;
    } else {
        return false;
    }
    return fileSize >= kDdsHeaderBytes + L->dataBytes;
}

}  // namespace

bool readDdsInfo(const Bytes& in, ImageInfo* info) {
    DdsLayout L;
    const std::vector<uint8_t> head = in.take(0, kDdsHeaderBytes);
    if (!parseDds(head.data(), head.size(), in.size, &L)) return false;
    describe(info, L.width, L.height, L.hasAlpha);
    return true;
}

bool decodeDds(const Bytes& in, Bitmap* out) {
    DdsLayout L;
    if (!in.data || !parseDds(in.data, size_t(in.size), in.size, &L) ||
        !allocateBitmap(out, L.width, L.height))
        return false;
    const uint8_t* src = in.data + kDdsHeaderBytes;
    if (L.kind != DdsKind::Rgb) {
        int flags = L.kind == DdsKind::Bc1   ? squish::kDxt1
                    : L.kind == DdsKind::Bc2 ? squish::kDxt3
                                             : squish::kDxt5;
        std::vector<uint8_t> rgba(size_t(L.width) * L.height * 4);
        squish::DecompressImage(rgba.data(), int(L.width), int(L.height), src, flags);
        for (size_t i = 0; i < out->pixels.size(); ++i) {
            const uint8_t* p = &rgba[i * 4];
            out->pixels[i] =
                uint32_t(p[3]) << 24 | uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
        }
        return true;
    }
    Channel red(L.masks[0]), green(L.masks[1]), blue(L.masks[2]), alpha(L.masks[3]);
    size_t bytesPerPixel = L.bitCount / 8;
    size_t pitch = size_t(L.width) * bytesPerPixel;
    for (uint32_t y = 0; y < L.height; ++y) {
        const uint8_t* row = src + pitch * y;
        for (uint32_t x = 0; x < L.width; ++x) {
            const uint8_t* p = row + x * bytesPerPixel;
            uint32_t v = uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16;
            if (bytesPerPixel == 4) v |= uint32_t(p[3]) << 24;
            out->at(x, y) = alpha.get(v, 255) << 24 | red.get(v, 0) << 16 | green.get(v, 0) << 8 |
                            blue.get(v, 0);
        }
    }
    return true;
}

}  // namespace gx::image
