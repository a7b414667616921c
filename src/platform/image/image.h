// Picture files: reading their description, decoding them to 32-bit pixels and turning
// them into textures of the software device. The file's content picks the decoder;
// its name only tells BMP from DIB.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/gfx/gfx.h"

namespace gx::image {

// The file kinds a picture may be: the first nine numbered as the extension library
// numbers them, the formats it never knew after them. Ppm stands for every Netpbm
// picture (PBM, PGM, PPM).
enum class FileFormat : uint32_t {
    Bmp = 0,
    Jpg = 1,
    Tga = 2,
    Png = 3,
    Dds = 4,
    Ppm = 5,
    Dib = 6,
    Hdr = 7,
    Pfm = 8,
    Gif = 9,
    Tiff = 10,
    Webp = 11,
    Heif = 12,
    Avif = 13,
    Jxl = 14
};

// Returned for a file that is not a readable picture (corrupt, truncated, unknown
// type, absurd size): such a file will never load, unlike one the device refused.
constexpr gfx::Result kInvalidData = int32_t(0x88760B59u);

struct ImageInfo {
    uint32_t width = 0;  // as shown, after the EXIF orientation
    uint32_t height = 0;
    uint32_t depth = 1;
    uint32_t mipLevels = 1;
    gfx::Format format = gfx::Format::Unknown;  // A8R8G8B8 when the file has alpha
    gfx::ResourceType resourceType = gfx::ResourceType::Texture;
    FileFormat fileFormat = FileFormat::Bmp;
};

// Packed 0xAARRGGBB pixels, rows top to bottom, no padding.
struct Bitmap {
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<uint32_t> pixels;
    uint32_t& at(uint32_t x, uint32_t y) { return pixels[size_t(y) * width + x]; }
    uint32_t at(uint32_t x, uint32_t y) const { return pixels[size_t(y) * width + x]; }
};

// Larger sides than this are taken for corrupt headers.
constexpr uint32_t kMaxDimension = 1u << 24;

// Reads only what the size needs (the header, and the orientation wherever the file
// keeps it): no pixels are decoded or allocated.
gfx::Result getImageInfoFromFile(const std::string& path, ImageInfo* info);

// Decodes the whole picture, orientation applied, reusing out's pixel storage when it
// is large enough. kInvalidData for anything unreadable (out is then left empty);
// kInvalidCall, before decoding, for a picture of more than 256 megapixels.
gfx::Result decodeImageFile(const std::string& path, Bitmap* out, ImageInfo* info = nullptr);

// A one-level texture holding the picture at its own size. width and height must be 0
// or the picture's own; format Unknown gives A8R8G8B8. Pixels equal to colourKey
// (when it is not 0) become 0x00000000. A picture over the device's maximum texture
// size is refused before it is decoded.
gfx::Result createTextureFromFile(gfx::Device* device, const std::string& path, uint32_t width,
                                  uint32_t height, uint32_t mipLevels, uint32_t usage,
                                  gfx::Format format, gfx::Pool pool, uint32_t colourKey,
                                  ImageInfo* srcInfo, gfx::TexturePtr* out);

// An empty one-level texture; checked against the device's limits first.
gfx::Result createTexture(gfx::Device* device, uint32_t width, uint32_t height, uint32_t mipLevels,
                          uint32_t usage, gfx::Format format, gfx::Pool pool, gfx::TexturePtr* out);

}  // namespace gx::image
