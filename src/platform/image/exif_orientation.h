// The EXIF orientation of JPEG pictures, read with libexif, and its application, so a
// photo taken upright shows upright.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/image/image.h"

namespace gx::image {

// 1 to 8 as EXIF numbers them; 1 (as stored) when there is no valid tag.
int jpegOrientation(const uint8_t* data, size_t size);
inline bool orientationSwapsSides(int orientation) { return orientation >= 5 && orientation <= 8; }
// Turns and mirrors the bitmap so that it shows as the orientation says.
void applyOrientation(Bitmap* bitmap, int orientation);

}  // namespace gx::image
