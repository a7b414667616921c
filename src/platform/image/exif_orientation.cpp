// EXIF orientation through libexif.
#include "platform/image/exif_orientation.h"

#include <libexif/exif-data.h>

#include <cstring>
#include <utility>
#include <vector>

namespace gx::image {

int exifOrientation(const uint8_t* block, size_t size) {
    static const uint8_t kHeader[6] = {'E', 'x', 'i', 'f', 0, 0};
    if (!block || size < 8 || size > 0xFFFF0000u) return 1;
    std::vector<uint8_t> withHeader;
    if (std::memcmp(block, kHeader, 6) != 0) {
        // libexif looks for the header, as in a JPEG segment.
        withHeader.assign(kHeader, kHeader + 6);
        withHeader.insert(withHeader.end(), block, block + size);
        block = withHeader.data();
        size = withHeader.size();
    }
    ExifData* exif = exif_data_new_from_data(block, unsigned(size));
    if (!exif) return 1;
    int orientation = 1;
    ExifEntry* entry = exif_data_get_entry(exif, EXIF_TAG_ORIENTATION);
    if (entry && entry->format == EXIF_FORMAT_SHORT && entry->components >= 1 && entry->size >= 2) {
        int v = exif_get_short(entry->data, exif_data_get_byte_order(exif));
        if (v >= 1 && v <= 8) orientation = v;
    }
    exif_data_unref(exif);
    return orientation;
}

void applyOrientation(Bitmap* bitmap, int orientation) {
    if (orientation < 2 || orientation > 8) return;
    const int64_t w = bitmap->width, h = bitmap->height;
    // Where the pixel shown at (0, 0) is stored, and how far a step right (dx) and a
    // step down (dy) move in the stored pixels.
    int64_t base = 0, dx = 1, dy = w;
    switch (orientation) {
    case 2:
        base = w - 1;
        dx = -1;
        dy = w;
        break;  // mirrored left to right
    case 3:
        base = (h - 1) * w + w - 1;
        dx = -1;
        dy = -w;
        break;  // turned half round
    case 4:
        base = (h - 1) * w;
        dx = 1;
        dy = -w;
        break;  // mirrored top to bottom
    case 5:
        base = 0;
        dx = w;
        dy = 1;
        break;  // transposed
    case 6:
        base = (h - 1) * w;
        dx = -w;
        dy = 1;
        break;  // stored turned left: turn right
    case 7:
        base = (h - 1) * w + w - 1;
        dx = -w;
        dy = -1;
        break;  // transversed
    case 8:
        base = w - 1;
        dx = w;
        dy = -1;
        break;  // stored turned right: turn left
    }
    const bool swap = orientationSwapsSides(orientation);
    Bitmap out;
    out.width = uint32_t(swap ? h : w);
    out.height = uint32_t(swap ? w : h);
    out.pixels.resize(bitmap->pixels.size());
    const uint32_t* src = bitmap->pixels.data();
    uint32_t* to = out.pixels.data();
    for (int64_t y = 0; y < int64_t(out.height); ++y) {
        int64_t at = base + y * dy;
        for (int64_t x = 0; x < int64_t(out.width); ++x, at += dx) *to++ = src[at];
    }
    *bitmap = std::move(out);
}

}  // namespace gx::image
