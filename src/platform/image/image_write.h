// Writing bitmaps in the picture types the saver reads (sample pictures, test
// fixtures, frame dumps). All return true when the file was written completely.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/image/image.h"

namespace gx::image {

bool writePng(const std::string& path, const Bitmap& bitmap);

// A frame dump: X8R8G8B8 pixels, rows `pitch` pixels apart, as an RGB PNG compressed at
// zlib's fastest level (a 1600x1200 frame in milliseconds, not the ~100 ms of the
// default level). The picture is the same as writePng's; only the file is larger.
bool writeFramePng(const std::string& path, const uint32_t* pixels, uint32_t width, uint32_t height,
                   size_t pitch);
bool writeBmp(const std::string& path, const Bitmap& bitmap, bool withAlpha = false);
bool writeTga(const std::string& path, const Bitmap& bitmap, bool withAlpha = false);
bool writeJpg(const std::string& path, const Bitmap& bitmap, int quality = 90);
bool writeHdr(const std::string& path, const Bitmap& bitmap);
bool writePpm(const std::string& path, const Bitmap& bitmap);
bool writePfm(const std::string& path, const Bitmap& bitmap, bool grey = false,
              bool littleEndian = true);

enum class DdsEncoding { Bc1, Bc2, Bc3, Rgb24, Argb32 };
bool writeDds(const std::string& path, const Bitmap& bitmap, DdsEncoding encoding);

// An APP1 EXIF block with an orientation tag, put right after a JPEG's start marker.
bool addJpegOrientation(const std::string& path, int orientation);

}  // namespace gx::image
