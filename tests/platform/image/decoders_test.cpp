// Every format and variant the decoders take, each made by its own library (or by hand
// for our readers) from a known picture: lossless ones read back equal, lossy ones
// close; the description's size agrees with the pixels; orientation shows upright;
// damaged files are refused. The variants are those real folders hold: camera JPEGs
// (progressive, CMYK, restart markers, EXIF far into the file), 16-bit and paletted
// PNGs, raw converters' 16-bit PNM, ImageMagick's RLE bitmaps, phone HEIC.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "platform/image/exif_orientation.h"
#include "platform/image/image.h"
#include "support/picture_encoders.h"
#include "support/run.h"

namespace gx::image {
namespace {

using gxtest::alpha;
using gxtest::blue;
using gxtest::green;
using gxtest::red;

class Decoders : public ::testing::Test {
protected:
    void SetUp() override { dir = gxtest::makeTempDir("gxdecoders"); }
    void TearDown() override { gxtest::removeTree(dir); }
    std::string at(const std::string& name) const { return dir + "/" + name; }

    // The description and the decode agree on size and format; returns the pixels.
    Bitmap read(const std::string& name, FileFormat format, bool alphaExpected = false) {
        ImageInfo header, info;
        Bitmap b;
        EXPECT_EQ(getImageInfoFromFile(at(name), &header), gfx::kOk) << name;
        EXPECT_EQ(decodeImageFile(at(name), &b, &info), gfx::kOk) << name;
        EXPECT_EQ(header.width, b.width) << name;
        EXPECT_EQ(header.height, b.height) << name;
        EXPECT_EQ(header.fileFormat, format) << name;
        EXPECT_EQ(info.fileFormat, format) << name;
        if (alphaExpected) {
            EXPECT_EQ(header.format, gfx::Format::A8R8G8B8) << name;
        }
        return b;
    }
    void expectRefused(const std::string& name) {
        Bitmap b;
        EXPECT_NE(decodeImageFile(at(name), &b), gfx::kOk) << name;
        EXPECT_TRUE(b.pixels.empty()) << name;
    }
    // A damaged copy: the first `keep` bytes of the file.
    void cut(const std::string& from, const std::string& to, size_t keep) {
        std::string bytes = gxtest::readFile(at(from));
        bytes.resize(std::min(keep, bytes.size()));
        std::ofstream(at(to), std::ios::binary) << bytes;
    }

