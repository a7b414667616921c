// DDS header reading and level-0 decoding.
#include "platform/image/dds.h"

#include <squish.h>

#include <bit>
#include <cstring>

namespace gx::image {
namespace {

constexpr uint32_t kPfAlphaPixels = 0x1;
constexpr uint32_t kPfFourCC = 0x4;
constexpr uint32_t kPfRgb = 0x40;
constexpr uint32_t kCaps2Volume = 0x200000;

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

// Spreads a masked channel to 0..255.
struct Channel {
    uint32_t mask = 0, shift = 0, maxValue = 0;
    explicit Channel(uint32_t m) : mask(m) {
        if (m == 0) return;
        shift = uint32_t(std::countr_zero(m));
        maxValue = m >> shift;
        // A mask with holes is taken by its lowest run of bits.
        if ((maxValue & (maxValue + 1)) != 0)
            maxValue = uint32_t((uint64_t(1) << std::countr_one(maxValue)) - 1);
    }
    uint32_t get(uint32_t pixel, uint32_t absent) const {
        if (maxValue == 0) return absent;
        uint32_t v = (pixel >> shift) & maxValue;
        return maxValue == 255 ? v : uint32_t((uint64_t(v) * 255 + maxValue / 2) / maxValue);
    }
};

}  // namespace

bool readDdsInfo(const uint8_t* head, size_t headSize, uint64_t fileSize, ImageInfo* info) {
    DdsLayout L;
    if (!parseDds(head, headSize, fileSize, &L)) return false;
    info->width = L.width;
    info->height = L.height;
    info->depth = 1;
    info->mipLevels = 1;
    info->format = L.hasAlpha ? gfx::Format::A8R8G8B8 : gfx::Format::X8R8G8B8;
    info->resourceType = gfx::ResourceType::Texture;
    info->fileFormat = FileFormat::Dds;
    return true;
}

bool decodeDds(const uint8_t* data, size_t size, Bitmap* out) {
    DdsLayout L;
    if (!parseDds(data, size, size, &L)) return false;
    const uint8_t* src = data + kDdsHeaderBytes;
    out->width = L.width;
    out->height = L.height;
    out->pixels.assign(size_t(L.width) * L.height, 0);
    if (L.kind != DdsKind::Rgb) {
        int flags = L.kind == DdsKind::Bc1 ? squish::kDxt1 : L.kind == DdsKind::Bc2 ? squish::kDxt3 : squish::kDxt5;
        std::vector<uint8_t> rgba(size_t(L.width) * L.height * 4);
        squish::DecompressImage(rgba.data(), int(L.width), int(L.height), src, flags);
        for (size_t i = 0; i < out->pixels.size(); ++i) {
            const uint8_t* p = &rgba[i * 4];
            out->pixels[i] = uint32_t(p[3]) << 24 | uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
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
