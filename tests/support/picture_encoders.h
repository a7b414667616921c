// Picture files of every format and variant the saver reads, made by the libraries the
// setup script installs (libjpeg-turbo, libpng, libwebp, giflib, libtiff, libheif,
// libjxl), so tests and benchmarks write their inputs instead of keeping binaries.
// Each encoder returns false when the library refused.
#pragma once

#include <gif_lib.h>
#include <jpeglib.h>
#include <jxl/encode.h>
#include <libheif/heif.h>
#include <png.h>
#include <tiffio.h>
#include <webp/encode.h>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "platform/image/image.h"

namespace gxtest {

using gx::image::Bitmap;

inline uint32_t red(uint32_t p) { return p >> 16 & 0xFF; }
inline uint32_t green(uint32_t p) { return p >> 8 & 0xFF; }
inline uint32_t blue(uint32_t p) { return p & 0xFF; }
inline uint32_t alpha(uint32_t p) { return p >> 24; }

inline bool writeBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    out.close();
    return bool(out);
}

// An all-zero picture of that size.
inline Bitmap blank(uint32_t w, uint32_t h) {
    Bitmap b;
    b.width = w;
    b.height = h;
    b.pixels.resize(size_t(w) * h);
    return b;
}

// A smooth, colourful picture (lossy coders keep it close); with alpha, a ramp of it.
inline Bitmap gradient(uint32_t w, uint32_t h, bool withAlpha = false) {
    Bitmap b = blank(w, h);
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x) {
            uint32_t r = w > 1 ? x * 255 / (w - 1) : 0, g = h > 1 ? y * 255 / (h - 1) : 0,
                     bl = (r + 2 * g) / 3;
            uint32_t a = withAlpha ? (x + y) * 255 / (w + h - 2 > 0 ? w + h - 2 : 1) : 255;
            b.at(x, y) = a << 24 | r << 16 | g << 8 | bl;
        }
    return b;
}

// At most `colours` distinct colours (for palette formats), in blocks.
inline Bitmap paletted(uint32_t w, uint32_t h, uint32_t colours = 16, bool withAlpha = false) {
    Bitmap b = blank(w, h);
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x) {
            uint32_t i = (x / 3 + y / 2 * 7) % colours;
            uint32_t a = withAlpha ? (i % 4) * 85 : 255;
            b.at(x, y) = a << 24 | ((i * 53 + 20) & 0xFF) << 16 | ((i * 97 + 5) & 0xFF) << 8 |
                         ((i * 31 + 200) & 0xFF);
        }
    return b;
}

// Grey levels only.
inline Bitmap greys(uint32_t w, uint32_t h, uint32_t levels = 256) {
    Bitmap b = blank(w, h);
    for (uint32_t i = 0; i < b.pixels.size(); ++i) {
        uint32_t v = (i * 37 % levels) * 255 / (levels - 1);
        b.pixels[i] = 0xFF000000u | v * 0x010101u;
    }
    return b;
}

// Four quadrants that differ strongly (red, blue / green, white), so lossy coding
// cannot confuse them and a turn or mirror shows at the corners.
inline Bitmap quadrants(uint32_t w, uint32_t h) {
    Bitmap b = blank(w, h);
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x)
            b.at(x, y) = x < w / 2 ? (y < h / 2 ? 0xFFFF0000u : 0xFF00FF00u)
                                   : (y < h / 2 ? 0xFF0000FFu : 0xFFFFFFFFu);
    return b;
}

// Every colour channel within `tolerance`.
inline bool near(uint32_t a, uint32_t b, int tolerance = 24) {
    for (int s = 0; s < 24; s += 8)
        if (std::abs(int((a >> s) & 0xFF) - int((b >> s) & 0xFF)) > tolerance) return false;
    return true;
}

// A TIFF structure holding one IFD with the orientation tag, as EXIF blocks are.
inline std::vector<uint8_t> exifBlock(int orientation, bool bigEndian = false) {
    if (bigEndian)
        return {'M',  'M',  0, 42, 0, 0, 0, 8, 0, 1,
                0x01, 0x12, 0, 3,  0, 0, 0, 1, 0, uint8_t(orientation),
                0,    0,    0, 0,  0, 0};
    return {'I', 'I', 42, 0, 8, 0, 0, 0, 1, 0, 0x12, 0x01, 3, 0, 1, 0, 0, 0, uint8_t(orientation),
            0,   0,   0,  0, 0, 0, 0};
}