    std::string dir;
};

// Per-channel differences over the colour channels (and alpha when asked).
struct Difference {
    double mean = 0;
    int max = 0;
};
Difference compare(const Bitmap& a, const Bitmap& b, bool withAlpha = false) {
    Difference d;
    if (a.width != b.width || a.height != b.height) return {1e9, 1 << 20};
    long sum = 0;
    const int top = withAlpha ? 32 : 24;
    for (size_t i = 0; i < a.pixels.size(); ++i)
        for (int shift = 0; shift < top; shift += 8) {
            const int e =
                std::abs(int((a.pixels[i] >> shift) & 0xFF) - int((b.pixels[i] >> shift) & 0xFF));
            sum += e;
            d.max = std::max(d.max, e);
        }
    d.mean = double(sum) / double(a.pixels.size() * size_t(top / 8));
    return d;
}
#define EXPECT_CLOSE(a, b, meanLimit, maxLimit, what) \
    do {                                              \
        Difference d_ = compare(a, b);                \
        EXPECT_LE(d_.mean, meanLimit) << what;        \
        EXPECT_LE(d_.max, maxLimit) << what;          \
    } while (0)

Bitmap opaque(Bitmap b) {
    for (uint32_t& p : b.pixels) p |= 0xFF000000u;
    return b;
}

using gxtest::quadrants;
bool near(uint32_t a, uint32_t b) { return gxtest::near(a, b, 40); }
// The quadrant picture, stored with the orientation, shows upright: turned a quarter
// right (6) it is stored green, red / white, blue, and so on; every case holds red at
// the top left once shown.
void expectUpright(const Bitmap& b, uint32_t w, uint32_t h, const std::string& what) {
    ASSERT_EQ(b.width, w) << what;
    ASSERT_EQ(b.height, h) << what;
    EXPECT_TRUE(near(b.at(4, 4), 0xFFFF0000u)) << what;
    EXPECT_TRUE(near(b.at(w - 5, 4), 0xFF0000FFu)) << what;
    EXPECT_TRUE(near(b.at(4, h - 5), 0xFF00FF00u)) << what;
    EXPECT_TRUE(near(b.at(w - 5, h - 5), 0xFFFFFFFFu)) << what;
}
// What a camera held the other way stores for an upright `shown`: the inverse of the
// EXIF orientation applied to it.
Bitmap storedFor(const Bitmap& shown, int orientation) {
    static const int kInverse[9] = {1, 1, 2, 3, 4, 5, 8, 7, 6};
    Bitmap b = shown;
    applyOrientation(&b, kInverse[orientation]);
    return b;
}

}  // namespace

// ---------------------------------------------------------------- JPEG

TEST_F(Decoders, JpegBaselineProgressiveRestartGreyCmykAndYcck) {
    const Bitmap source = gxtest::gradient(101, 67);
    struct Case {
        const char* name;
        gxtest::JpegOptions options;
        double mean;
        int max;
    };
    gxtest::JpegOptions progressive, restart, grey, cmyk, ycck;
    progressive.progressive = true;
    restart.restartRows = 1;
    grey.grey = true;
    cmyk.cmyk = true;
    ycck.ycck = true;
    for (const Case& c :
         {Case{"baseline.jpg", {}, 1.5, 12}, Case{"progressive.jpg", progressive, 1.5, 12},
          Case{"restart.jpg", restart, 1.5, 12}, Case{"cmyk.jpg", cmyk, 2.0, 16},
          Case{"ycck.jpg", ycck, 2.0, 16}}) {
        ASSERT_TRUE(gxtest::encodeJpeg(at(c.name), source, c.options)) << c.name;
        EXPECT_CLOSE(read(c.name, FileFormat::Jpg), source, c.mean, c.max, c.name);
    }
    const Bitmap greySource = gxtest::greys(64, 40, 16);
    ASSERT_TRUE(gxtest::encodeJpeg(at("grey.jpg"), greySource, grey));
    EXPECT_CLOSE(read("grey.jpg", FileFormat::Jpg), greySource, 3.0, 40, "grey");
    // The restart markers are really there.
    EXPECT_NE(gxtest::readFile(at("restart.jpg")).find("\xFF\xD3"), std::string::npos);
}

TEST_F(Decoders, JpegExifOrientationWhereverTheBlockLies) {
    for (size_t padding : {size_t(0), size_t(300 * 1024)}) {
        for (int orientation : {1, 2, 3, 4, 5, 6, 7, 8}) {
            const std::string name =
                "o" + std::to_string(orientation) + "-" + std::to_string(padding) + ".jpg";
            gxtest::JpegOptions o;
            o.orientation = orientation;
            o.paddingBeforeExif = padding;
            ASSERT_TRUE(gxtest::encodeJpeg(at(name), storedFor(quadrants(48, 32), orientation), o));
            expectUpright(read(name, FileFormat::Jpg), 48, 32, name);
        }
    }
    // 300 KiB of other segments come first in the far one.
    EXPECT_GT(gxtest::readFile(at("o6-307200.jpg")).find("Exif"), 256u * 1024);
}

TEST_F(Decoders, JpegCutShortOrWithUndefinedTablesIsRefused) {
    ASSERT_TRUE(gxtest::encodeJpeg(at("p.jpg"), gxtest::gradient(64, 48)));
    gxtest::JpegOptions progressive;
    progressive.progressive = true;
    ASSERT_TRUE(gxtest::encodeJpeg(at("q.jpg"), gxtest::gradient(64, 48), progressive));
    const size_t size = gxtest::readFile(at("p.jpg")).size();
    cut("p.jpg", "half.jpg", size / 2);
    cut("q.jpg", "half-progressive.jpg", gxtest::readFile(at("q.jpg")).size() / 2);
    cut("p.jpg", "header.jpg", 200);
    for (const char* name : {"half.jpg", "half-progressive.jpg", "header.jpg"}) expectRefused(name);
}

// ---------------------------------------------------------------- PNG

TEST_F(Decoders, PngEveryDepthPaletteTransparencyAndInterlace) {
    const Bitmap colour = gxtest::gradient(37, 23), withAlpha = gxtest::gradient(37, 23, true);
    const Bitmap fewColours = gxtest::paletted(37, 23, 16, true);
    struct Case {
        const char* name;
        gxtest::PngOptions options;
        const Bitmap* source;
        bool alpha;
    };
    gxtest::PngOptions rgb16, rgba16, palette, paletteTrns, interlaced, interlaced16;
    rgb16.depth = 16;
    rgba16.depth = 16, rgba16.alpha = true;
    palette.palette = true, palette.depth = 4;
    paletteTrns.palette = true, paletteTrns.alpha = true;
    interlaced.interlace = true, interlaced.alpha = true;
    interlaced16.interlace = true, interlaced16.depth = 16;
    const Bitmap opaqueFew = opaque(fewColours);
    for (const Case& c :
         {Case{"rgb16.png", rgb16, &colour, false}, Case{"rgba16.png", rgba16, &withAlpha, true},
          Case{"palette4.png", palette, &opaqueFew, false},
          Case{"palette-trns.png", paletteTrns, &fewColours, true},
          Case{"interlaced.png", interlaced, &withAlpha, true},
          Case{"interlaced16.png", interlaced16, &colour, false}}) {
        ASSERT_TRUE(gxtest::encodePng(at(c.name), *c.source, c.options)) << c.name;
        EXPECT_EQ(read(c.name, FileFormat::Png, c.alpha).pixels, c.source->pixels) << c.name;
    }
    // Grey at 1, 2, 4, 8 and 16 bits: levels spread over 0..255.
    for (int depth : {1, 2, 4, 8, 16}) {
        gxtest::PngOptions grey;
        grey.grey = true;
        grey.depth = depth;
        const Bitmap source = gxtest::greys(29, 11, depth >= 8 ? 256 : 1u << depth);
        const std::string name = "grey" + std::to_string(depth) + ".png";
        ASSERT_TRUE(gxtest::encodePng(at(name), source, grey)) << name;
        EXPECT_EQ(read(name, FileFormat::Png).pixels, source.pixels) << name;
    }
}

TEST_F(Decoders, PngExifChunkBeforeOrAfterThePixels) {
    for (bool after : {false, true})
        for (int orientation : {3, 6, 8}) {
            gxtest::PngOptions o;
            o.orientation = orientation;
            o.exifAfterPixels = after;
            const std::string name =
                "o" + std::to_string(orientation) + (after ? "-after" : "") + ".png";
            ASSERT_TRUE(gxtest::encodePng(at(name), storedFor(quadrants(40, 30), orientation), o));
            expectUpright(read(name, FileFormat::Png), 40, 30, name);
        }
}

TEST_F(Decoders, PngCutShortIsRefused) {
    gxtest::PngOptions o;
    o.depth = 16;
    ASSERT_TRUE(gxtest::encodePng(at("p.png"), gxtest::gradient(64, 48), o));
    cut("p.png", "half.png", gxtest::readFile(at("p.png")).size() / 2);
    cut("p.png", "header.png", 40);
    expectRefused("half.png");
    expectRefused("header.png");
}

// ---------------------------------------------------------------- WebP

TEST_F(Decoders, WebpLosslessLossyAlphaExifAndAnimation) {
    const Bitmap source = gxtest::gradient(45, 31), withAlpha = gxtest::gradient(45, 31, true);
    ASSERT_TRUE(gxtest::encodeWebp(at("lossless.webp"), source, true));
    EXPECT_EQ(read("lossless.webp", FileFormat::Webp).pixels, source.pixels);
    ASSERT_TRUE(gxtest::encodeWebp(at("alpha.webp"), withAlpha, true));
    EXPECT_EQ(read("alpha.webp", FileFormat::Webp, true).pixels, withAlpha.pixels);
    ASSERT_TRUE(gxtest::encodeWebp(at("lossy.webp"), source, false));
    EXPECT_CLOSE(read("lossy.webp", FileFormat::Webp), source, 2.5, 24, "lossy");
    ASSERT_TRUE(gxtest::encodeWebp(at("lossy-alpha.webp"), withAlpha, false));
    EXPECT_EQ(compare(read("lossy-alpha.webp", FileFormat::Webp, true), withAlpha, true).max < 40,
              true);
    for (bool lossless : {true, false})
        for (int orientation : {2, 6, 8}) {
            const std::string name =
                "o" + std::to_string(orientation) + (lossless ? "" : "-lossy") + ".webp";
            ASSERT_TRUE(gxtest::encodeWebp(at(name), storedFor(quadrants(40, 30), orientation),
                                           lossless, orientation));
            expectUpright(read(name, FileFormat::Webp), 40, 30, name);
        }
    // An animation shows its first frame.
    const Bitmap second = gxtest::paletted(45, 31, 9);
    ASSERT_TRUE(gxtest::encodeAnimatedWebp(at("anim.webp"), {withAlpha, second}));
    EXPECT_EQ(read("anim.webp", FileFormat::Webp, true).pixels, withAlpha.pixels);
    cut("lossy.webp", "half.webp", gxtest::readFile(at("lossy.webp")).size() / 2);
    expectRefused("half.webp");
}

// ---------------------------------------------------------------- GIF

TEST_F(Decoders, GifFirstFrameOnItsScreen) {
    const Bitmap first = opaque(gxtest::paletted(30, 20, 200)),
                 second = opaque(gxtest::paletted(30, 20, 7));
    ASSERT_TRUE(gxtest::encodeGif(at("anim.gif"), 30, 20, {{first}, {second}}));
    EXPECT_EQ(read("anim.gif", FileFormat::Gif).pixels, first.pixels);
    gxtest::GifFrame interlaced{first};
    interlaced.interlace = true;
    ASSERT_TRUE(gxtest::encodeGif(at("interlaced.gif"), 30, 20, {interlaced}));
    EXPECT_EQ(read("interlaced.gif", FileFormat::Gif).pixels, first.pixels);

    // Transparency, and a frame smaller than the screen: the rest stays transparent.
    Bitmap holes = opaque(gxtest::paletted(10, 6, 5));
    holes.at(3, 2) = 0;
    gxtest::GifFrame placed{holes, 4, 5, false, true};
    ASSERT_TRUE(gxtest::encodeGif(at("placed.gif"), 20, 12, {placed}));
    const Bitmap b = read("placed.gif", FileFormat::Gif, true);
    ASSERT_EQ(b.width, 20u);
    for (uint32_t y = 0; y < 12; ++y)
        for (uint32_t x = 0; x < 20; ++x) {
            const bool inside = x >= 4 && x < 14 && y >= 5 && y < 11;
            EXPECT_EQ(b.at(x, y), inside ? holes.at(x - 4, y - 5) : 0u) << x << "," << y;
        }
    cut("anim.gif", "half.gif", 100);
    expectRefused("half.gif");
}

// ---------------------------------------------------------------- TIFF

TEST_F(Decoders, TiffStripsTilesSixteenBitsCmykPaletteAndOrientation) {
    const Bitmap source = gxtest::gradient(37, 23), withAlpha = gxtest::gradient(37, 23, true);
    const Bitmap few = opaque(gxtest::paletted(37, 23, 50));
    struct Case {
        const char* name;
        gxtest::TiffOptions options;
        const Bitmap* source;
        int maxError;  // CMYK goes through integer division twice
    };
    gxtest::TiffOptions strips, tiles, sixteen, sixteenTiles, cmyk, palette, alphaStrips, deflate;
    tiles.tiles = true;
    sixteen.bits = 16;
    sixteenTiles.bits = 16, sixteenTiles.tiles = true;
    cmyk.cmyk = true;
    palette.palette = true;
    alphaStrips.alpha = true;
    deflate.compression = COMPRESSION_ADOBE_DEFLATE;
    for (const Case& c :
         {Case{"strips.tif", strips, &source, 0}, Case{"tiles.tif", tiles, &source, 0},
          Case{"sixteen.tif", sixteen, &source, 0},
          Case{"sixteen-tiles.tif", sixteenTiles, &source, 0}, Case{"cmyk.tif", cmyk, &source, 2},
          Case{"palette.tif", palette, &few, 0}, Case{"deflate.tif", deflate, &source, 0}}) {
        ASSERT_TRUE(gxtest::encodeTiff(at(c.name), *c.source, c.options)) << c.name;
        const Bitmap b = read(c.name, FileFormat::Tiff);
        if (c.maxError == 0) {
            EXPECT_EQ(b.pixels, c.source->pixels) << c.name;
        } else {
            EXPECT_LE(compare(b, *c.source).max, c.maxError) << c.name;
        }
    }
    // Unassociated alpha comes back as it was stored, within the rounding of libtiff's
    // premultiplication.
    ASSERT_TRUE(gxtest::encodeTiff(at("alpha.tif"), withAlpha, alphaStrips));
    const Bitmap a = read("alpha.tif", FileFormat::Tiff, true);
    ASSERT_EQ(a.pixels.size(), withAlpha.pixels.size());
    for (size_t i = 0; i < a.pixels.size(); ++i) {
        ASSERT_EQ(alpha(a.pixels[i]), alpha(withAlpha.pixels[i]));
        if (alpha(withAlpha.pixels[i]) >= 64) {
            ASSERT_LE(std::abs(int(red(a.pixels[i])) - int(red(withAlpha.pixels[i]))), 4);
        }
    }
    for (int orientation : {1, 2, 3, 4, 5, 6, 7, 8}) {
        gxtest::TiffOptions o;
        o.orientation = orientation;
        const std::string name = "o" + std::to_string(orientation) + ".tif";
        ASSERT_TRUE(gxtest::encodeTiff(at(name), storedFor(quadrants(40, 30), orientation), o));
        const Bitmap b = read(name, FileFormat::Tiff);
        EXPECT_EQ(b.pixels, quadrants(40, 30).pixels) << name;
    }
    cut("strips.tif", "half.tif", gxtest::readFile(at("strips.tif")).size() / 2);
    expectRefused("half.tif");
}

// ---------------------------------------------------------------- HEIF, AVIF

TEST_F(Decoders, HeicAndAvifWithTheirTransformsApplied) {
    const Bitmap source = gxtest::gradient(64, 48);
    struct Case {
        const char* name;
        bool av1;
        FileFormat format;
    };
    for (Case c :
         {Case{"p.heic", false, FileFormat::Heif}, Case{"p.avif", true, FileFormat::Avif}}) {
        if (!gxtest::heifEncoderAvailable(c.av1)) {
            ADD_FAILURE() << "libheif has no encoder for " << c.name;
            continue;
        }
        ASSERT_TRUE(gxtest::encodeHeif(at(c.name), source, c.av1)) << c.name;
        EXPECT_CLOSE(read(c.name, c.format), source, 3.0, 30, c.name);
        // Rotated and mirrored by the file's own transforms.
        for (int orientation : {3, 6, 8, 5}) {
            const std::string name = std::string("o") + std::to_string(orientation) + "-" + c.name;
            ASSERT_TRUE(gxtest::encodeHeif(at(name), storedFor(quadrants(64, 48), orientation),
                                           c.av1, 90, orientation));
            expectUpright(read(name, c.format), 64, 48, name);
        }
        const std::string cutName = std::string("half-") + c.name;
        cut(c.name, cutName, gxtest::readFile(at(c.name)).size() / 2);
        expectRefused(cutName);
    }
    // Alpha, through AV1 (the HEVC encoder here codes no alpha plane of its own).
    const Bitmap withAlpha = gxtest::gradient(64, 48, true);
    ASSERT_TRUE(gxtest::encodeHeif(at("alpha.avif"), withAlpha, true));
    const Bitmap a = read("alpha.avif", FileFormat::Avif, true);
    EXPECT_LE(compare(a, withAlpha, true).mean, 3.0);
}

// ---------------------------------------------------------------- JPEG XL

TEST_F(Decoders, JpegXlLosslessLossyAlphaAndOrientation) {
    const Bitmap source = gxtest::gradient(45, 31), withAlpha = gxtest::gradient(45, 31, true);
    ASSERT_TRUE(gxtest::encodeJxl(at("lossless.jxl"), source, true));
    EXPECT_EQ(read("lossless.jxl", FileFormat::Jxl).pixels, source.pixels);
    ASSERT_TRUE(gxtest::encodeJxl(at("alpha.jxl"), withAlpha, true));
    EXPECT_EQ(read("alpha.jxl", FileFormat::Jxl, true).pixels, withAlpha.pixels);
    ASSERT_TRUE(gxtest::encodeJxl(at("lossy.jxl"), source, false));
    EXPECT_CLOSE(read("lossy.jxl", FileFormat::Jxl), source, 2.0, 48, "lossy");
    for (int orientation : {2, 3, 5, 6, 8}) {
        const std::string name = "o" + std::to_string(orientation) + ".jxl";
        ASSERT_TRUE(gxtest::encodeJxl(at(name), storedFor(quadrants(40, 30), orientation), true,
                                      orientation));
        EXPECT_EQ(read(name, FileFormat::Jxl).pixels, quadrants(40, 30).pixels) << name;
    }
    cut("lossy.jxl", "half.jxl", gxtest::readFile(at("lossy.jxl")).size() / 2);
    expectRefused("half.jxl");
}

// ---------------------------------------------------------------- PNM

std::string pnmSamples(const Bitmap& b, int channels, uint32_t maxValue, bool text) {
    std::string out;
    for (uint32_t p : b.pixels) {
        const uint32_t rgb[3] = {red(p), green(p), blue(p)};
        for (int k = 0; k < channels; ++k) {
            // The 8-bit value spread to 0..maxValue, rounded.
            const uint32_t v = (rgb[channels == 1 ? 1 : k] * maxValue + 127) / 255;
            if (text) {
                out += std::to_string(v) + (k + 1 == channels ? "\n" : " ");
            } else if (maxValue > 255) {
                out += char(v >> 8), out += char(v & 0xFF);
            } else {
                out += char(v);
            }
        }
    }
    return out;
}

TEST_F(Decoders, PnmEveryKindAndMaximumValue) {
    // 16 bits a sample, large enough that reading it as 8-bit data ran far off the end.
    const Bitmap big = gxtest::gradient(640, 480), bigGrey = gxtest::greys(640, 480);
    std::ofstream(at("wide.ppm"), std::ios::binary) << "P6\n640 480\n65535\n"
                                                    << pnmSamples(big, 3, 65535, false);
    std::ofstream(at("wide.pgm"), std::ios::binary) << "P5 640 480 65535\n"
                                                    << pnmSamples(bigGrey, 1, 65535, false);
    EXPECT_EQ(read("wide.ppm", FileFormat::Ppm).pixels, big.pixels);
    EXPECT_EQ(read("wide.pgm", FileFormat::Ppm).pixels, bigGrey.pixels);

    // Maximum value 15: white stays white, and every level lands on its 8-bit value.
    Bitmap levels;
    levels.width = 16, levels.height = 2;
    for (uint32_t i = 0; i < 32; ++i)
        levels.pixels.push_back(0xFF000000u | (i % 16) * 17 * 0x010101u);
    std::ofstream(at("fifteen.ppm"), std::ios::binary) << "P6\n16 2\n15\n"
                                                       << pnmSamples(levels, 3, 15, false);
    const Bitmap fifteen = read("fifteen.ppm", FileFormat::Ppm);
    EXPECT_EQ(fifteen.pixels, levels.pixels);
    EXPECT_EQ(fifteen.at(15, 0), 0xFFFFFFFFu);

    // Plain text colour and grey, with comments; 1000 is an odd maximum that rounds.
    const Bitmap small = gxtest::gradient(13, 7);
    std::ofstream(at("plain.ppm")) << "P3\n# made by hand\n13 7\n# comment\n255\n"
                                   << pnmSamples(small, 3, 255, true);
    EXPECT_EQ(read("plain.ppm", FileFormat::Ppm).pixels, small.pixels);
    std::ofstream(at("plain.pgm")) << "P2 13 7 1000\n"
                                   << pnmSamples(gxtest::greys(13, 7), 1, 1000, true);
    EXPECT_EQ(read("plain.pgm", FileFormat::Ppm).pixels, gxtest::greys(13, 7).pixels);
    std::ofstream(at("eight.pgm"), std::ios::binary)
        << "P5\n#c\n13 7\n255\n"
        << pnmSamples(gxtest::greys(13, 7), 1, 255, false);
    EXPECT_EQ(read("eight.pgm", FileFormat::Ppm).pixels, gxtest::greys(13, 7).pixels);

    // Bitmaps: 1 is black; the plain kind may run digits together; rows pad to bytes.
    std::ofstream(at("plain.pbm")) << "P1\n# x\n10 2\n1010101010\n0 0 0 0 0 1 1 1 1 1\n";
    std::ofstream(at("raw.pbm"), std::ios::binary) << "P4\n10 2\n"
                                                   << std::string("\xAA\x80\x07\xC0", 4);
    const uint32_t K = 0xFF000000u, W = 0xFFFFFFFFu;
    const std::vector<uint32_t> bits = {K, W, K, W, K, W, K, W, K, W, W, W, W, W, W, K, K, K, K, K};
    EXPECT_EQ(read("plain.pbm", FileFormat::Ppm).pixels, bits);
    EXPECT_EQ(read("raw.pbm", FileFormat::Ppm).pixels, bits);

    // Short data, a zero maximum and a value past 65535 are refused.
    std::ofstream(at("short.ppm"), std::ios::binary) << "P6\n4 4\n65535\n" << std::string(95, 'x');
    std::ofstream(at("zero.pgm")) << "P2 2 2 0\n0 0 0 0\n";
    std::ofstream(at("toolarge.pgm")) << "P2 2 2 65536\n0 0 0 0\n";
    std::ofstream(at("fewsamples.ppm")) << "P3 2 2 255\n1 2 3 4 5 6\n";
    // No whitespace after the magic number: not ours, and not handed to a decoder that
    // would take it for Netpbm (stb_image's runs off the end of 16-bit data).
    std::ofstream(at("glued.pgm"), std::ios::binary) << "P5#c\n640 480\n65535\n"
                                                     << pnmSamples(bigGrey, 1, 65535, false);
    for (const char* name :
         {"short.ppm", "zero.pgm", "toolarge.pgm", "fewsamples.ppm", "glued.pgm"})
        expectRefused(name);
}

// ---------------------------------------------------------------- BMP

TEST_F(Decoders, BmpRunLengthBitFieldsAndBothRowOrders) {
    using gxtest::BmpWriter;
    const std::vector<uint32_t> pal = {0x000000, 0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF, 0x808080};
    auto colour = [&](int i) { return 0xFF000000u | pal[size_t(i)]; };

    // RLE8, 7 x 3, bottom row first: a run, an absolute run of odd length (padded), a
    // move that skips pixels (they stay transparent), end of line, end of bitmap.
    BmpWriter rle8{7, 3, 8, 1, pal};
    rle8.data =
        std::string("\x03\x01", 2) + std::string("\x00\x03\x02\x03\x04\x00", 6) +
        std::string("\x01\x05", 2) + std::string("\x00\x00", 2) +          // row 0 done
        std::string("\x00\x02\x02\x01", 4) + std::string("\x05\x03", 2) +  // skip 2 right, 1 up
        std::string("\x00\x00", 2) + std::string("\x07\x04", 2) + std::string("\x00\x01", 2);
    std::ofstream(at("rle8.bmp"), std::ios::binary) << rle8.file();
    const Bitmap r8 = read("rle8.bmp", FileFormat::Bmp, true);
    ASSERT_EQ(r8.width, 7u);
    ASSERT_EQ(r8.height, 3u);
    const uint32_t bottom[7] = {colour(1), colour(1), colour(1), colour(2),
                                colour(3), colour(4), colour(5)};
    for (uint32_t x = 0; x < 7; ++x) EXPECT_EQ(r8.at(x, 2), bottom[x]) << x;
    for (uint32_t x = 0; x < 7; ++x) EXPECT_EQ(r8.at(x, 1), 0u) << x;  // skipped by the move
    for (uint32_t x = 0; x < 7; ++x) EXPECT_EQ(r8.at(x, 0), x < 2 ? 0u : colour(3)) << x;

    // RLE4: runs alternate their two nibbles; absolute runs pack two a byte.
    BmpWriter rle4{6, 2, 4, 2, pal};
    rle4.data = std::string("\x05\x12", 2) + std::string("\x01\x40", 2) +
                std::string("\x00\x00", 2) + std::string("\x00\x05\x34\x51\x20\x00", 6) +
                std::string("\x01\x00", 2) + std::string("\x00\x01", 2);
    std::ofstream(at("rle4.bmp"), std::ios::binary) << rle4.file();
    const Bitmap r4 = read("rle4.bmp", FileFormat::Bmp);
    const int bottom4[6] = {1, 2, 1, 2, 1, 4}, top4[6] = {3, 4, 5, 1, 2, 0};
    for (uint32_t x = 0; x < 6; ++x) {
        EXPECT_EQ(r4.at(x, 1), colour(bottom4[x])) << x;
        EXPECT_EQ(r4.at(x, 0), colour(top4[x])) << x;
    }

    // Run-length data that stops before its end is refused.
    BmpWriter cutRle = rle8;
    cutRle.data.resize(9);
    std::ofstream(at("cut-rle.bmp"), std::ios::binary) << cutRle.file();
    expectRefused("cut-rle.bmp");

    // 16-bit 5:6:5 bit fields, top-down; 32-bit with an alpha mask in a v5 header.
    const Bitmap source = gxtest::gradient(9, 5), withAlpha = gxtest::gradient(9, 5, true);
    BmpWriter b565{9, -5, 16, 3, {}, {0xF800, 0x07E0, 0x001F}};
    for (uint32_t y = 0; y < 5; ++y) {
        for (uint32_t x = 0; x < 9; ++x) {
            const uint32_t p = source.at(x, y);
            const uint16_t v = uint16_t((red(p) >> 3) << 11 | (green(p) >> 2) << 5 | blue(p) >> 3);
            b565.data += char(v & 0xFF), b565.data += char(v >> 8);
        }
        b565.data += std::string(2, '\0');  // rows pad to 4 bytes
    }
    std::ofstream(at("565.bmp"), std::ios::binary) << b565.file();
    const Bitmap d565 = read("565.bmp", FileFormat::Bmp);
    EXPECT_LE(compare(d565, source).max, 8);   // 5 and 6 bits a channel, cut when written
    EXPECT_EQ(d565.at(0, 0) & 0xFFFFFFu, 0u);  // the top row came first

    BmpWriter argb{9, 5, 32, 3, {}, {0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000u}};
    argb.v5 = true;
    for (uint32_t y = 5; y-- > 0;)
        for (uint32_t x = 0; x < 9; ++x) {
            const uint32_t p = withAlpha.at(x, y);
            for (int i = 0; i < 4; ++i) argb.data += char(p >> (8 * i));
        }
    std::ofstream(at("argb.bmp"), std::ios::binary) << argb.file();
    EXPECT_EQ(read("argb.bmp", FileFormat::Bmp, true).pixels, withAlpha.pixels);

    // 32 bits with the fourth byte left zero everywhere: opaque.
    BmpWriter xrgb{9, 5, 32};
    for (uint32_t y = 5; y-- > 0;)
        for (uint32_t x = 0; x < 9; ++x) {
            const uint32_t p = source.at(x, y) & 0xFFFFFF;
            for (int i = 0; i < 4; ++i) xrgb.data += char(p >> (8 * i));
        }
    std::ofstream(at("xrgb.bmp"), std::ios::binary) << xrgb.file();
    EXPECT_EQ(read("xrgb.bmp", FileFormat::Bmp).pixels, source.pixels);

    // 1 and 4 bits a pixel with palettes, and a DIB by its name.
    BmpWriter mono{10, 2, 1, 0, {0x000000, 0xFFFFFF}};
    mono.data = std::string("\xFF\xC0\x00\x00\xAA\x80\x00\x00", 8);  // bottom row first: all white
    std::ofstream(at("mono.dib"), std::ios::binary) << mono.file();
    const Bitmap m = read("mono.dib", FileFormat::Dib);
    for (uint32_t x = 0; x < 10; ++x) {
        EXPECT_EQ(m.at(x, 1), 0xFFFFFFFFu) << x;
        EXPECT_EQ(m.at(x, 0), x % 2 == 0 ? 0xFFFFFFFFu : 0xFF000000u) << x;
    }
}

}  // namespace gx::image
