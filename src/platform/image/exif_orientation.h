// The EXIF orientation of photos, read with libexif from the EXIF block wherever a
// format keeps it (a JPEG's APP1 segment, a PNG's eXIf chunk, a WebP's EXIF chunk),
// and its application, so a photo taken upright shows upright.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/image/image.h"

namespace gx::image {

// 1 to 8 as EXIF numbers them; 1 (as stored) when there is no valid tag. The block is
// the TIFF structure, with or without the "Exif\0\0" that JPEG puts before it.
int exifOrientation(const uint8_t* block, size_t size);
inline bool orientationSwapsSides(int orientation) { return orientation >= 5 && orientation <= 8; }
// Turns and mirrors the bitmap so that it shows as the orientation says.
void applyOrientation(Bitmap* bitmap, int orientation);

}  // namespace gx::image