// ---- JPEG ----

struct JpegOptions {
    int quality = 92;
    bool progressive = false;
    int restartRows = 0;  // a restart marker every this many MCU rows
    bool grey = false;
    bool cmyk = false;             // stored inverted, as Adobe writes it
    bool ycck = false;             // CMYK coded as YCCK
    int orientation = 0;           // an EXIF block when non-zero
    size_t paddingBeforeExif = 0;  // bytes of APP2 segments before it
};

namespace detail {
struct JpegErrors {
    jpeg_error_mgr pub;
    jmp_buf jump;
};
[[noreturn]] inline void jpegFail(j_common_ptr c) {
    longjmp(reinterpret_cast<JpegErrors*>(c->err)->jump, 1);
}
}  // namespace detail

inline bool encodeJpeg(const std::string& path, const Bitmap& b, const JpegOptions& o = {}) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    jpeg_compress_struct c;
    detail::JpegErrors errors;
    const int components = o.grey ? 1 : o.cmyk || o.ycck ? 4 : 3;
    std::vector<uint8_t> row(size_t(b.width) * size_t(components));
    std::vector<uint8_t> padding(65533, 'p'), exif;
    c.err = jpeg_std_error(&errors.pub);
    errors.pub.error_exit = detail::jpegFail;
    if (setjmp(errors.jump)) {
        jpeg_destroy_compress(&c);
        std::fclose(f);
        return false;
    }
    jpeg_create_compress(&c);
    jpeg_stdio_dest(&c, f);
    c.image_width = b.width;
    c.image_height = b.height;
    c.input_components = components;
    c.in_color_space = o.grey ? JCS_GRAYSCALE : components == 4 ? JCS_CMYK : JCS_RGB;
    jpeg_set_defaults(&c);
    if (o.ycck) jpeg_set_colorspace(&c, JCS_YCCK);
    jpeg_set_quality(&c, o.quality, TRUE);
    if (o.progressive) jpeg_simple_progression(&c);
    c.restart_in_rows = o.restartRows;
    jpeg_start_compress(&c, TRUE);
    for (size_t left = o.paddingBeforeExif; left > 0;) {
        const size_t n = std::min(left, padding.size());
        jpeg_write_marker(&c, JPEG_APP0 + 2, padding.data(), unsigned(n));
        left -= n;
    }
    if (o.orientation) {
        exif = {'E', 'x', 'i', 'f', 0, 0};
        const std::vector<uint8_t> tiff = exifBlock(o.orientation, true);
        exif.insert(exif.end(), tiff.begin(), tiff.end());
        jpeg_write_marker(&c, JPEG_APP0 + 1, exif.data(), unsigned(exif.size()));
    }
    while (c.next_scanline < c.image_height) {
        const uint32_t* src = &b.pixels[size_t(c.next_scanline) * b.width];
        for (uint32_t x = 0; x < b.width; ++x) {
            uint8_t* p = &row[size_t(x) * size_t(components)];
            const uint32_t r = red(src[x]), g = green(src[x]), bl = blue(src[x]);
            if (components == 1) {
                p[0] = uint8_t(g);
            } else if (components == 3) {
                p[0] = uint8_t(r), p[1] = uint8_t(g), p[2] = uint8_t(bl);
            } else {
                // Inverted CMYK: K' = max(R, G, B), C' = R / K' (and so on), so C' * K' = R.
                const uint32_t k = std::max({r, g, bl});
                p[0] = uint8_t(k ? (r * 255 + k / 2) / k : 0);
                p[1] = uint8_t(k ? (g * 255 + k / 2) / k : 0);
                p[2] = uint8_t(k ? (bl * 255 + k / 2) / k : 0);
                p[3] = uint8_t(k);
            }
        }
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&c, rows, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    return std::fclose(f) == 0;
}

// ---- PNG ----

