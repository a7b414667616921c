// Netpbm pictures, our own reader: P1 and P4 (bitmaps, 1 is black), P2 and P5 (grey),
// P3 and P6 (colour), plain text or binary, any maximum value from 1 to 65535 (two
// bytes a sample above 255, most significant first), scaled to 0..255 rounded.
#include <vector>

#include "platform/image/formats.h"

namespace gx::image {
namespace {

struct PnmLayout {
    int kind = 0;  // 1 to 6
    uint32_t width = 0, height = 0, maxValue = 1;
    uint64_t dataOffset = 0;
};

bool isSpace(uint8_t c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// Reads plain-text numbers with whitespace and '#' comments between them.
struct TextReader {
    const uint8_t* d;
    size_t n, at;
    void skipSpace() {
        while (at < n) {
            if (d[at] == '#') {
                while (at < n && d[at] != '\n' && d[at] != '\r') ++at;
            } else if (isSpace(d[at])) {
                ++at;
            } else {
                break;
            }
        }
    }
    // A number of at most max; false when there is none or it is larger.
    bool number(uint32_t max, uint32_t* v) {
        skipSpace();
        uint64_t value = 0;
        size_t start = at;
        while (at < n && d[at] >= '0' && d[at] <= '9') {
            value = value * 10 + (d[at++] - '0');
            if (value > max) return false;
        }
        *v = uint32_t(value);
        return at > start;
    }
};

bool binary(int kind) { return kind >= 4; }
bool bitmap(int kind) { return kind == 1 || kind == 4; }
int channels(int kind) { return kind == 3 || kind == 6 ? 3 : 1; }

uint64_t binaryBytes(const PnmLayout& L) {
    if (L.kind == 4) return uint64_t((L.width + 7) / 8) * L.height;
    return uint64_t(L.width) * L.height * uint64_t(channels(L.kind)) * (L.maxValue > 255 ? 2 : 1);
}

constexpr size_t kHeaderBytes = 64 * 1024;  // room for long comments

bool readLayout(const Bytes& in, PnmLayout* L) {
    const std::vector<uint8_t> head = in.take(0, kHeaderBytes);
    if (head.size() < 3 || head[0] != 'P' || head[1] < '1' || head[1] > '6' || !isSpace(head[2]))
        return false;
    L->kind = head[1] - '0';
    TextReader r{head.data(), head.size(), 2};
    if (!r.number(kMaxDimension, &L->width) || !r.number(kMaxDimension, &L->height)) return false;
    if (!bitmap(L->kind) && !r.number(65535, &L->maxValue)) return false;
    if (L->maxValue == 0 || !sizeAcceptable(L->width, L->height)) return false;
    if (binary(L->kind)) {
        // Exactly one whitespace byte ends the header.
        if (r.at >= head.size() || !isSpace(head[r.at])) return false;
        L->dataOffset = r.at + 1;
        return in.size >= L->dataOffset && in.size - L->dataOffset >= binaryBytes(*L);
    }
    L->dataOffset = r.at;
    return true;
}

}  // namespace

bool readPnmInfo(const Bytes& in, ImageInfo* info) {
    PnmLayout L;
    if (!readLayout(in, &L)) return false;
    describe(info, L.width, L.height, false);
    return true;
}

bool decodePnm(const Bytes& in, Bitmap* out) {
    PnmLayout L;
    if (!in.data || !readLayout(in, &L) || !allocateBitmap(out, L.width, L.height)) return false;
    // Every sample value to 0..255, rounded; larger values than the maximum count as it.
    std::vector<uint8_t> scale(size_t(L.maxValue) + 1);
    for (uint32_t v = 0; v <= L.maxValue; ++v)
        scale[v] = uint8_t((uint64_t(v) * 255 + L.maxValue / 2) / L.maxValue);
    const uint8_t* d = in.data + L.dataOffset;
    const size_t n = size_t(in.size - L.dataOffset);
    const int c = channels(L.kind);
    const size_t count = size_t(L.width) * L.height;
    if (L.kind == 4) {
        const size_t rowBytes = (L.width + 7) / 8;
        for (uint32_t y = 0; y < L.height; ++y)
            for (uint32_t x = 0; x < L.width; ++x)
                out->pixels[size_t(y) * L.width + x] =
                    (d[y * rowBytes + x / 8] >> (7 - x % 8)) & 1 ? 0xFF000000u : 0xFFFFFFFFu;
    } else if (L.kind == 1) {
        // Plain bitmaps may run their digits together.
        TextReader r{d, n, 0};
        for (size_t i = 0; i < count; ++i) {
            r.skipSpace();
            if (r.at >= n || (d[r.at] != '0' && d[r.at] != '1')) return false;
            out->pixels[i] = d[r.at++] == '1' ? 0xFF000000u : 0xFFFFFFFFu;
        }
    } else if (binary(L.kind)) {
        const bool wide = L.maxValue > 255;
        const size_t step = wide ? 2 : 1;
        for (size_t i = 0; i < count; ++i) {
            uint32_t s[3];
            for (int k = 0; k < c; ++k) {
                const uint8_t* p = d + (i * size_t(c) + size_t(k)) * step;
                s[k] = scale[std::min<uint32_t>(wide ? be16(p) : *p, L.maxValue)];
            }
            out->pixels[i] = c == 3 ? argb(255, s[0], s[1], s[2]) : argb(255, s[0], s[0], s[0]);
        }
    } else {
        TextReader r{d, n, 0};
        for (size_t i = 0; i < count; ++i) {
            uint32_t s[3];
            for (int k = 0; k < c; ++k) {
                if (!r.number(0xFFFFFFFFu, &s[k])) return false;
                s[k] = scale[std::min(s[k], L.maxValue)];
            }
            out->pixels[i] = c == 3 ? argb(255, s[0], s[1], s[2]) : argb(255, s[0], s[0], s[0]);
        }
    }
    return true;
}

}  // namespace gx::image
