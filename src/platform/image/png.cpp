// PNG through libpng. The description comes from our walk over the chunks (the header,
// whether a tRNS chunk gives transparency, the eXIf chunk wherever it lies); libpng
// reads the pixels, converted to 8-bit BGRA in place.
#include <png.h>
#include <zlib.h>

#include <csetjmp>
#include <cstring>
#include <vector>

#include "platform/image/exif_orientation.h"
#include "platform/image/formats.h"

namespace gx::image {
namespace {

struct PngLayout {
    uint32_t width = 0, height = 0;
    uint8_t bitDepth = 0, colourType = 0;
    bool transparency = false;
    int orientation = 1;
};

constexpr uint32_t kMaxExifBytes = 1u << 20;

bool isType(const uint8_t* header, const char* type) {
    return std::memcmp(header + 4, type, 4) == 0;
}

bool walkChunks(const Bytes& in, PngLayout* L) {
    uint8_t head[33];
    if (!in.read(0, head, sizeof head) || std::memcmp(head, "\x89PNG\r\n\x1a\n", 8) != 0 ||
        be32(head + 8) != 13 || !isType(head + 8, "IHDR"))
        return false;
    L->width = be32(head + 16);
    L->height = be32(head + 20);
    L->bitDepth = head[24];
    L->colourType = head[25];
    if (!sizeAcceptable(L->width, L->height)) return false;
    bool pixelsSeen = false, exifSeen = false;
    for (uint64_t at = 33; at + 8 <= in.size;) {
        uint8_t header[8];
        if (!in.read(at, header, 8)) break;
        const uint32_t length = be32(header);
        if (length > 0x7FFFFFFFu || isType(header, "IEND")) break;
        if (isType(header, "IDAT")) {
            pixelsSeen = true;
            if (exifSeen) break;  // nothing after the pixels matters then
        } else if (isType(header, "tRNS") && !pixelsSeen) {
            L->transparency = true;
        } else if (isType(header, "eXIf") && !exifSeen && length <= kMaxExifBytes) {
            // Checked like libpng checks an ancillary chunk: a damaged one is ignored.
            std::vector<uint8_t> chunk(size_t(length) + 8);
            if (in.read(at + 4, chunk.data(), chunk.size()) &&
                crc32(0, chunk.data(), uInt(length + 4)) == be32(&chunk[length + 4])) {
                exifSeen = true;
                L->orientation = exifOrientation(chunk.data() + 4, length);
            }
        }
        at += uint64_t(length) + 12;
    }
    return true;
}

struct Reader {
    const uint8_t* data;
    size_t size, at;
};

void readData(png_structp png, png_bytep out, size_t n) {
    auto* r = static_cast<Reader*>(png_get_io_ptr(png));
    if (n > r->size - r->at) png_error(png, "truncated");
    std::memcpy(out, r->data + r->at, n);
    r->at += n;
}

[[noreturn]] void onError(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void onWarning(png_structp, png_const_charp) {}

// All C++ objects live before the setjmp, so the jump back skips no destructor.
bool readPixels(const Bytes& in, const PngLayout& L, Bitmap* out) {
    Reader reader{in.data, size_t(in.size), 0};
    std::vector<png_bytep> rows;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, onError, onWarning);
    if (!png) return false;
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        return false;
    }
    png_set_read_fn(png, &reader, readData);
    png_set_user_limits(png, kMaxDimension, kMaxDimension);
    png_read_info(png, info);
    png_uint_32 width = 0, height = 0;
    int depth = 0, colour = 0, interlace = 0;
    png_get_IHDR(png, info, &width, &height, &depth, &colour, &interlace, nullptr, nullptr);
    if (width != L.width || height != L.height) png_error(png, "header");
    const bool transparency = png_get_valid(png, info, PNG_INFO_tRNS) != 0;
    if (colour == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
    if (colour == PNG_COLOR_TYPE_GRAY && depth < 8) png_set_expand_gray_1_2_4_to_8(png);
    if (transparency) png_set_tRNS_to_alpha(png);
    if (depth == 16) png_set_scale_16(png);  // rounded, not cut
    if (colour == PNG_COLOR_TYPE_GRAY || colour == PNG_COLOR_TYPE_GRAY_ALPHA)
        png_set_gray_to_rgb(png);
    png_set_bgr(png);
    if (!(colour & PNG_COLOR_MASK_ALPHA) && !transparency)
        png_set_filler(png, 0xFF, PNG_FILLER_AFTER);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    if (png_get_rowbytes(png, info) != size_t(width) * 4) png_error(png, "layout");
    bool allocated = false;
    try {
        allocated = allocateBitmap(out, width, height);
        if (allocated) rows.resize(height);
    } catch (...) {
        png_destroy_read_struct(&png, &info, nullptr);
        throw;
    }
    if (!allocated) png_error(png, "size");
    for (uint32_t y = 0; y < height; ++y)
        rows[y] = reinterpret_cast<png_bytep>(&out->pixels[size_t(y) * width]);
    png_read_image(png, rows.data());
    png_destroy_read_struct(&png, &info, nullptr);
    return true;
}

}  // namespace

bool readPngInfo(const Bytes& in, ImageInfo* info) {
    PngLayout L;
    if (!walkChunks(in, &L)) return false;
    describe(info, L.width, L.height, (L.colourType & PNG_COLOR_MASK_ALPHA) || L.transparency,
             L.orientation);
    return true;
}

bool decodePng(const Bytes& in, Bitmap* out) {
    PngLayout L;
    if (!in.data || !walkChunks(in, &L) || !readPixels(in, L, out)) return false;
    applyOrientation(out, L.orientation);
    return true;
}

}  // namespace gx::image