struct PngOptions {
    int depth = 8;         // 1, 2, 4, 8 or 16
    bool palette = false;  // with a tRNS chunk when the picture has alpha
    bool grey = false;
    bool alpha = false;  // an alpha channel (or tRNS for palettes)
    bool interlace = false;
    int orientation = 0;  // an eXIf chunk when non-zero
    bool exifAfterPixels = false;
};

namespace detail {
[[noreturn]] inline void pngFail(png_structp png, png_const_charp) { png_longjmp(png, 1); }
}  // namespace detail

inline bool encodePng(const std::string& path, const Bitmap& b, const PngOptions& o = {}) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    png_structp png =
        png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, detail::pngFail, nullptr);
    png_infop info = png_create_info_struct(png);
    std::vector<png_color> palette;
    std::vector<png_byte> transparency;
    std::map<uint32_t, int> index;
    std::vector<std::vector<uint8_t>> rows(b.height);
    std::vector<png_bytep> rowPointers(b.height);
    std::vector<uint8_t> exif = exifBlock(o.orientation);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        std::fclose(f);
        return false;
    }
    png_init_io(png, f);
    const int type = o.palette ? PNG_COLOR_TYPE_PALETTE
                     : o.grey  ? (o.alpha ? PNG_COLOR_TYPE_GRAY_ALPHA : PNG_COLOR_TYPE_GRAY)
                               : (o.alpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB);
    png_set_IHDR(png, info, b.width, b.height, o.depth, type,
                 o.interlace ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (o.palette) {
        for (uint32_t p : b.pixels)
            if (index.emplace(p, int(index.size())).second) {
                palette.push_back({png_byte(red(p)), png_byte(green(p)), png_byte(blue(p))});
                transparency.push_back(png_byte(alpha(p)));
            }
        if (palette.size() > (size_t(1) << o.depth)) png_error(png, "too many colours");
        png_set_PLTE(png, info, palette.data(), int(palette.size()));
        if (o.alpha)
            png_set_tRNS(png, info, transparency.data(), int(transparency.size()), nullptr);
    }
    if (o.orientation && !o.exifAfterPixels)
        png_set_eXIf_1(png, info, png_uint_32(exif.size()), exif.data());
    png_write_info(png, info);
    const int channels = o.palette ? 1 : (o.grey ? 1 : 3) + (o.alpha ? 1 : 0);
    for (uint32_t y = 0; y < b.height; ++y) {
        std::vector<uint8_t>& row = rows[y];
        row.assign(size_t(b.width) * size_t(channels) * 2 + 8, 0);
        size_t bit = 0;
        auto put = [&](uint32_t v8) {
            if (o.depth == 16) {
                row[bit / 8] = uint8_t(v8), row[bit / 8 + 1] = uint8_t(v8);  // v * 257
            } else if (o.depth == 8) {
                row[bit / 8] = uint8_t(v8);
            } else {
                row[bit / 8] = uint8_t(row[bit / 8] | v8 << (8 - o.depth - bit % 8));
            }
            bit += size_t(o.depth);
        };
        for (uint32_t x = 0; x < b.width; ++x) {
            const uint32_t p = b.at(x, y);
            if (o.palette) {
                put(uint32_t(index[p]));
            } else if (o.grey) {
                put(o.depth < 8 ? green(p) >> (8 - o.depth) : green(p));
            } else {
                put(red(p)), put(green(p)), put(blue(p));
            }
            if (!o.palette && o.alpha) put(alpha(p));
        }
        rowPointers[y] = row.data();
    }
    png_write_image(png, rowPointers.data());
    if (o.orientation && o.exifAfterPixels)
        png_write_chunk(png, reinterpret_cast<png_const_bytep>("eXIf"), exif.data(), exif.size());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return std::fclose(f) == 0;
}

// ---- WebP ----

