// The picture formats behind the image calls. Each has a pair: its Info reads the
// description (size as shown, after any orientation; alpha) from the bytes it needs;
// its Decode reads the whole picture, orientation applied, at exactly that size. Both
// return false for anything they cannot read.
#pragma once

#include <cstdint>

#include "platform/image/bytes.h"
#include "platform/image/image.h"

namespace gx::image {

// Fills width, height and format of info.
using InfoReader = bool (*)(const Bytes& in, ImageInfo* info);
using Decoder = bool (*)(const Bytes& in, Bitmap* out);

// libjpeg-turbo: baseline, progressive, restart markers, grey, RGB, CMYK and YCCK.
bool readJpegInfo(const Bytes& in, ImageInfo* info);
bool decodeJpeg(const Bytes& in, Bitmap* out);
// libpng: every bit depth and colour type, palettes, tRNS, interlace.
bool readPngInfo(const Bytes& in, ImageInfo* info);
bool decodePng(const Bytes& in, Bitmap* out);
// libwebp: lossy, lossless, alpha; the first frame of an animation.
bool readWebpInfo(const Bytes& in, ImageInfo* info);
bool decodeWebp(const Bytes& in, Bitmap* out);
// giflib: the first frame on its logical screen.
bool readGifInfo(const Bytes& in, ImageInfo* info);
bool decodeGif(const Bytes& in, Bitmap* out);
// libtiff: the first directory, through libtiff's RGBA reader.
bool readTiffInfo(const Bytes& in, ImageInfo* info);
bool decodeTiff(const Bytes& in, Bitmap* out);
// libheif: the primary image of a HEIF, HEIC or AVIF file, its transforms applied.
bool readHeifInfo(const Bytes& in, ImageInfo* info);
bool decodeHeif(const Bytes& in, Bitmap* out);
// libjxl: the first frame.
bool readJxlInfo(const Bytes& in, ImageInfo* info);
bool decodeJxl(const Bytes& in, Bitmap* out);
// Our own: PNM (P1 to P6, any maximum value), BMP/DIB, DDS, PFM.
bool readPnmInfo(const Bytes& in, ImageInfo* info);
bool decodePnm(const Bytes& in, Bitmap* out);
bool readBmpInfo(const Bytes& in, ImageInfo* info);
bool decodeBmp(const Bytes& in, Bitmap* out);
bool readDdsInfo(const Bytes& in, ImageInfo* info);
bool decodeDds(const Bytes& in, Bitmap* out);
bool readPfmInfo(const Bytes& in, ImageInfo* info);
bool decodePfm(const Bytes& in, Bitmap* out);
// stb_image, checked first where it would go wrong: Radiance HDR and Targa.
bool readHdrInfo(const Bytes& in, ImageInfo* info);
bool decodeHdr(const Bytes& in, Bitmap* out);
bool readTgaInfo(const Bytes& in, ImageInfo* info);
bool decodeTga(const Bytes& in, Bitmap* out);

// A side of this length or less, and no more than this many pixels in all, is a size
// any format may claim; larger is refused before a pixel is allocated.
constexpr uint64_t kMaxPixels = uint64_t(256) * 1024 * 1024;
inline bool sizeAcceptable(uint64_t width, uint64_t height) {
    return width > 0 && height > 0 && width <= kMaxDimension && height <= kMaxDimension;
}

// Sets width, height and format (A8R8G8B8 when alpha) of info; the size as stored,
// turned when the EXIF orientation (5 to 8) shows it turned a quarter.
inline void describe(ImageInfo* info, uint32_t width, uint32_t height, bool alpha,
                     int orientation = 1) {
    const bool swap = orientation >= 5 && orientation <= 8;
    info->width = swap ? height : width;
    info->height = swap ? width : height;
    info->format = alpha ? gfx::Format::A8R8G8B8 : gfx::Format::X8R8G8B8;
}

// The 8-bit value of a float channel: clamped to 0..1, rounded; NaN gives 0.
uint8_t quantiseChannel(float value);

// Allocates the bitmap (zeroed); false when the size is not acceptable.
bool allocateBitmap(Bitmap* out, uint32_t width, uint32_t height);

}  // namespace gx::image
