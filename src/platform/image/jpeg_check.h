// JPEG scans are checked before stb_image decodes them: a scan that names a Huffman or
// quantisation table no segment has defined makes stb_image read tables it never filled
// (uninitialised memory), so such a file would show garbage that changes between runs.
#pragma once

#include <cstddef>
#include <cstdint>

namespace gx::image {

// False when a scan uses a table not defined before it. Other damage is left to the
// decoder.
bool jpegTablesDefined(const uint8_t* data, size_t size);

}  // namespace gx::image