inline bool encodeWebp(const std::string& path, const Bitmap& b, bool lossless,
                       int orientation = 0) {
    uint8_t* out = nullptr;
    const auto* bgra = reinterpret_cast<const uint8_t*>(b.pixels.data());
    size_t n =
        lossless ? WebPEncodeLosslessBGRA(bgra, int(b.width), int(b.height), int(b.width * 4), &out)
                 : WebPEncodeBGRA(bgra, int(b.width), int(b.height), int(b.width * 4), 90.0f, &out);
    if (n == 0) return false;
    std::vector<uint8_t> file(out, out + n);
    WebPFree(out);
    if (orientation) {
        // The extended layout: a VP8X chunk naming the EXIF chunk that ends the file.
        auto put24 = [](std::vector<uint8_t>& v, uint32_t x) {
            for (int i = 0; i < 3; ++i) v.push_back(uint8_t(x >> (8 * i)));
        };
        auto put32 = [](std::vector<uint8_t>& v, uint32_t x) {
            for (int i = 0; i < 4; ++i) v.push_back(uint8_t(x >> (8 * i)));
        };
        std::vector<uint8_t> chunks;
        bool hasAlpha = false;
        for (uint32_t p : b.pixels) hasAlpha |= alpha(p) != 255;
        if (std::memcmp(&file[12], "VP8X", 4) == 0) {
            file[20] |= 0x08;
            chunks.assign(file.begin() + 12, file.end());
        } else {
            chunks = {'V', 'P', '8', 'X', 10, 0, 0, 0, uint8_t(0x08 | (hasAlpha ? 0x10 : 0)),
                      0,   0,   0};
            put24(chunks, b.width - 1);
            put24(chunks, b.height - 1);
            chunks.insert(chunks.end(), file.begin() + 12, file.end());
        }
        const std::vector<uint8_t> exif = exifBlock(orientation);
        chunks.insert(chunks.end(), {'E', 'X', 'I', 'F'});
        put32(chunks, uint32_t(exif.size()));
        chunks.insert(chunks.end(), exif.begin(), exif.end());
        if (exif.size() & 1) chunks.push_back(0);
        file = {'R', 'I', 'F', 'F'};
        put32(file, uint32_t(chunks.size() + 4));
        file.insert(file.end(), {'W', 'E', 'B', 'P'});
        file.insert(file.end(), chunks.begin(), chunks.end());
    }
    return writeBytes(path, file);
}

