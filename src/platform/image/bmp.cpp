// Windows and OS/2 bitmaps, our own reader: 1, 2, 4 and 8 bits with a palette, RLE8
// and RLE4, 16 and 32 bits with or without bit fields (an alpha mask too), 24 bits;
// rows bottom-up or, with a negative height, top-down. Pixels that run-length data
// skips stay transparent; 32-bit pictures whose alpha is zero everywhere are opaque
// (most writers leave that byte unused).
#include <vector>

#include "platform/image/bitfields.h"
#include "platform/image/formats.h"

namespace gx::image {
namespace {

enum : uint32_t { kRgb = 0, kRle8 = 1, kRle4 = 2, kBitFields = 3, kAlphaBitFields = 6 };

struct BmpLayout {
    uint32_t width = 0, height = 0;
    bool topDown = false;
    uint32_t bits = 0, compression = kRgb;
    uint32_t masks[4] = {};  // red, green, blue, alpha
    uint32_t palette[256];
    uint64_t dataOffset = 0;
    uint64_t stride = 0;
};

bool readLayout(const Bytes& in, BmpLayout* L) {
    const std::vector<uint8_t> head = in.take(0, 14 + 124 + 16 + 256 * 4);
    if (head.size() < 26 || head[0] != 'B' || head[1] != 'M') return false;
    const uint8_t* h = head.data() + 14;
    const uint32_t headerSize = le32(h);
    int64_t width = 0, height = 0;
    if (headerSize == 12) {  // OS/2 1.x
        width = le16(h + 4);
        height = le16(h + 6);
        L->bits = le16(h + 10);
    } else if (headerSize == 40 || headerSize == 52 || headerSize == 56 || headerSize == 64 ||
               headerSize == 108 || headerSize == 124) {
        if (head.size() < 14 + size_t(headerSize)) return false;
        width = int32_t(le32(h + 4));
        height = int32_t(le32(h + 8));
        L->bits = le16(h + 14);
        L->compression = le32(h + 16);
        // OS/2 2.x numbers Huffman and RLE24 as 3 and 4: neither is read.
        if (headerSize == 64 && L->compression > kRle4) return false;
    } else {
        return false;
    }
    L->topDown = height < 0;
    if (height < 0) height = -height;
    if (width <= 0 || height <= 0 || !sizeAcceptable(uint64_t(width), uint64_t(height)))
        return false;
    L->width = uint32_t(width);
    L->height = uint32_t(height);

    const bool masked = L->compression == kBitFields || L->compression == kAlphaBitFields;
    switch (L->compression) {
    case kRgb: break;
    case kRle8:
        if (L->bits != 8 || L->topDown) return false;
        break;
    case kRle4:
        if (L->bits != 4 || L->topDown) return false;
        break;
    case kBitFields:
    case kAlphaBitFields:
        if (L->bits != 16 && L->bits != 32) return false;
        break;
    default: return false;
    }
    if (L->bits != 1 && L->bits != 2 && L->bits != 4 && L->bits != 8 && L->bits != 16 &&
        L->bits != 24 && L->bits != 32)
        return false;

    size_t paletteAt = 14 + headerSize;
    if (masked) {
        // Version 3 headers put the masks after themselves, later versions inside:
        // either way they start 40 bytes into the header.
        const size_t count = L->compression == kAlphaBitFields ? 4 : 3;
        const size_t at = 14 + 40;
        if (head.size() < at + 4 * count) return false;
        for (size_t i = 0; i < count; ++i) L->masks[i] = le32(&head[at + 4 * i]);
        if (headerSize >= 56) L->masks[3] = le32(&head[14 + 52]);
        if (headerSize == 40) paletteAt += 4 * count;
        if (!L->masks[0] && !L->masks[1] && !L->masks[2]) return false;
    } else if (L->bits == 16) {
        L->masks[0] = 0x7C00, L->masks[1] = 0x03E0, L->masks[2] = 0x001F;
    } else if (L->bits == 32) {
        L->masks[0] = 0xFF0000, L->masks[1] = 0xFF00, L->masks[2] = 0xFF, L->masks[3] = 0xFF000000u;
    }

    for (uint32_t& p : L->palette) p = 0xFF000000u;
    if (L->bits <= 8) {
        const size_t entry = headerSize == 12 ? 3 : 4;
        size_t count = size_t(1) << L->bits;
        if (headerSize >= 40 && le32(h + 32) != 0) count = std::min<size_t>(count, le32(h + 32));
        for (size_t i = 0; i < count && paletteAt + entry * (i + 1) <= head.size(); ++i) {
            const uint8_t* p = &head[paletteAt + entry * i];
            L->palette[i] = argb(255, p[2], p[1], p[0]);
        }
    }
    L->dataOffset = le32(head.data() + 10);
    L->stride = (uint64_t(L->width) * L->bits + 31) / 32 * 4;
    if (L->dataOffset >= in.size) return false;
    if (L->compression == kRle8 || L->compression == kRle4) return true;
    return in.size - L->dataOffset >= L->stride * L->height;
}

bool hasAlpha(const BmpLayout& L) {
    return L.masks[3] != 0 || L.compression == kRle8 || L.compression == kRle4;
}

// Run-length data, rows from the bottom. False when it ends before the picture does.
bool decodeRle(const uint8_t* d, size_t n, const BmpLayout& L, Bitmap* out) {
    const bool four = L.compression == kRle4;
    uint64_t x = 0, row = 0;
    auto put = [&](uint32_t index) {
        if (x < L.width && row < L.height)
            out->pixels[size_t(L.height - 1 - row) * L.width + x] = L.palette[index];
        ++x;
    };
    size_t at = 0;
    while (row < L.height) {
        if (at + 2 > n) return false;
        const uint8_t count = d[at], value = d[at + 1];
        at += 2;
        if (count > 0) {  // a run
            for (uint32_t i = 0; i < count; ++i)
                put(four ? (i & 1 ? value & 15 : value >> 4) : value);
        } else if (value == 0) {  // end of line
            x = 0;
            ++row;
        } else if (value == 1) {  // end of bitmap
            return true;
        } else if (value == 2) {  // move right and up
            if (at + 2 > n) return false;
            x += d[at];
            row += d[at + 1];
            at += 2;
        } else {  // the next `value` pixels as they are, padded to a 16-bit boundary
            const size_t bytes = four ? (value + 1u) / 2 : value;
            if (at + bytes > n) return false;
            for (uint32_t i = 0; i < value; ++i)
                put(four ? (i & 1 ? d[at + i / 2] & 15 : d[at + i / 2] >> 4) : d[at + i]);
            at += bytes + (bytes & 1);
        }
    }
    return true;
}

}  // namespace

bool readBmpInfo(const Bytes& in, ImageInfo* info) {
    BmpLayout L;
    if (!readLayout(in, &L)) return false;
    describe(info, L.width, L.height, hasAlpha(L));
    return true;
}

bool decodeBmp(const Bytes& in, Bitmap* out) {
    BmpLayout L;
    if (!in.data || !readLayout(in, &L) || !allocateBitmap(out, L.width, L.height)) return false;
    const uint8_t* d = in.data + L.dataOffset;
    const size_t n = size_t(in.size - L.dataOffset);
    if (L.compression == kRle8 || L.compression == kRle4) return decodeRle(d, n, L, out);

    const Channel red(L.masks[0]), green(L.masks[1]), blue(L.masks[2]), alpha(L.masks[3]);
    bool anyAlpha = false;
    for (uint32_t r = 0; r < L.height; ++r) {
        const uint8_t* src = d + L.stride * r;
        uint32_t* to = &out->pixels[size_t(L.topDown ? r : L.height - 1 - r) * L.width];
        if (L.bits <= 8) {
            const uint32_t perByte = 8 / L.bits, mask = (1u << L.bits) - 1;
            for (uint32_t x = 0; x < L.width; ++x) {
                const uint32_t shift = 8 - L.bits * (x % perByte + 1);
                to[x] = L.palette[(src[x / perByte] >> shift) & mask];
            }
        } else if (L.bits == 24) {
            for (uint32_t x = 0; x < L.width; ++x, src += 3)
                to[x] = argb(255, src[2], src[1], src[0]);
        } else {
            for (uint32_t x = 0; x < L.width; ++x) {
                const uint32_t v = L.bits == 16 ? le16(src + 2 * x) : le32(src + 4 * x);
                const uint32_t a = alpha.get(v, 255);
                anyAlpha |= a != 0;
                to[x] = argb(a, red.get(v, 0), green.get(v, 0), blue.get(v, 0));
            }
        }
    }
    if (L.masks[3] != 0 && !anyAlpha)
        for (uint32_t& p : out->pixels) p |= 0xFF000000u;
    return true;
}

}  // namespace gx::image
