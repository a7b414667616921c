// DirectDraw Surface files: our own header reader, block decompression by libsquish.
// BC1, BC2 and BC3 (DXT1 to DXT5) and uncompressed 24- and 32-bit colour are read.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/image/image.h"

namespace gx::image {

constexpr size_t kDdsHeaderBytes = 128;  // magic plus the 124-byte header

// Checks the header and that the file is long enough for the top level.
bool readDdsInfo(const uint8_t* head, size_t headSize, uint64_t fileSize, ImageInfo* info);
bool decodeDds(const uint8_t* data, size_t size, Bitmap* out);

}  // namespace gx::image