// An animation of same-sized lossless frames, laid out by hand: VP8X with the
// animation flag, ANIM, then one ANMF chunk a frame holding the frame's VP8L chunk.
inline bool encodeAnimatedWebp(const std::string& path, const std::vector<Bitmap>& frames) {
    auto put = [](std::vector<uint8_t>& v, uint32_t x, int bytes) {
        for (int i = 0; i < bytes; ++i) v.push_back(uint8_t(x >> (8 * i)));
    };
    const uint32_t w = frames.at(0).width, h = frames.at(0).height;
    std::vector<uint8_t> chunks = {'V', 'P', '8', 'X', 10, 0, 0, 0, 0x02 | 0x10, 0, 0, 0};
    put(chunks, w - 1, 3);
    put(chunks, h - 1, 3);
    chunks.insert(chunks.end(), {'A', 'N', 'I', 'M', 6, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    for (const Bitmap& f : frames) {
        uint8_t* out = nullptr;
        const size_t n =
            WebPEncodeLosslessBGRA(reinterpret_cast<const uint8_t*>(f.pixels.data()), int(f.width),
                                   int(f.height), int(f.width * 4), &out);
        if (n < 12) return false;
        const std::vector<uint8_t> image(out + 12, out + n);  // the VP8L chunk
        WebPFree(out);
        std::vector<uint8_t> frame;
        put(frame, 0, 3), put(frame, 0, 3), put(frame, f.width - 1, 3), put(frame, f.height - 1, 3);
        put(frame, 100, 3);     // duration
        frame.push_back(0x02);  // no blending
        frame.insert(frame.end(), image.begin(), image.end());
        chunks.insert(chunks.end(), {'A', 'N', 'M', 'F'});
        put(chunks, uint32_t(frame.size()), 4);
        chunks.insert(chunks.end(), frame.begin(), frame.end());
        if (frame.size() & 1) chunks.push_back(0);
    }
    std::vector<uint8_t> file = {'R', 'I', 'F', 'F'};
    put(file, uint32_t(chunks.size() + 4), 4);
    file.insert(file.end(), {'W', 'E', 'B', 'P'});
    file.insert(file.end(), chunks.begin(), chunks.end());
    return writeBytes(path, file);
}

// ---- GIF ----

struct GifFrame {
    Bitmap picture;  // at most 256 colours (255 with transparency)
    int left = 0, top = 0;
    bool interlace = false;
    bool transparentZeroAlpha = false;  // pixels of alpha 0 get the transparent index
};

inline bool encodeGif(const std::string& path, uint32_t screenWidth, uint32_t screenHeight,
                      const std::vector<GifFrame>& frames) {
    int error = 0;
    GifFileType* gif = EGifOpenFileName(path.c_str(), false, &error);
    if (!gif) return false;
    EGifSetGifVersion(gif, true);
    bool ok =
        EGifPutScreenDesc(gif, int(screenWidth), int(screenHeight), 8, 0, nullptr) != GIF_ERROR;
    for (const GifFrame& frame : frames) {
        const Bitmap& p = frame.picture;
        std::map<uint32_t, int> index;
        std::vector<GifColorType> colours;
        if (frame.transparentZeroAlpha) colours.push_back({0, 0, 0});
        for (uint32_t c : p.pixels)
            if (!(frame.transparentZeroAlpha && alpha(c) == 0) &&
                index.emplace(c, int(colours.size())).second)
                colours.push_back(
                    {GifByteType(red(c)), GifByteType(green(c)), GifByteType(blue(c))});
        if (colours.size() > 256) ok = false;
        colours.resize(256, {0, 0, 0});
        ColorMapObject* map = GifMakeMapObject(256, colours.data());
        if (frame.transparentZeroAlpha) {
            GifByteType control[4] = {1, 0, 0, 0};  // transparent index 0
            ok = ok && EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, 4, control) != GIF_ERROR;
        }
        ok = ok && EGifPutImageDesc(gif, frame.left, frame.top, int(p.width), int(p.height),
                                    frame.interlace, map) != GIF_ERROR;
        GifFreeMapObject(map);
        std::vector<GifPixelType> line(p.width);
        std::vector<uint32_t> order;
        if (frame.interlace) {
            for (auto [start, step] : {std::pair{0u, 8u}, {4u, 8u}, {2u, 4u}, {1u, 2u}})
                for (uint32_t y = start; y < p.height; y += step) order.push_back(y);
        } else {
            for (uint32_t y = 0; y < p.height; ++y) order.push_back(y);
        }
        for (uint32_t y : order) {
            for (uint32_t x = 0; x < p.width; ++x) {
                uint32_t c = p.at(x, y);
                line[x] = GifPixelType(frame.transparentZeroAlpha && alpha(c) == 0 ? 0 : index[c]);
            }
            ok = ok && EGifPutLine(gif, line.data(), int(p.width)) != GIF_ERROR;
        }
    }
    return EGifCloseFile(gif, &error) != GIF_ERROR && ok;
}

// ---- TIFF ----

struct TiffOptions {
    int bits = 8;        // 8 or 16
    bool tiles = false;  // 16 x 16 tiles instead of strips
    bool cmyk = false;
    bool palette = false;  // 8-bit indices into a colour map
    bool grey = false;
    bool alpha = false;  // unassociated alpha
    int orientation = 1;
    uint16_t compression = COMPRESSION_LZW;
};

inline bool encodeTiff(const std::string& path, const Bitmap& b, const TiffOptions& o = {}) {
    TIFF* t = TIFFOpen(path.c_str(), "w");
    if (!t) return false;
    const int samples = o.palette || o.grey ? 1 : o.cmyk ? 4 : 3 + (o.alpha ? 1 : 0);
    const int bits = o.palette ? 8 : o.bits;
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, b.width);
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, b.height);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, bits);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, samples);
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(t, TIFFTAG_COMPRESSION, o.compression);
    TIFFSetField(t, TIFFTAG_ORIENTATION, o.orientation);
    std::map<uint32_t, int> index;
    std::vector<uint16_t> map[3];
    if (o.palette) {
        TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_PALETTE);
        for (auto& m : map) m.assign(256, 0);
        for (uint32_t p : b.pixels)
            if (index.emplace(p, int(index.size())).second && index.size() <= 256) {
                const size_t i = index.size() - 1;
                map[0][i] = uint16_t(red(p) * 257), map[1][i] = uint16_t(green(p) * 257),
                map[2][i] = uint16_t(blue(p) * 257);
            }
        TIFFSetField(t, TIFFTAG_COLORMAP, map[0].data(), map[1].data(), map[2].data());
    } else if (o.cmyk) {
        TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_SEPARATED);
        TIFFSetField(t, TIFFTAG_INKSET, INKSET_CMYK);
    } else {
        TIFFSetField(t, TIFFTAG_PHOTOMETRIC, o.grey ? PHOTOMETRIC_MINISBLACK : PHOTOMETRIC_RGB);
    }
    if (o.alpha && !o.palette && !o.cmyk && !o.grey) {
        uint16_t extra = EXTRASAMPLE_UNASSALPHA;
        TIFFSetField(t, TIFFTAG_EXTRASAMPLES, 1, &extra);
    }
    // One stored sample of the pixel at (x, y).
    auto sample = [&](uint32_t x, uint32_t y, int s) -> uint32_t {
        const uint32_t p = b.at(x, y);
        if (o.palette) return uint32_t(index[p]);
        if (o.grey) return green(p);
        if (o.cmyk) {
            const uint32_t k = 255 - std::max({red(p), green(p), blue(p)});
            const uint32_t v = s == 0 ? red(p) : s == 1 ? green(p) : blue(p);
            // (255 - k) * (255 - c) / 255 = v
            return s == 3 ? k : k == 255 ? 0 : 255 - (v * 255 + (255 - k) / 2) / (255 - k);
        }
        return s == 0 ? red(p) : s == 1 ? green(p) : s == 2 ? blue(p) : alpha(p);
    };
    const size_t bytesPerSample = size_t(bits) / 8;
    bool ok = true;
    auto fill = [&](uint8_t* to, uint32_t x0, uint32_t y, uint32_t count) {
        for (uint32_t x = x0; x < x0 + count; ++x)
            for (int s = 0; s < samples; ++s) {
                const uint32_t v = x < b.width && y < b.height ? sample(x, y, s) : 0;
                if (bytesPerSample == 2) {
                    const uint16_t w = uint16_t(v * 257);
                    std::memcpy(to, &w, 2);
                } else {
                    *to = uint8_t(v);
                }
                to += bytesPerSample;
            }
    };
    if (o.tiles) {
        const uint32_t side = 16;
        TIFFSetField(t, TIFFTAG_TILEWIDTH, side);
        TIFFSetField(t, TIFFTAG_TILELENGTH, side);
        std::vector<uint8_t> tile(side * side * size_t(samples) * bytesPerSample);
        for (uint32_t ty = 0; ty < b.height; ty += side)
            for (uint32_t tx = 0; tx < b.width; tx += side) {
                for (uint32_t y = 0; y < side; ++y)
                    fill(&tile[y * side * size_t(samples) * bytesPerSample], tx, ty + y, side);
                ok = ok && TIFFWriteTile(t, tile.data(), tx, ty, 0, 0) >= 0;
            }
    } else {
        TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, 7);
        std::vector<uint8_t> row(size_t(b.width) * size_t(samples) * bytesPerSample);
        for (uint32_t y = 0; y < b.height; ++y) {
            fill(row.data(), 0, y, b.width);
            ok = ok && TIFFWriteScanline(t, row.data(), y, 0) >= 0;
        }
    }
    TIFFClose(t);
    return ok;
}

