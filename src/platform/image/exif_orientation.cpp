// EXIF orientation through libexif.
#include "platform/image/exif_orientation.h"

#include <libexif/exif-data.h>

#include <utility>

namespace gx::image {

int jpegOrientation(const uint8_t* data, size_t size) {
    if (size < 4 || size > 0xFFFFFFFFu) return 1;
    ExifData* exif = exif_data_new_from_data(data, unsigned(size));
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
    const uint32_t w = bitmap->width, h = bitmap->height;
    const bool swap = orientationSwapsSides(orientation);
    Bitmap out;
    out.width = swap ? h : w;
    out.height = swap ? w : h;
    out.pixels.resize(bitmap->pixels.size());
    for (uint32_t y = 0; y < out.height; ++y) {
        for (uint32_t x = 0; x < out.width; ++x) {
            uint32_t sx = x, sy = y;
            switch (orientation) {
                case 2: sx = w - 1 - x; sy = y; break;          // mirrored left to right
                case 3: sx = w - 1 - x; sy = h - 1 - y; break;  // turned half round
                case 4: sx = x; sy = h - 1 - y; break;          // mirrored top to bottom
                case 5: sx = y; sy = x; break;                  // transposed
                case 6: sx = y; sy = h - 1 - x; break;          // stored turned left: turn right
                case 7: sx = w - 1 - y; sy = h - 1 - x; break;  // transversed
                case 8: sx = w - 1 - y; sy = x; break;          // stored turned right: turn left
            }
            out.at(x, y) = bitmap->at(sx, sy);
        }
    }
    *bitmap = std::move(out);
}

}  // namespace gx::image
