// Picture decoding: the nine types from one source picture, unreadable files, float
// pictures, EXIF orientation, and textures with the colour key and size limits.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "platform/gfx/gfx.h"
#include "platform/image/image.h"
#include "platform/image/image_write.h"
#include "support/picture_encoders.h"
#include "support/temp_folder.h"

namespace gx::image {
namespace {

namespace fs = std::filesystem;

using gxtest::TempFolder;

// Opaque, odd-sized (blocks and row padding get partial), colourful, with a black patch.
Bitmap sourcePicture(uint32_t w = 37, uint32_t h = 23) {
    Bitmap b;
    b.width = w;
    b.height = h;
    b.pixels.resize(size_t(w) * h);
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x) {
            uint32_t r = x * 255 / (w - 1), g = y * 255 / (h - 1), bl = (x * 7 + y * 3) % 256;
            b.at(x, y) = 0xFF000000u | r << 16 | g << 8 | bl;
        }
    for (uint32_t y = 2; y < std::min(h, 8u); ++y)
        for (uint32_t x = 20; x < std::min(w, 30u); ++x) b.at(x, y) = 0xFF000000u;
    return b;
}

std::vector<uint8_t> readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

struct Difference {
    double mean = 0;
    int max = 0;
};

Difference compare(const Bitmap& a, const Bitmap& b) {
    Difference d;
    long sum = 0;
    for (size_t i = 0; i < a.pixels.size(); ++i)
        for (int shift = 0; shift < 24; shift += 8) {
            int e =
                std::abs(int((a.pixels[i] >> shift) & 0xFF) - int((b.pixels[i] >> shift) & 0xFF));
            sum += e;
            d.max = std::max(d.max, e);
        }
    d.mean = double(sum) / double(a.pixels.size() * 3);
    return d;
}

Bitmap decoded(const std::string& path, ImageInfo* info = nullptr) {
    Bitmap b;
    EXPECT_EQ(decodeImageFile(path, &b, info), gfx::kOk) << path;
    return b;
}

TEST(ImageDecoding, EveryTypeFromOneSourcePicture) {
    TempFolder dir;
    const Bitmap source = sourcePicture();
    ASSERT_TRUE(writePng(dir / "p.png", source));
    ASSERT_TRUE(writeBmp(dir / "p.bmp", source));
    ASSERT_TRUE(writeBmp(dir / "p.dib", source));
    ASSERT_TRUE(writePpm(dir / "p.ppm", source));
    ASSERT_TRUE(writeTga(dir / "p.tga", source));
    ASSERT_TRUE(writePfm(dir / "p.pfm", source));
    ASSERT_TRUE(writePfm(dir / "big-endian.pfm", source, false, false));
    ASSERT_TRUE(writeDds(dir / "rgb24.dds", source, DdsEncoding::Rgb24));
    ASSERT_TRUE(writeDds(dir / "argb32.dds", source, DdsEncoding::Argb32));
    ASSERT_TRUE(writeHdr(dir / "p.hdr", source));
    ASSERT_TRUE(writeJpg(dir / "p.jpg", source, 95));
    ASSERT_TRUE(writeDds(dir / "bc1.dds", source, DdsEncoding::Bc1));
    ASSERT_TRUE(writeDds(dir / "bc2.dds", source, DdsEncoding::Bc2));
    ASSERT_TRUE(writeDds(dir / "bc3.dds", source, DdsEncoding::Bc3));

    const Bitmap png = decoded(dir / "p.png");
    ASSERT_EQ(png.pixels, source.pixels);

    struct Lossless {
        const char* name;
        FileFormat format;
    };
    for (Lossless c :
         {Lossless{"p.bmp", FileFormat::Bmp}, Lossless{"p.dib", FileFormat::Dib},
          Lossless{"p.ppm", FileFormat::Ppm}, Lossless{"p.tga", FileFormat::Tga},
          Lossless{"p.pfm", FileFormat::Pfm}, Lossless{"big-endian.pfm", FileFormat::Pfm},
          Lossless{"rgb24.dds", FileFormat::Dds}, Lossless{"argb32.dds", FileFormat::Dds}}) {
        ImageInfo header, info;
        ASSERT_EQ(getImageInfoFromFile(dir / c.name, &header), gfx::kOk) << c.name;
        Bitmap b = decoded(dir / c.name, &info);
        EXPECT_EQ(header.width, 37u) << c.name;
        EXPECT_EQ(header.height, 23u) << c.name;
        EXPECT_EQ(info.fileFormat, c.format) << c.name;
        EXPECT_EQ(b.pixels, png.pixels) << c.name;
    }

    // Lossy ones, with the tolerance each type's coding allows (per channel, 0..255).
    struct Lossy {
        const char* name;
        FileFormat format;
        double mean;
        int max;
    };
    for (Lossy c :
         {Lossy{"p.hdr", FileFormat::Hdr, 0.6, 2},  // shared exponent: 8-bit mantissa
          Lossy{"p.jpg", FileFormat::Jpg, 2.5, 40},
          Lossy{"bc1.dds", FileFormat::Dds, 6.0, 40},  // 5:6:5 end points, 4 levels a block
          Lossy{"bc2.dds", FileFormat::Dds, 6.0, 40}, Lossy{"bc3.dds", FileFormat::Dds, 6.0, 40}}) {
        ImageInfo info;
        Bitmap b = decoded(dir / c.name, &info);
        EXPECT_EQ(info.fileFormat, c.format) << c.name;
        ASSERT_EQ(b.width, 37u) << c.name;
        ASSERT_EQ(b.height, 23u) << c.name;
        Difference d = compare(b, png);
        EXPECT_LE(d.mean, c.mean) << c.name;
        EXPECT_LE(d.max, c.max) << c.name;
        for (uint32_t p : b.pixels) ASSERT_EQ(p >> 24, 0xFFu) << c.name;
    }
}

// Frame dumps: rows of a wider buffer, the X byte ignored, every colour kept exactly.
TEST(ImageDecoding, FrameDumpsKeepEveryPixel) {
    TempFolder dir;
    const Bitmap source = sourcePicture(37, 23);
    const uint32_t pitch = 41;
    std::vector<uint32_t> frame(size_t(pitch) * source.height, 0x12345678u);
    for (uint32_t y = 0; y < source.height; ++y)
        for (uint32_t x = 0; x < source.width; ++x)
            frame[size_t(y) * pitch + x] =
                (source.at(x, y) & 0xFFFFFFu) | (x % 2 ? 0x00000000u : 0x5A000000u);
    ASSERT_TRUE(writeFramePng(dir / "frame.png", frame.data(), source.width, source.height, pitch));
    const Bitmap back = decoded(dir / "frame.png");
    ASSERT_EQ(back.width, source.width);
    ASSERT_EQ(back.height, source.height);
    for (uint32_t y = 0; y < source.height; ++y)
        for (uint32_t x = 0; x < source.width; ++x)
            ASSERT_EQ(back.at(x, y) & 0xFFFFFFu, source.at(x, y) & 0xFFFFFFu) << x << ", " << y;
    EXPECT_FALSE(writeFramePng(dir / "none.png", frame.data(), 0, 5, pitch));
    EXPECT_FALSE(writeFramePng(dir / "narrow.png", frame.data(), 37, 5, 36));
}

TEST(ImageDecoding, AlphaSurvivesTheTypesThatCarryIt) {
    TempFolder dir;
    Bitmap source = sourcePicture(8, 8);
    for (uint32_t i = 0; i < source.pixels.size(); ++i)
        source.pixels[i] = (source.pixels[i] & 0xFFFFFF) | (i * 4) << 24;
    ASSERT_TRUE(writePng(dir / "a.png", source));
    ASSERT_TRUE(writeTga(dir / "a.tga", source, true));
    ASSERT_TRUE(writeDds(dir / "a.dds", source, DdsEncoding::Argb32));
    for (const char* name : {"a.png", "a.tga", "a.dds"}) {
        ImageInfo info;
        EXPECT_EQ(decoded(dir / name, &info).pixels, source.pixels) << name;
        EXPECT_EQ(info.format, gfx::Format::A8R8G8B8) << name;
    }
}

TEST(ImageDecoding, ContentDecidesNotTheName) {
    TempFolder dir;
    const Bitmap source = sourcePicture();
    ASSERT_TRUE(writePng(dir / "really-a-png.jpg", source));
    ASSERT_TRUE(writeDds(dir / "really-a-dds.bmp", source, DdsEncoding::Rgb24));
    ImageInfo info;
    EXPECT_EQ(decoded(dir / "really-a-png.jpg", &info).pixels, source.pixels);
    EXPECT_EQ(info.fileFormat, FileFormat::Png);
    EXPECT_EQ(decoded(dir / "really-a-dds.bmp", &info).pixels, source.pixels);
    EXPECT_EQ(info.fileFormat, FileFormat::Dds);
}

TEST(ImageDecoding, UnreadableFilesAreRefusedNotCrashedOn) {
    TempFolder dir;
    const Bitmap source = sourcePicture();
    ASSERT_TRUE(writePng(dir / "p.png", source));
    ASSERT_TRUE(writeJpg(dir / "p.jpg", source));
    ASSERT_TRUE(writeDds(dir / "p.dds", source, DdsEncoding::Bc3));
    ASSERT_TRUE(writePfm(dir / "p.pfm", source));
    auto truncated = [&](const char* from, const char* to, size_t keep) {
        auto bytes = readBytes(dir / from);
        bytes.resize(std::min(keep, bytes.size()));
        writeBytes(dir / to, bytes);
    };
    truncated("p.png", "half.png", readBytes(dir / "p.png").size() / 2);
    truncated("p.jpg", "half.jpg", readBytes(dir / "p.jpg").size() / 2);
    truncated("p.dds", "short.dds", readBytes(dir / "p.dds").size() - 1);
    truncated("p.pfm", "short.pfm", readBytes(dir / "p.pfm").size() - 1);
    writeBytes(dir / "empty.png", {});
    writeBytes(dir / "text.tga", std::vector<uint8_t>(300, 'x'));
    writeBytes(dir / "anim.png", {'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0, 0, 0, ';'});
    writeBytes(dir / "zero.pfm", {'P', 'F', '\n', '0', ' ', '4', '\n', '-', '1', '\n'});
    // A header promising 100000 × 100000 pixels in a file of a few bytes.
    auto huge = readBytes(dir / "p.dds");
    huge[12] = 0xA0, huge[13] = 0x86, huge[14] = 0x01, huge[15] = 0;  // height 100000
    huge[16] = 0xA0, huge[17] = 0x86, huge[18] = 0x01, huge[19] = 0;  // width 100000
    writeBytes(dir / "huge.dds", huge);
    auto zeroWide = readBytes(dir / "p.dds");
    std::memset(&zeroWide[16], 0, 4);
    writeBytes(dir / "zero.dds", zeroWide);

    for (const char* name :
         {"half.png", "half.jpg", "short.dds", "short.pfm", "empty.png", "text.tga", "anim.png",
          "zero.pfm", "huge.dds", "zero.dds", "missing.png"}) {
        Bitmap b;
        EXPECT_EQ(decodeImageFile(dir / name, &b), kInvalidData) << name;
    }
    // A bitmap whose storage is reused by the next decode is left empty by a refusal,
    // and the decode after that is whole.
    Bitmap reused = decoded(dir / "p.png");
    EXPECT_EQ(decodeImageFile(dir / "half.png", &reused), kInvalidData);
    EXPECT_EQ(reused.width, 0u);
    EXPECT_TRUE(reused.pixels.empty());
    EXPECT_EQ(decodeImageFile(dir / "p.pfm", &reused), gfx::kOk);
    EXPECT_EQ(reused.pixels, decoded(dir / "p.png").pixels);
    // Header-only checks already see the short DDS and PFM.
    ImageInfo info;
    EXPECT_EQ(getImageInfoFromFile(dir / "short.dds", &info), kInvalidData);
    EXPECT_EQ(getImageInfoFromFile(dir / "short.pfm", &info), kInvalidData);
    EXPECT_EQ(getImageInfoFromFile(dir / "huge.dds", &info), kInvalidData);
}

std::vector<uint8_t> pfmBytes(const char* header, const std::vector<float>& values,
                              bool littleEndian) {
    std::vector<uint8_t> out(header, header + std::strlen(header));
    for (float f : values) {
        uint32_t v;
        std::memcpy(&v, &f, 4);
        for (int i = 0; i < 4; ++i)
            out.push_back(uint8_t(v >> (littleEndian ? 8 * i : 24 - 8 * i)));
    }
    return out;
}

TEST(ImageDecoding, FloatPicturesAreClampedAndStoredBottomUp) {
    TempFolder dir;
    const float nan = std::nanf("");
    // Bottom row first: the second row of the file is the top of the picture.
    std::vector<float> values = {0.5f, -1.0f, 2.0f, nan,  1.0f, 0.0f,
                                 0.0f, 0.0f,  1.0f, 1.0f, 1.0f, 1.0f};
    writeBytes(dir / "le.pfm", pfmBytes("PF\n2 2\n-1.0\n", values, true));
    writeBytes(dir / "be.pfm", pfmBytes("PF 2 2 1.0\n", values, false));
    for (const char* name : {"le.pfm", "be.pfm"}) {
        Bitmap b = decoded(dir / name);
        ASSERT_EQ(b.width, 2u);
        EXPECT_EQ(b.at(0, 0), 0xFF0000FFu) << name;
        EXPECT_EQ(b.at(1, 0), 0xFFFFFFFFu) << name;
        EXPECT_EQ(b.at(0, 1), 0xFF8000FFu) << name;  // 0.5 rounds to 128; -1 clamps to 0, 2 to 255
        EXPECT_EQ(b.at(1, 1), 0xFF00FF00u) << name;  // NaN reads as 0
    }
    writeBytes(dir / "grey.pfm", pfmBytes("Pf\n3 1\n-1\n", {0.0f, 0.25f, 1.0f}, true));
    Bitmap grey = decoded(dir / "grey.pfm");
    EXPECT_EQ(grey.pixels, (std::vector<uint32_t>{0xFF000000u, 0xFF404040u, 0xFFFFFFFFu}));
}

using gxtest::near;
using gxtest::quadrants;

TEST(ImageDecoding, ExifOrientationShowsPhotosUpright) {
    TempFolder dir;
    const uint32_t R = 0xFFFF0000u, G = 0xFF00FF00u, B = 0xFF0000FFu, W = 0xFFFFFFFFu;
    // Stored 48 × 32: red top-left, blue top-right, green bottom-left, white bottom-right.
    struct Case {
        int orientation;
        uint32_t w, h, topLeft, topRight, bottomLeft, bottomRight;
    };
    for (Case c :
         {Case{1, 48, 32, R, B, G, W}, Case{3, 48, 32, W, G, B, R}, Case{2, 48, 32, B, R, W, G},
          Case{6, 32, 48, G, R, W, B}, Case{8, 32, 48, B, W, R, G}, Case{5, 32, 48, R, G, B, W}}) {
        std::string name = "o";
        name += std::to_string(c.orientation);
        name += ".jpg";
        std::string path = dir / name;
        ASSERT_TRUE(writeJpg(path, quadrants(48, 32), 95));
        ASSERT_TRUE(addJpegOrientation(path, c.orientation));
        ImageInfo info;
        ASSERT_EQ(getImageInfoFromFile(path, &info), gfx::kOk);
        EXPECT_EQ(info.width, c.w) << c.orientation;
        EXPECT_EQ(info.height, c.h) << c.orientation;
        Bitmap b = decoded(path);
        ASSERT_EQ(b.width, c.w) << c.orientation;
        ASSERT_EQ(b.height, c.h) << c.orientation;
        EXPECT_TRUE(near(b.at(4, 4), c.topLeft)) << c.orientation;
        EXPECT_TRUE(near(b.at(c.w - 5, 4), c.topRight)) << c.orientation;
        EXPECT_TRUE(near(b.at(4, c.h - 5), c.bottomLeft)) << c.orientation;
        EXPECT_TRUE(near(b.at(c.w - 5, c.h - 5), c.bottomRight)) << c.orientation;
    }
}

std::unique_ptr<gfx::Device> makeDevice(uint32_t maxTextureSize = 8192, bool powerOfTwo = false) {
    gfx::PresentParameters pp;
    pp.backBufferWidth = 64;
    pp.backBufferHeight = 48;
    pp.windowed = true;
    gfx::DeviceOptions options;
    options.maxTextureSize = maxTextureSize;
    options.powerOfTwoOnly = powerOfTwo;
    std::unique_ptr<gfx::Device> device;
    EXPECT_EQ(gfx::createDevice(pp, options, &device), gfx::kOk);
    return device;
}

std::vector<uint32_t> texels(const gfx::TexturePtr& texture, uint32_t* width, uint32_t* height) {
    gfx::SurfaceDesc desc;
    texture->getLevelDesc(0, &desc);
    gfx::LockedRect locked;
    EXPECT_EQ(texture->lockRect(0, &locked, nullptr, gfx::kLockReadOnly), gfx::kOk);
    std::vector<uint32_t> out;
    for (uint32_t y = 0; y < desc.height; ++y) {
        auto* row = reinterpret_cast<const uint32_t*>(static_cast<uint8_t*>(locked.bits) +
                                                      size_t(locked.pitch) * y);
        out.insert(out.end(), row, row + desc.width);
    }
    texture->unlockRect(0);
    *width = desc.width;
    *height = desc.height;
    return out;
}

TEST(ImageTextures, OpaqueBlackBecomesTransparentAtThePicturesOwnSize) {
    TempFolder dir;
    Bitmap source = sourcePicture(5, 3);
    source.at(0, 0) = 0xFF000000u;  // opaque black: keyed out
    source.at(1, 0) = 0xFF010000u;  // nearly black: kept
    source.at(2, 0) = 0x80000000u;  // half-transparent black: kept
    ASSERT_TRUE(writePng(dir / "k.png", source));
    auto device = makeDevice();
    gfx::TexturePtr texture;
    ImageInfo info;
    ASSERT_EQ(createTextureFromFile(device.get(), dir / "k.png", 0, 0, 1, 0, gfx::Format::Unknown,
                                    gfx::Pool::Managed, 0xFF000000u, &info, &texture),
              gfx::kOk);
    uint32_t w = 0, h = 0;
    std::vector<uint32_t> t = texels(texture, &w, &h);
    EXPECT_EQ(w, 5u);
    EXPECT_EQ(h, 3u);
    EXPECT_EQ(info.width, 5u);
    EXPECT_EQ(t[0], 0x00000000u);
    EXPECT_EQ(t[1], 0xFF010000u);
    EXPECT_EQ(t[2], 0x80000000u);
    for (size_t i = 3; i < t.size(); ++i) EXPECT_EQ(t[i], source.pixels[i]);
}

TEST(ImageTextures, APictureOverTheMaximumSizeIsRefusedBeforeDecoding) {
    TempFolder dir;
    ASSERT_TRUE(writePng(dir / "wide.png", sourcePicture(65, 4)));
    ASSERT_TRUE(writePng(dir / "fits.png", sourcePicture(64, 64)));
    // A header claiming 1000 × 1000 with no pixel data behind it: decoding would
    // fail as unreadable, so refusal by size must come first.
    auto bytes = readBytes(dir / "fits.png");
    bytes[16] = 0, bytes[17] = 0, bytes[18] = 0x03, bytes[19] = 0xE8;
    bytes[20] = 0, bytes[21] = 0, bytes[22] = 0x03, bytes[23] = 0xE8;
    writeBytes(dir / "claims-huge.png", bytes);
    auto device = makeDevice(64);
    gfx::TexturePtr texture;
    EXPECT_EQ(
        createTextureFromFile(device.get(), dir / "wide.png", 0, 0, 1, 0, gfx::Format::Unknown,
                              gfx::Pool::Managed, 0xFF000000u, nullptr, &texture),
        gfx::kInvalidCall);
    EXPECT_EQ(createTextureFromFile(device.get(), dir / "claims-huge.png", 0, 0, 1, 0,
                                    gfx::Format::Unknown, gfx::Pool::Managed, 0xFF000000u, nullptr,
                                    &texture),
              gfx::kInvalidCall);
    EXPECT_FALSE(texture);
    Bitmap unused;
    EXPECT_EQ(decodeImageFile(dir / "claims-huge.png", &unused), kInvalidData);
    EXPECT_EQ(
        createTextureFromFile(device.get(), dir / "fits.png", 0, 0, 1, 0, gfx::Format::Unknown,
                              gfx::Pool::Managed, 0xFF000000u, nullptr, &texture),
        gfx::kOk);
    EXPECT_EQ(createTexture(device.get(), 65, 1, 1, 0, gfx::Format::A8R8G8B8, gfx::Pool::Managed,
                            &texture),
              gfx::kInvalidCall);
}

TEST(ImageTextures, APowerOfTwoCardPadsWithTransparency) {
    TempFolder dir;
    const Bitmap source = sourcePicture(5, 3);
    ASSERT_TRUE(writePng(dir / "p.png", source));
    auto device = makeDevice(8192, true);
    gfx::TexturePtr texture;
    ASSERT_EQ(createTextureFromFile(device.get(), dir / "p.png", 0, 0, 1, 0, gfx::Format::Unknown,
                                    gfx::Pool::Managed, 0, nullptr, &texture),
              gfx::kOk);
    uint32_t w = 0, h = 0;
    std::vector<uint32_t> t = texels(texture, &w, &h);
    ASSERT_EQ(w, 8u);
    ASSERT_EQ(h, 4u);
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x)
            EXPECT_EQ(t[y * w + x], x < 5 && y < 3 ? source.at(x, y) : 0u) << x << "," << y;
}

}  // namespace
}  // namespace gx::image