// ---- HEIF (HEVC) and AVIF (AV1) ----

inline bool heifEncoderAvailable(bool av1) {
    return heif_have_encoder_for_format(av1 ? heif_compression_AV1 : heif_compression_HEVC) != 0;
}

inline bool encodeHeif(const std::string& path, const Bitmap& b, bool av1, int quality = 90,
                       int orientation = 1) {
    heif_context* context = heif_context_alloc();
    heif_encoder* encoder = nullptr;
    bool ok = heif_context_get_encoder_for_format(
                  context, av1 ? heif_compression_AV1 : heif_compression_HEVC, &encoder)
                  .code == heif_error_Ok;
    bool hasAlpha = false;
    for (uint32_t p : b.pixels) hasAlpha |= alpha(p) != 255;
    heif_image* image = nullptr;
    if (ok) {
        heif_encoder_set_lossy_quality(encoder, quality);
        // The fastest settings: the tests and benchmarks measure decoding.
        heif_encoder_set_parameter_string(encoder, av1 ? "speed" : "preset",
                                          av1 ? "9" : "ultrafast");
        ok = heif_image_create(
                 int(b.width), int(b.height), heif_colorspace_RGB,
                 hasAlpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB, &image)
                     .code == heif_error_Ok &&
             heif_image_add_plane(image, heif_channel_interleaved, int(b.width), int(b.height), 8)
                     .code == heif_error_Ok;
    }
    if (ok) {
        int stride = 0;
        uint8_t* plane = heif_image_get_plane(image, heif_channel_interleaved, &stride);
        for (uint32_t y = 0; y < b.height; ++y)
            for (uint32_t x = 0; x < b.width; ++x) {
                uint8_t* p = plane + size_t(y) * size_t(stride) + x * (hasAlpha ? 4 : 3);
                const uint32_t c = b.at(x, y);
                p[0] = uint8_t(red(c)), p[1] = uint8_t(green(c)), p[2] = uint8_t(blue(c));
                if (hasAlpha) p[3] = uint8_t(alpha(c));
            }
        heif_encoding_options* options = heif_encoding_options_alloc();
        options->image_orientation = heif_orientation(orientation);
        ok = heif_context_encode_image(context, image, encoder, options, nullptr).code ==
                 heif_error_Ok &&
             heif_context_write_to_file(context, path.c_str()).code == heif_error_Ok;
        heif_encoding_options_free(options);
    }
    if (image) heif_image_release(image);
    if (encoder) heif_encoder_release(encoder);
    heif_context_free(context);
    return ok;
}

