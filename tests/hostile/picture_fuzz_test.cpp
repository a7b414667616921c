// Mutated copies of good pictures through every decoder path, as the saver meets them:
// the header, then the texture (size checked first), and the plain decode. A file is
// read or refused, never a crash, hang or out-of-bounds access (the sanitizer suite runs
// these too), and what is read agrees with its own header.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <zlib.h>

#include <cstdio>
#include <fstream>
#include <map>

#include "platform/gfx/gfx.h"
#include "platform/image/image.h"
#include "platform/image/image_write.h"
#include "support/mutation.h"
#include "support/picture_encoders.h"
#include "support/run.h"

namespace {

using namespace gx;
using gxtest::readFile;

constexpr uint32_t kMaxTexture = 2048;

image::Bitmap seedPicture(uint32_t w, uint32_t h, bool alpha) {
    image::Bitmap b;
    b.width = w;
    b.height = h;
    b.pixels.resize(size_t(w) * h);
    for (uint32_t i = 0; i < b.pixels.size(); ++i) {
        uint32_t a = alpha ? (i * 37u) & 0xFFu : 0xFFu;
        b.pixels[i] = a << 24 | ((i * 0x9E3779B9u) >> 8 & 0xFFFFFFu);
    }
    return b;
}

// Small files of every kind the writers make, and the bundled sample of that kind.
std::vector<std::string> seedsFor(const std::string& ext, const std::string& dir) {
    std::vector<std::string> seeds;
    const image::Bitmap small = seedPicture(24, 16, false), alpha = seedPicture(9, 7, true);
    const std::string path = dir + "/seed." + ext;
    auto keep = [&](bool written) {
        EXPECT_TRUE(written) << ext;
        if (written) seeds.push_back(readFile(path));
    };
    auto bytes = [&](const std::string& b) { seeds.push_back(b); };
    const image::Bitmap few = gxtest::paletted(24, 16, 12),
                        fewAlpha = gxtest::paletted(12, 9, 12, true);
    if (ext == "bmp") {
        keep(image::writeBmp(path, small));
        keep(image::writeBmp(path, alpha, true));
        bytes(gxtest::rleBmp(few, false));
        bytes(gxtest::rleBmp(few, true));
        gxtest::BmpWriter b565(5, -3, 16, 3, {}, {0xF800, 0x07E0, 0x001F});
        b565.data = std::string(3 * 12, '\x5A');
        bytes(b565.file());
    } else if (ext == "png") {
        keep(image::writePng(path, small));
        keep(image::writePng(path, alpha));
        gxtest::PngOptions sixteen, palette, interlaced;
        sixteen.depth = 16, sixteen.alpha = true, sixteen.orientation = 6;
        palette.palette = true, palette.alpha = true;
        interlaced.interlace = true;
        keep(gxtest::encodePng(path, alpha, sixteen));
        keep(gxtest::encodePng(path, fewAlpha, palette));
        keep(gxtest::encodePng(path, small, interlaced));
    } else if (ext == "jpg") {
        keep(image::writeJpg(path, small));
        keep(image::writeJpg(path, seedPicture(40, 24, false), 30));
        keep(image::writeJpg(path, small) && image::addJpegOrientation(path, 6));
        gxtest::JpegOptions progressive, cmyk, restart;
        progressive.progressive = true, progressive.orientation = 8;
        cmyk.cmyk = true;
        restart.restartRows = 1;
        keep(gxtest::encodeJpeg(path, small, progressive));
        keep(gxtest::encodeJpeg(path, small, cmyk));
        keep(gxtest::encodeJpeg(path, small, restart));
    } else if (ext == "tga") {
        keep(image::writeTga(path, small));
        keep(image::writeTga(path, alpha, true));
    } else if (ext == "hdr") {
        keep(image::writeHdr(path, small));                     // run-length scanlines
        keep(image::writeHdr(path, seedPicture(5, 3, false)));  // flat
    } else if (ext == "ppm") {
        keep(image::writePpm(path, small));
        bytes("P6\n3 2\n65535\n" + std::string(36, '\x7F'));
        bytes("P5 4 2 15\n" + std::string("\x00\x05\x0A\x0F\x0F\x0A\x05\x00", 8));
        bytes("P5\n2 2\n1000\n" + std::string("\x03\xE8\x01\x00\x00\x10\x02\x00", 8));
        bytes("P3\n# plain\n2 2\n255\n255 0 0  0 255 0\n0 0 255  255 255 255\n");
        bytes("P2 3 1 7\n0 3 7\n");
        bytes("P1\n5 2\n10101\n0 1 0 1 0\n");
        bytes("P4\n9 2\n" + std::string("\xAA\x80\x55\x00", 4));
    } else if (ext == "pfm") {
        keep(image::writePfm(path, small));
        keep(image::writePfm(path, alpha, true, false));
    } else if (ext == "dds") {
        for (auto e : {image::DdsEncoding::Bc1, image::DdsEncoding::Bc2, image::DdsEncoding::Bc3,
                       image::DdsEncoding::Rgb24, image::DdsEncoding::Argb32})
            keep(image::writeDds(path, small, e));
    } else if (ext == "gif") {
        gxtest::GifFrame interlaced{few, 0, 0, true}, placed{fewAlpha, 3, 2, false, true};
        keep(gxtest::encodeGif(path, 24, 16, {{few}, {few}}));
        keep(gxtest::encodeGif(path, 24, 16, {interlaced}));
        keep(gxtest::encodeGif(path, 20, 14, {placed}));
    } else if (ext == "tif") {
        gxtest::TiffOptions tiles, sixteen, cmyk, palette, withAlpha, rotated;
        tiles.tiles = true;
        sixteen.bits = 16;
        cmyk.cmyk = true;
        palette.palette = true;
        withAlpha.alpha = true, withAlpha.compression = COMPRESSION_ADOBE_DEFLATE;
        rotated.orientation = 6, rotated.compression = COMPRESSION_NONE;
        keep(gxtest::encodeTiff(path, small));
        keep(gxtest::encodeTiff(path, small, tiles));
        keep(gxtest::encodeTiff(path, small, sixteen));
        keep(gxtest::encodeTiff(path, small, cmyk));
        keep(gxtest::encodeTiff(path, few, palette));
        keep(gxtest::encodeTiff(path, alpha, withAlpha));
        keep(gxtest::encodeTiff(path, small, rotated));
    } else if (ext == "webp") {
        keep(gxtest::encodeWebp(path, small, true));
        keep(gxtest::encodeWebp(path, small, false, 6));
        keep(gxtest::encodeWebp(path, alpha, true, 3));
        keep(gxtest::encodeWebp(path, alpha, false));
        keep(gxtest::encodeAnimatedWebp(path, {alpha, seedPicture(9, 7, false)}));
    } else if (ext == "heic") {
        keep(gxtest::encodeHeif(path, small, false, 50));
        keep(gxtest::encodeHeif(path, small, false, 50, 6));
    } else if (ext == "avif") {
        keep(gxtest::encodeHeif(path, small, true, 50));
        keep(gxtest::encodeHeif(path, alpha, true, 50, 8));
    } else if (ext == "jxl") {
        keep(gxtest::encodeJxl(path, small, true));
        keep(gxtest::encodeJxl(path, alpha, false, 6));
    }
    static const std::map<std::string, std::string> kSamples = {
        {"bmp", "tiles.bmp"},      {"png", "sunset.png"}, {"jpg", "nebula.jpg"},
        {"tga", "lighthouse.tga"}, {"hdr", "aurora.hdr"}, {"ppm", "flowers.ppm"},
        {"dds", "rings.dds"}};
    if (auto s = kSamples.find(ext); s != kSamples.end())
        seeds.push_back(readFile(gxtest::sourceDir() + "/data/samples/" + s->second));
    return seeds;
}

std::unique_ptr<gfx::Device> device() {
    std::unique_ptr<gfx::Device> d;
    gfx::PresentParameters pp;
    pp.backBufferWidth = 64;
    pp.backBufferHeight = 48;
    gfx::DeviceOptions options;
    options.maxTextureSize = kMaxTexture;
    EXPECT_EQ(gfx::createDevice(pp, options, &d), gfx::kOk);
    return d;
}

struct Outcome {
    bool read = false;
};

// One file through the three calls; failures name the file so it can be kept.
Outcome tryFile(gfx::Device* dev, const std::string& path) {
    Outcome o;
    image::ImageInfo info;
    if (gfx::failed(image::getImageInfoFromFile(path, &info))) return o;
    EXPECT_GT(info.width, 0u);
    EXPECT_GT(info.height, 0u);
    EXPECT_LE(info.width, image::kMaxDimension);
    EXPECT_LE(info.height, image::kMaxDimension);
    gfx::TexturePtr texture;
    image::ImageInfo srcInfo;
    gfx::Result t =
        image::createTextureFromFile(dev, path, 0, 0, 1, 0, gfx::Format::Unknown,
                                     gfx::Pool::Managed, 0xFF000000u, &srcInfo, &texture);
    if (info.width > kMaxTexture || info.height > kMaxTexture) {
        EXPECT_TRUE(gfx::failed(t)) << "a picture over the maximum size was made into a texture";
        return o;
    }
    image::Bitmap bitmap;
    gfx::Result d = image::decodeImageFile(path, &bitmap);
    EXPECT_EQ(gfx::succeeded(d), gfx::succeeded(t)) << "the decode and the texture disagree";
    if (gfx::succeeded(d)) {
        EXPECT_EQ(bitmap.width, info.width);
        EXPECT_EQ(bitmap.height, info.height);
        EXPECT_EQ(bitmap.pixels.size(), size_t(bitmap.width) * bitmap.height);
    }
    if (gfx::succeeded(t)) {
        gfx::SurfaceDesc desc;
        EXPECT_EQ(texture->getLevelDesc(0, &desc), gfx::kOk);
        EXPECT_EQ(desc.width, info.width);
        EXPECT_EQ(desc.height, info.height);
        EXPECT_EQ(srcInfo.width, info.width);
        o.read = true;
    }
    return o;
}

// Recomputes the CRC of every whole chunk after the signature.
void mendPngChecks(std::string* png) {
    for (size_t at = 8; at + 12 <= png->size();) {
        const auto* p = reinterpret_cast<const uint8_t*>(png->data() + at);
        const uint32_t length =
            uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
        if (length > png->size() - at - 12) break;
        const uLong crc = crc32(0, p + 4, uInt(length + 4));
        for (int k = 0; k < 4; ++k) (*png)[at + 8 + length + size_t(k)] = char(crc >> (24 - 8 * k));
        at += size_t(length) + 12;
    }
}

class PictureFuzz : public ::testing::TestWithParam<const char*> {};

TEST_P(PictureFuzz, MutatedFilesAreReadOrRefused) {
    const std::string ext = GetParam();
    const std::string dir = gxtest::fuzzFolder("gxfuzz-" + ext);
    ASSERT_FALSE(dir.empty());
    std::vector<std::string> seeds = seedsFor(ext, dir);
    ASSERT_FALSE(seeds.empty());
    auto dev = device();
    ASSERT_NE(dev, nullptr);
    const std::string path = dir + "/m." + ext;
    for (size_t i = 0; i < seeds.size(); ++i) {
        std::ofstream(path, std::ios::binary | std::ios::trunc) << seeds[i];
        EXPECT_TRUE(tryFile(dev.get(), path).read)
            << ext << " seed " << i << " does not load unchanged";
    }
    const uint32_t seed = gxtest::fuzzSeed(0x5EED0000u + uint32_t(ext[0]) * 7u + uint32_t(ext[1]));
    gxtest::Mutator m(seed);
    const int n = gxtest::fuzzIterations(3000);
    int read = 0, refused = 0;
    for (int i = 0; i < n; ++i) {
        std::string bytes = m.mutate(seeds[size_t(i) % seeds.size()]);
        // libpng refuses a chunk whose check value is wrong: half the PNGs get theirs
        // mended, so the mutations reach the decoder behind it.
        if (ext == "png" && i % 2 == 0) mendPngChecks(&bytes);
        std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
        SCOPED_TRACE("seed " + std::to_string(seed) + " iteration " + std::to_string(i));
        (tryFile(dev.get(), path).read ? read : refused)++;
        if (HasFailure()) {
            std::ofstream(dir + "/../glimmerax-fuzz-failure." + ext, std::ios::binary) << bytes;
            break;
        }
    }
    std::printf("%s: %d mutated files read, %d refused\n", ext.c_str(), read, refused);
    EXPECT_GT(refused, 0);
    gxtest::removeFuzzFolder(dir);
}

INSTANTIATE_TEST_SUITE_P(EveryDecoder, PictureFuzz,
                         ::testing::Values("bmp", "dds", "hdr", "jpg", "pfm", "png", "ppm", "tga",
                                           "gif", "tif", "webp", "heic", "avif", "jxl"),
                         [](const auto& info) { return std::string(info.param); });

// Runs the body in a child with an alarm, so a decoder that never returns fails the
// test instead of holding up the suite.
template <typename F>
int inChildWithin(unsigned seconds, F body) {
    pid_t pid = fork();
    if (pid == 0) {
        alarm(seconds);
        _exit(body() ? 0 : 1);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return WEXITSTATUS(status);
}

// Found by the mutation run: run-length HDR data cut inside a scanline kept the decoder
// reading zero counts past the end for ever.
TEST(PictureFuzzRegressions, RadianceDataEndingInsideAScanlineIsRefused) {
    const std::string dir = gxtest::fuzzFolder("gxhdr");
    ASSERT_TRUE(image::writeHdr(dir + "/good.hdr", seedPicture(24, 16, false)));
    const std::string good = readFile(dir + "/good.hdr");
    const size_t dataStart = good.find("+X 24\n") + 6;
    ASSERT_LT(dataStart, good.size());
    // Cut at several points inside the scanlines, and a count of zero as the last byte.
    std::vector<std::string> cuts;
    for (size_t at :
         {dataStart + 4, dataStart + 5, dataStart + 40, good.size() / 2, good.size() - 1})
        cuts.push_back(good.substr(0, at));
    cuts.push_back(good.substr(0, dataStart + 4) + std::string(1, '\0'));
    for (size_t i = 0; i < cuts.size(); ++i) {
        const std::string path = dir + "/cut" + std::to_string(i) + ".hdr";
        std::ofstream(path, std::ios::binary) << cuts[i];
        int code = inChildWithin(20, [&] {
            image::Bitmap b;
            return image::decodeImageFile(path, &b) == image::kInvalidData;
        });
        EXPECT_EQ(code, 0) << "cut " << i
                           << (code == 128 + SIGALRM ? ": the decoder did not return" : ": read");
    }
    // The whole file still reads.
    image::Bitmap b;
    EXPECT_EQ(image::decodeImageFile(dir + "/good.hdr", &b), gfx::kOk);
    EXPECT_EQ(b.width, 24u);
    gxtest::removeFuzzFolder(dir);
}

// Deflate bits, first bit first; Huffman codes go in from their top bit.
struct BitWriter {
    std::string bytes;
    int used = 8;
    void bit(int b) {
        if (used == 8) {
            bytes.push_back('\0');
            used = 0;
        }
        if (b) bytes.back() = char(bytes.back() | (1 << used));
        ++used;
    }
    void number(uint32_t v, int n) {
        for (int i = 0; i < n; ++i) bit(int(v >> i & 1));
    }
    void code(uint32_t v, int n) {
        for (int i = n - 1; i >= 0; --i) bit(int(v >> i & 1));
    }
};

std::string chunk(const char* type, const std::string& data) {
    std::string out;
    for (int k = 3; k >= 0; --k) out.push_back(char(data.size() >> (8 * k)));
    std::string body = std::string(type, 4) + data;
    uLong crc = crc32(0, reinterpret_cast<const Bytef*>(body.data()), uInt(body.size()));
    out += body;
    for (int k = 3; k >= 0; --k) out.push_back(char(crc >> (8 * k)));
    return out;
}

// Found by the mutation run: a deflate distance code of 30 (deflate has none) made the
// PNG decoder copy bytes it had not written, so a damaged file showed heap contents and
// read differently from one decode to the next.
TEST(PictureFuzzRegressions, PngWithAnUndefinedDistanceCodeIsRefused) {
    BitWriter w;
    w.number(1, 1);       // last block
    w.number(1, 2);       // fixed codes
    w.code(0x30 + 0, 8);  // literal 0: the row's filter byte
    w.code(1, 7);         // length 3
    w.code(30, 5);        // distance code 30
    w.code(0, 7);         // end of block
    std::string zlibStream = std::string("\x78\x01", 2) + w.bytes + std::string(4, '\0');
    const std::string ihdr("\0\0\0\1\0\0\0\1\x08\x02\0\0\0", 13);  // 1 x 1 RGB, 8 bits
    const std::string png = std::string("\x89PNG\r\n\x1a\n", 8) + chunk("IHDR", ihdr) +
                            chunk("IDAT", zlibStream) + chunk("IEND", "");
    const std::string dir = gxtest::fuzzFolder("gxpng");
    const std::string path = dir + "/distance30.png";
    std::ofstream(path, std::ios::binary) << png;
    image::ImageInfo info;
    ASSERT_EQ(image::getImageInfoFromFile(path, &info), gfx::kOk);
    EXPECT_EQ(info.width, 1u);
    image::Bitmap b;
    EXPECT_EQ(image::decodeImageFile(path, &b), image::kInvalidData);
    // The same picture with its three bytes given as literals reads.
    BitWriter ok;
    ok.number(1, 1);
    ok.number(1, 2);
    for (int v : {0, 10, 20, 30}) ok.code(0x30 + uint32_t(v), 8);
    ok.code(0, 7);
    const uint8_t raw[4] = {0, 10, 20, 30};
    uLong adler = adler32(adler32(0, nullptr, 0), raw, 4);
    std::string good = std::string("\x78\x01", 2) + ok.bytes;
    for (int k = 3; k >= 0; --k) good.push_back(char(adler >> (8 * k)));
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        << std::string("\x89PNG\r\n\x1a\n", 8) + chunk("IHDR", ihdr) + chunk("IDAT", good) +
               chunk("IEND", "");
    ASSERT_EQ(image::decodeImageFile(path, &b), gfx::kOk);
    EXPECT_EQ(b.pixels[0], 0xFF0A141Eu);
    gxtest::removeFuzzFolder(dir);
}

// Found by the mutation run under the sanitizers: a scan naming a Huffman table that no
// segment defined had the JPEG decoder read tables it never filled, so the same file
// read or failed by chance.
TEST(PictureFuzzRegressions, JpegScanUsingAnUndefinedTableIsRefused) {
    const std::string dir = gxtest::fuzzFolder("gxjpg");
    const std::string path = dir + "/p.jpg";
    ASSERT_TRUE(image::writeJpg(path, seedPicture(24, 16, false)));
    std::string jpg = readFile(path);
    const size_t sos = jpg.find("\xFF\xDA");
    ASSERT_NE(sos, std::string::npos);
    const size_t count = uint8_t(jpg[sos + 4]);
    for (size_t i = 0; i < count; ++i) {
        std::string bad = jpg;
        bad[sos + 6 + 2 * i] =
            char((bad[sos + 6 + 2 * i] & 0xF0) | 3);  // AC table 3: never defined
        std::ofstream(path, std::ios::binary | std::ios::trunc) << bad;
        image::Bitmap b;
        EXPECT_EQ(image::decodeImageFile(path, &b), image::kInvalidData) << "component " << i;
        bad = jpg;
        bad[sos + 6 + 2 * i] = char((bad[sos + 6 + 2 * i] & 0x0F) | 0x30);  // DC table 3
        std::ofstream(path, std::ios::binary | std::ios::trunc) << bad;
        EXPECT_EQ(image::decodeImageFile(path, &b), image::kInvalidData) << "component " << i;
    }
    std::ofstream(path, std::ios::binary | std::ios::trunc) << jpg;
    image::Bitmap b;
    EXPECT_EQ(image::decodeImageFile(path, &b), gfx::kOk);
    gxtest::removeFuzzFolder(dir);
}

}  // namespace
