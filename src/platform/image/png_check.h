// PNG pixel data is checked with zlib before stb_image decodes it: stb_image's inflater
// takes the two distance codes deflate does not define as a distance of 0 and copies
// bytes it has not written yet, so a damaged file would show whatever the heap held
// (and decode differently from one call to the next).
#pragma once

#include <cstddef>
#include <cstdint>

namespace gx::image {

// False when the IDAT data is not a valid zlib stream (bad codes, bad distances, bad
// check value). A stream that merely ends early is left to the decoder.
bool pngDataInflates(const uint8_t* data, size_t size);

}  // namespace gx::image