// ---- JPEG XL ----

inline bool encodeJxl(const std::string& path, const Bitmap& b, bool lossless,
                      int orientation = 1) {
    JxlEncoder* encoder = JxlEncoderCreate(nullptr);
    bool hasAlpha = false;
    for (uint32_t p : b.pixels) hasAlpha |= alpha(p) != 255;
    JxlBasicInfo info;
    JxlEncoderInitBasicInfo(&info);
    info.xsize = b.width;
    info.ysize = b.height;
    info.bits_per_sample = 8;
    info.num_color_channels = 3;
    info.num_extra_channels = hasAlpha ? 1 : 0;
    info.alpha_bits = hasAlpha ? 8 : 0;
    info.uses_original_profile = lossless ? JXL_TRUE : JXL_FALSE;
    info.orientation = JxlOrientation(orientation);
    JxlColorEncoding colour;
    JxlColorEncodingSetToSRGB(&colour, JXL_FALSE);
    bool ok = JxlEncoderSetBasicInfo(encoder, &info) == JXL_ENC_SUCCESS &&
              JxlEncoderSetColorEncoding(encoder, &colour) == JXL_ENC_SUCCESS;
    JxlEncoderFrameSettings* settings = JxlEncoderFrameSettingsCreate(encoder, nullptr);
    ok = ok && settings &&
         JxlEncoderFrameSettingsSetOption(settings, JXL_ENC_FRAME_SETTING_EFFORT, 3) ==
             JXL_ENC_SUCCESS;
    ok = ok && (lossless ? JxlEncoderSetFrameLossless(settings, JXL_TRUE)
                         : JxlEncoderSetFrameDistance(settings, 1.0f)) == JXL_ENC_SUCCESS;
    std::vector<uint8_t> rgba;
    for (uint32_t p : b.pixels) {
        rgba.insert(rgba.end(), {uint8_t(red(p)), uint8_t(green(p)), uint8_t(blue(p))});
        if (hasAlpha) rgba.push_back(uint8_t(alpha(p)));
    }
    const JxlPixelFormat format = {hasAlpha ? 4u : 3u, JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN, 0};
    ok = ok &&
         JxlEncoderAddImageFrame(settings, &format, rgba.data(), rgba.size()) == JXL_ENC_SUCCESS;
    JxlEncoderCloseInput(encoder);
    std::vector<uint8_t> out(64 * 1024);
    size_t used = 0;
    JxlEncoderStatus status = JXL_ENC_NEED_MORE_OUTPUT;
    while (ok && status == JXL_ENC_NEED_MORE_OUTPUT) {
        uint8_t* next = out.data() + used;
        size_t avail = out.size() - used;
        status = JxlEncoderProcessOutput(encoder, &next, &avail);
        used = size_t(next - out.data());
        if (status == JXL_ENC_NEED_MORE_OUTPUT) out.resize(out.size() * 2);
    }
    JxlEncoderDestroy(encoder);
    out.resize(used);
    return ok && status == JXL_ENC_SUCCESS && writeBytes(path, out);
}

