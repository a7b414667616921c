// Snapshot smoothing: two in-place box-filter passes in opposite directions.
#include "pictures/smoothing.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace gx {
namespace {

inline uint32_t* row(void* base, int pitch, int y) {
    return reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(base) + std::ptrdiff_t(pitch) * y);
}

// The new value of pixel (x, y); neighbours already replaced in this pass count with
// their new values, which is what smears the image along the pass direction.
inline uint32_t average(void* image, int pitch, int w, int rows, int x, int y) {
    uint32_t r = 0, g = 0, b = 0, count = 0;
    const int y0 = y > 0 ? y - 1 : 0, y1 = y + 1 < rows ? y + 1 : rows - 1;
    const int x0 = x > 0 ? x - 1 : 0, x1 = x + 1 < w ? x + 1 : w - 1;
    for (int yy = y0; yy <= y1; ++yy) {
        const uint32_t* line = row(image, pitch, yy);
        for (int xx = x0; xx <= x1; ++xx) {
            uint32_t p = line[xx];
            r += (p >> 16) & 0xFF;
            g += (p >> 8) & 0xFF;
            b += p & 0xFF;
            ++count;
        }
    }
    // The quotients are small enough that float division truncated equals integer division.
    return 0xFF000000u | (r / count) << 16 | (g / count) << 8 | (b / count);
}

}  // namespace

void smoothSnapshot(const void* source, int sourcePitch, void* destination, int destinationPitch,
                    int rowBytes, int rows) {
    if (!source || !destination || rowBytes <= 0 || rows <= 0) return;
    if (source != destination) {
        for (int y = 0; y < rows; ++y)
            std::memmove(row(destination, destinationPitch, y),
                         static_cast<const uint8_t*>(source) + std::ptrdiff_t(sourcePitch) * y,
                         size_t(rowBytes));
    }
    const int w = rowBytes / 4;
    if (w == 0) return;
    for (int y = 0; y < rows; ++y) {
        uint32_t* line = row(destination, destinationPitch, y);
        for (int x = 0; x < w; ++x) line[x] = average(destination, destinationPitch, w, rows, x, y);
    }
    for (int y = rows - 1; y >= 0; --y) {
        uint32_t* line = row(destination, destinationPitch, y);
        for (int x = w - 1; x >= 0; --x)
            line[x] = average(destination, destinationPitch, w, rows, x, y);
    }
}

}  // namespace gx
