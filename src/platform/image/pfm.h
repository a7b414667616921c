// Portable float maps: colour ("PF") or grey ("Pf"), either byte order (the sign of
// the scale), rows stored bottom to top. Values are clamped to 0..1 and quantised.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/image/image.h"

namespace gx::image {

bool readPfmInfo(const uint8_t* head, size_t headSize, uint64_t fileSize, ImageInfo* info);
bool decodePfm(const uint8_t* data, size_t size, Bitmap* out);

// The 8-bit value of a float channel: clamped to 0..1, rounded; NaN gives 0.
uint8_t quantiseChannel(float value);

}  // namespace gx::image