// ---- BMP ----

// A BMP by hand: the 40-byte header (masks after it) or a v5 one (masks inside), the
// palette, then `data` as given (rows or run-length codes).
struct BmpWriter {
    BmpWriter(int32_t w, int32_t h, uint16_t b, uint32_t c = 0, std::vector<uint32_t> p = {},
              std::vector<uint32_t> m = {})
        : width(w), height(h), bits(b), compression(c), palette(std::move(p)), masks(std::move(m)) {
    }
    int32_t width, height;
    uint16_t bits;
    uint32_t compression;
    std::vector<uint32_t> palette;  // 0x00RRGGBB
    std::vector<uint32_t> masks;    // after the 40-byte header, or in a v5 header
    bool v5 = false;
    std::string data;

    std::string file() const {
        std::string h;
        auto u32 = [&](uint32_t v) {
            for (int i = 0; i < 4; ++i) h += char(v >> (8 * i));
        };
        auto u16 = [&](uint16_t v) { h += char(v & 0xFF), h += char(v >> 8); };
        const uint32_t headerSize = v5 ? 124 : 40;
        const uint32_t extra = v5 ? 0 : uint32_t(masks.size() * 4);
        const uint32_t offset = 14 + headerSize + extra + uint32_t(palette.size() * 4);
        h += "BM";
        u32(offset + uint32_t(data.size()));
        u32(0);
        u32(offset);
        u32(headerSize);
        u32(uint32_t(width));
        u32(uint32_t(height));
        u16(1);
        u16(bits);
        u32(compression);
        u32(uint32_t(data.size()));
        u32(2835), u32(2835);
        u32(uint32_t(palette.size()));
        u32(0);
        if (v5) {
            for (size_t i = 0; i < 4; ++i) u32(i < masks.size() ? masks[i] : 0);
            h.append(124 - 56, '\0');
        } else {
            for (uint32_t m : masks) u32(m);
        }
        for (uint32_t p : palette) u32(p);
        return h + data;
    }
};

// A run-length BMP (RLE8, or RLE4 with `four`) of a picture of at most 256 (16)
// colours: each row starts with an absolute run of three pixels, then runs.
inline std::string rleBmp(const Bitmap& b, bool four) {
    std::map<uint32_t, uint32_t> index;
    std::vector<uint32_t> palette;
    for (uint32_t p : b.pixels)
        if (index.emplace(p, uint32_t(palette.size())).second) palette.push_back(p & 0xFFFFFF);
    BmpWriter w(int32_t(b.width), int32_t(b.height), four ? 4 : 8, four ? 2 : 1, palette);
    for (uint32_t y = b.height; y-- > 0;) {
        uint32_t x = 0;
        if (b.width >= 3) {
            const uint32_t i0 = index[b.at(0, y)], i1 = index[b.at(1, y)], i2 = index[b.at(2, y)];
            w.data += '\0', w.data += '\3';
            if (four) {
                w.data += char(i0 << 4 | i1), w.data += char(i2 << 4),
                    w.data += std::string(2, '\0');
            } else {
                w.data += char(i0), w.data += char(i1), w.data += char(i2), w.data += '\0';
            }
            x = 3;
        }
        while (x < b.width) {
            uint32_t n = 1;
            while (x + n < b.width && n < 255 && b.at(x + n, y) == b.at(x, y)) ++n;
            const uint32_t i = index[b.at(x, y)];
            w.data += char(n), w.data += char(four ? i << 4 | i : i);
            x += n;
        }
        w.data += std::string("\0\0", 2);
    }
    w.data += std::string("\0\1", 2);
    return w.file();
}

}  // namespace gxtest
