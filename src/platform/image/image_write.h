// Writing bitmaps in the picture types the saver reads (sample pictures, test
// fixtures, frame dumps). All return true when the file was written completely.
#pragma once

#include <string>

#include "platform/image/image.h"

namespace gx::image {

bool writePng(const std::string& path, const Bitmap& bitmap);
bool writeBmp(const std::string& path, const Bitmap& bitmap, bool withAlpha = false);
bool writeTga(const std::string& path, const Bitmap& bitmap, bool withAlpha = false);
bool writeJpg(const std::string& path, const Bitmap& bitmap, int quality = 90);
bool writeHdr(const std::string& path, const Bitmap& bitmap);
bool writePpm(const std::string& path, const Bitmap& bitmap);
bool writePfm(const std::string& path, const Bitmap& bitmap, bool grey = false, bool littleEndian = true);

enum class DdsEncoding { Bc1, Bc2, Bc3, Rgb24, Argb32 };
bool writeDds(const std::string& path, const Bitmap& bitmap, DdsEncoding encoding);

// An APP1 EXIF block with an orientation tag, put right after a JPEG's start marker.
bool addJpegOrientation(const std::string& path, int orientation);

}  // namespace gx::image
