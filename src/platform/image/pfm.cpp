// Portable float maps: colour ("PF") or grey ("Pf"), either byte order (the sign of
// the scale), rows stored bottom to top. Values are clamped to 0..1 and quantised.
#include "platform/image/formats.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

namespace gx::image {
namespace {

struct PfmLayout {
    uint32_t width = 0, height = 0, channels = 0;
    bool littleEndian = false;
    size_t dataOffset = 0;
};

bool isSpace(uint8_t c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// Reads one whitespace-delimited token starting at *pos (after skipping whitespace).
bool token(const uint8_t* d, size_t n, size_t* pos, std::string* out) {
    size_t p = *pos;
    while (p < n && isSpace(d[p])) ++p;
    size_t start = p;
    while (p < n && !isSpace(d[p]) && p - start < 64) ++p;
    if (p == start || p >= n || !isSpace(d[p])) return false;
    out->assign(reinterpret_cast<const char*>(d + start), p - start);
    *pos = p;
    return true;
}

bool parseDimension(const std::string& t, uint32_t* v) {
    if (t.empty() || t.size() > 9) return false;
    for (char c : t)
        if (c < '0' || c > '9') return false;
    unsigned long value = std::strtoul(t.c_str(), nullptr, 10);
    if (value == 0 || value > kMaxDimension) return false;
    *v = uint32_t(value);
    return true;
}

bool parsePfm(const uint8_t* d, size_t n, uint64_t fileSize, PfmLayout* L) {
    if (n < 3 || d[0] != 'P' || (d[1] != 'F' && d[1] != 'f') || !isSpace(d[2])) return false;
    L->channels = d[1] == 'F' ? 3 : 1;
    size_t pos = 2;
    std::string w, h, scale;
    if (!token(d, n, &pos, &w) || !token(d, n, &pos, &h) || !token(d, n, &pos, &scale))
        return false;
    if (!parseDimension(w, &L->width) || !parseDimension(h, &L->height)) return false;
    char* end = nullptr;
    double s = std::strtod(scale.c_str(), &end);
    if (end != scale.c_str() + scale.size() || !std::isfinite(s) || s == 0.0) return false;
    L->littleEndian = s < 0.0;
    L->dataOffset = pos + 1;  // exactly one whitespace byte ends the header
    uint64_t bytes = uint64_t(L->width) * L->height * L->channels * 4;
    return fileSize >= L->dataOffset + bytes;
}

float readFloat(const uint8_t* p, bool littleEndian) {
    uint32_t v =
        littleEndian
            ? uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24
            : uint32_t(p[3]) | uint32_t(p[2]) << 8 | uint32_t(p[1]) << 16 | uint32_t(p[0]) << 24;
    float f;
    std::memcpy(&f, &v, 4);
    return f;
}

}  // namespace

uint8_t quantiseChannel(float value) {
    if (!(value > 0.0f)) return 0;  // NaN too
    if (value >= 1.0f) return 255;
    return uint8_t(value * 255.0f + 0.5f);
}

bool readPfmInfo(const Bytes& in, ImageInfo* info) {
    PfmLayout L;
    const std::vector<uint8_t> head = in.take(0, 512);
    if (!parsePfm(head.data(), head.size(), in.size, &L)) return false;
    describe(info, L.width, L.height, false);
    return true;
}

bool decodePfm(const Bytes& in, Bitmap* out) {
    PfmLayout L;
    if (!in.data || !parsePfm(in.data, size_t(in.size), in.size, &L) ||
        !allocateBitmap(out, L.width, L.height))
        return false;
    const uint8_t* data = in.data;
    size_t rowBytes = size_t(L.width) * L.channels * 4;
    for (uint32_t y = 0; y < L.height; ++y) {
        // Stored bottom row first.
        const uint8_t* row = data + L.dataOffset + rowBytes * (L.height - 1 - y);
        for (uint32_t x = 0; x < L.width; ++x) {
            const uint8_t* p = row + size_t(x) * L.channels * 4;
            uint32_t r = quantiseChannel(readFloat(p, L.littleEndian));
            uint32_t g = r, b = r;
            if (L.channels == 3) {
                g = quantiseChannel(readFloat(p + 4, L.littleEndian));
                b = quantiseChannel(readFloat(p + 8, L.littleEndian));
            }
            out->at(x, y) = 0xFF000000u | r << 16 | g << 8 | b;
        }
    }
    return true;
}

}  // namespace gx::image
