// Radiance pictures. stb_image reads a missing byte as zero, and a zero count in its
// run-length loop makes no progress, so data that ends inside a scanline would keep it
// reading for ever. The data is walked here first, the same way, to refuse such files.
#pragma once

#include <cstddef>
#include <cstdint>

namespace gx::image {

// False when the run-length scanlines end before the picture does. Anything else
// (including headers the decoder will refuse itself) is left to the decoder.
bool hdrScanlinesComplete(const uint8_t* data, size_t size);

}  // namespace gx::image
