// Broken and hostile picture files, each on its own, through the calls the saver makes
// (header, texture, plain decode) and through the picture list; and folders that are
// huge, looping or gone. Nothing crashes, nothing huge is allocated, and a file that
// cannot be shown leaves the list while the rest still show.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <functional>

#include "config/settings.h"
#include "pictures/picture_list.h"
#include "pictures/picture_loading.h"
#include "platform/gfx/gfx.h"
#include "platform/image/image.h"
#include "platform/image/image_write.h"
#include "platform/os/message_box.h"
#include "support/picture_encoders.h"
#include "support/run.h"
#include "support/temp_folder.h"

namespace {

using namespace gx;
using gxtest::readFile;

image::Bitmap colourful(uint32_t w, uint32_t h) {
    image::Bitmap b;
    b.width = w;
    b.height = h;
    b.pixels.resize(size_t(w) * h);
    for (uint32_t i = 0; i < w * h; ++i)
        b.pixels[i] = 0xFF000000u | (0x405060u + i * 2654435761u % 0xBFBFBF);
    return b;
}

long peakKilobytes() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

class HostilePictures : public ::testing::Test {
protected:
    void SetUp() override {
        dir = gxtest::makeTempDir("gxhostilepics");
        resetPictureSource();
        setMessageBoxSink(
            [this](const std::string& text, const std::string&) { messages.push_back(text); });
        setPictureQuadWriter([](uint32_t, uint32_t) {});
        std::memset(settings.ImagePath, 0, sizeof settings.ImagePath);
        gfx::PresentParameters pp;
        pp.backBufferWidth = 64;
        pp.backBufferHeight = 48;
        gfx::DeviceOptions options;
        options.maxTextureSize = 4096;
        ASSERT_EQ(gfx::createDevice(pp, options, &device), gfx::kOk);
        setPictureDevice(device.get());
    }
    void TearDown() override {
        resetPictureSource();
        setMessageBoxSink({});
        std::memset(settings.ImagePath, 0, sizeof settings.ImagePath);
        gxtest::removeTree(dir);
    }

    std::string goodPng() {
        EXPECT_TRUE(image::writePng(dir + "/good.tmp", colourful(64, 48)));
        std::string bytes = readFile(dir + "/good.tmp");
        std::remove((dir + "/good.tmp").c_str());
        return bytes;
    }
    std::string goodJpg() {
        EXPECT_TRUE(image::writeJpg(dir + "/good.tmp", colourful(64, 48)));
        std::string bytes = readFile(dir + "/good.tmp");
        std::remove((dir + "/good.tmp").c_str());
        return bytes;
    }

    // Every call refuses the file, and in the list it gives way to a good picture.
    void expectRefused(const std::string& name, const std::string& bytes) {
        SCOPED_TRACE(name);
        const std::string path = dir + "/" + name;
        gxtest::writeFile(path, bytes);
        long before = peakKilobytes();
        image::ImageInfo info;
        gfx::Result header = image::getImageInfoFromFile(path, &info);
        gfx::TexturePtr texture;
        gfx::Result made =
            image::createTextureFromFile(device.get(), path, 0, 0, 1, 0, gfx::Format::Unknown,
                                         gfx::Pool::Managed, 0xFF000000u, nullptr, &texture);
        image::Bitmap bitmap;
        gfx::Result decoded = image::decodeImageFile(path, &bitmap);
        EXPECT_TRUE(gfx::failed(made));
        EXPECT_TRUE(gfx::failed(decoded));
        EXPECT_EQ(texture, nullptr);
        EXPECT_TRUE(bitmap.pixels.empty());
        (void)header;  // a header may read fine when only the pixels are missing
        EXPECT_LT(peakKilobytes() - before, 256 * 1024)
            << "refusing the file took that much memory";

        // In the list: skipped for the good picture after it, and dropped.
        ASSERT_TRUE(image::writeBmp(dir + "/zz-good.bmp", colourful(40, 30)));
        std::strncpy(settings.ImagePath, dir.c_str(), sizeof settings.ImagePath - 1);
        buildPictureList();
        // Round the list so that every file is tried (the scan groups by extension).
        for (size_t round = pictureCount() + 1; round > 0; --round) {
            ASSERT_TRUE(loadCurrentPicture());
            EXPECT_EQ(loadedPictureWidth(), 40u);
            EXPECT_FALSE(pictureIsCapture());
            advancePicture(false);
        }
        EXPECT_TRUE(messages.empty());
        bool stillListed = false;
        std::string listed;
        for (PictureNode* n = pictureList(); n; n = n->next) {
            stillListed |= n->path == path;
            listed += n->path + "\n";
        }
        SCOPED_TRACE("list:\n" + listed);
        // Only a picture too large for the device stays (a smaller device may come).
        if (gfx::succeeded(header) && (info.width > 4096 || info.height > 4096)) {
            EXPECT_TRUE(stillListed);
        } else {
            EXPECT_FALSE(stillListed);
        }
    }

    std::string dir;
    std::unique_ptr<gfx::Device> device;
    std::vector<std::string> messages;
};

TEST_F(HostilePictures, EmptyFile) { expectRefused("empty.png", ""); }

TEST_F(HostilePictures, TruncatedPng) {
    std::string png = goodPng();
    expectRefused("half.png", png.substr(0, png.size() / 2));
    expectRefused("header-only.png", png.substr(0, 33));
}

TEST_F(HostilePictures, TruncatedJpg) {
    std::string jpg = goodJpg();
    // Cut before the frame header, and after it; a partly decoded JPEG may still show,
    // but only at the size its header gives.
    expectRefused("start.jpg", jpg.substr(0, 20));
    const std::string path = dir + "/third.jpg";
    gxtest::writeFile(path, jpg.substr(0, jpg.size() / 3));
    image::Bitmap bitmap;
    if (gfx::succeeded(image::decodeImageFile(path, &bitmap))) {
        EXPECT_EQ(bitmap.width, 64u);
        EXPECT_EQ(bitmap.height, 48u);
    }
}

TEST_F(HostilePictures, PicturesClaimingATenGigapixelSize) {
    // A PNG and a BMP header of 100000 x 100000 over a few bytes of pixels.
    std::string png = goodPng();
    const unsigned char dims[8] = {0x00, 0x01, 0x86, 0xA0, 0x00, 0x01, 0x86, 0xA0};
    png.replace(16, 8, reinterpret_cast<const char*>(dims), 8);
    expectRefused("huge.png", png);
    ASSERT_TRUE(image::writeBmp(dir + "/b.tmp", colourful(8, 8)));
    std::string bmp = readFile(dir + "/b.tmp");
    std::remove((dir + "/b.tmp").c_str());
    int32_t side = 100000;
    std::memcpy(&bmp[18], &side, 4);
    std::memcpy(&bmp[22], &side, 4);
    expectRefused("huge.bmp", bmp);
}

TEST_F(HostilePictures, TheFormatsOfTodayClaimingHugeSizes) {
    // A GIF whose screen is 65535 x 65535 around a 2 x 2 frame.
    std::string gif = std::string("GIF89a") + std::string("\xFF\xFF\xFF\xFF\x80\0\0", 7) +
                      std::string(6, '\x40') +
                      std::string("\x2C\0\0\0\0\x02\0\x02\0\0\x02\x02\x44\x01\0;", 16);
    expectRefused("huge.gif", gif);
    // A TIFF of 100000 x 100000 in one uncompressed strip of a few bytes.
    gxtest::TiffOptions plain;
    plain.compression = COMPRESSION_NONE;
    ASSERT_TRUE(gxtest::encodeTiff(dir + "/t.tmp", colourful(8, 8), plain));
    std::string tiff = readFile(dir + "/t.tmp");
    std::remove((dir + "/t.tmp").c_str());
    for (size_t at = 8; at + 12 <= tiff.size(); at += 12) {  // widen the width and length entries
        uint16_t tag;
        std::memcpy(&tag, &tiff[at + 2], 2);
        if (tag == 256 || tag == 257) {
            const uint32_t side = 100000;
            std::memcpy(&tiff[at + 2 + 8], &side, 4);
        }
    }
    expectRefused("huge.tif", tiff);
    // Netpbm headers far beyond their data, in every binary kind and 16 bits.
    expectRefused("huge.ppm", "P6\n60000 60000\n65535\n" + std::string(1000, '\x7F'));
    expectRefused("huge.pgm", "P5 60000 60000 255\n" + std::string(1000, '\x7F'));
    expectRefused("huge.pbm", "P4 60000 60000\n" + std::string(1000, '\x7F'));
    // Run-length data: a run far past the row's end, then a move far outside.
    gxtest::BmpWriter rle(4, 4, 8, 1, {0xFF0000});
    rle.data = std::string("\xFF\0\0\2\x01\x00\xFF\0\0\2\xFF\xFF\xFF\0\0\1", 16);
    gxtest::writeFile(dir + "/moves.bmp", rle.file());
    image::Bitmap b;
    EXPECT_EQ(image::decodeImageFile(dir + "/moves.bmp", &b), gfx::kOk);
    EXPECT_EQ(b.width, 4u);
}

// 16-bit binary PPM and PGM of the size raw converters write: read whole, never run
// off the end, and a cut copy is refused.
TEST_F(HostilePictures, SixteenBitNetpbmFromRawConverters) {
    std::string ppm = "P6\n1200 800\n65535\n", pgm = "P5\n1200 800\n65535\n";
    for (uint32_t i = 0; i < 1200 * 800; ++i) {
        const uint16_t v = uint16_t(i * 2654435761u >> 16);
        for (int k = 0; k < 3; ++k) ppm += char(v >> 8), ppm += char(v & 0xFF);
        pgm += char(v >> 8), pgm += char(v & 0xFF);
    }
    gxtest::writeFile(dir + "/raw.ppm", ppm);
    gxtest::writeFile(dir + "/raw.pgm", pgm);
    for (const char* name : {"/raw.ppm", "/raw.pgm"}) {
        image::Bitmap b;
        ASSERT_EQ(image::decodeImageFile(dir + name, &b), gfx::kOk) << name;
        EXPECT_EQ(b.width, 1200u);
        EXPECT_EQ(b.height, 800u);
        std::remove((dir + name).c_str());
    }
    expectRefused("cut.ppm", ppm.substr(0, ppm.size() - 1));
}

TEST_F(HostilePictures, DdsWithALyingHeader) {
    std::string dds = "DDS ";
    dds.resize(128, '\0');
    auto put = [&](size_t at, uint32_t v) { std::memcpy(&dds[at], &v, 4); };
    put(4, 124);
    put(8, 0x1007);
    put(12, 4096);  // height
    put(16, 4096);  // width
    put(76, 32);
    put(80, 0x4);
    std::memcpy(&dds[84], "DXT1", 4);
    expectRefused("lying-dxt1.dds", dds + std::string(64, 'x'));
    // Uncompressed, claiming 32 bits per pixel but with masks and pitch of nonsense.
    put(80, 0x41);
    put(88, 32);
    put(92, 0xFFFFFFFF);
    put(96, 0xFFFFFFFF);
    put(100, 0);
    put(104, 0);
    put(20, 0xFFFFFFFF);  // pitch
    expectRefused("lying-rgb.dds", dds + std::string(300, 'y'));
    put(80, 0x4);
    std::memcpy(&dds[84], "ABCD", 4);  // an unknown compression
    put(12, 4);
    put(16, 4);
    expectRefused("unknown.dds", dds + std::string(64, 'z'));
}

TEST_F(HostilePictures, PfmWithANegativeNanOrInfiniteScale) {
    const std::string colour(4 * 4 * 12, '\x01');
    expectRefused("nan.pfm", "PF\n4 4\nnan\n" + colour);
    expectRefused("minus-nan.pfm", "PF\n4 4\n-nan\n" + colour);
    expectRefused("inf.pfm", "Pf\n4 4\n-inf\n" + std::string(4 * 4 * 4, '\x01'));
    expectRefused("zero.pfm", "PF\n4 4\n-0.0\n" + colour);
    expectRefused("short.pfm", "PF\n4 4\n-1.0\n" + colour.substr(1));
    // A negative scale is the little-endian order, nothing wrong with it.
    gxtest::writeFile(dir + "/little.pfm", "PF\n4 4\n-1.0\n" + colour);
    image::Bitmap b;
    ASSERT_EQ(image::decodeImageFile(dir + "/little.pfm", &b), gfx::kOk);
    EXPECT_EQ(b.width, 4u);
}

TEST_F(HostilePictures, TextFileNamedAsAPicture) {
    expectRefused("notes.png", "this is not a picture at all\n");
    expectRefused("notes.jpg", std::string(5000, 'a'));
    expectRefused("zeros.bmp", std::string("BM") + std::string(60, '\0'));
}

// 10,000 pictures in one folder: the scan and the first picture must not keep the
// screen waiting.
TEST_F(HostilePictures, TenThousandPicturesScanAndTheFirstLoads) {
    // In memory when there is room: making the files is not what is measured.
    struct stat st {};
    std::string base = stat("/dev/shm", &st) == 0 ? "/dev/shm" : "/tmp";
    std::string many = base + "/gxmany-XXXXXX";
    ASSERT_NE(mkdtemp(many.data()), nullptr);
    ASSERT_TRUE(image::writeBmp(many + "/0000.bmp", colourful(32, 24)));
    const std::string bmp = readFile(many + "/0000.bmp");
    for (int i = 1; i < 10000; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "/%04d.bmp", i);
        gxtest::writeFile(many + name, bmp);
    }
    std::strncpy(settings.ImagePath, many.c_str(), sizeof settings.ImagePath - 1);
    auto t0 = std::chrono::steady_clock::now();
    buildPictureList();
    ASSERT_TRUE(loadCurrentPicture());
    double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    EXPECT_EQ(pictureCount(), 10000u);
    EXPECT_EQ(currentPicture()->path, many + "/0000.bmp");
    EXPECT_EQ(loadedPictureWidth(), 32u);
    std::printf("10,000 pictures: scan and first picture in %.3f s\n", took);
    EXPECT_LT(took, 2.0);
    releasePictures();
    (void)std::system(("rm -rf '" + many + "'").c_str());
}

TEST_F(HostilePictures, AFolderThatVanishesAfterTheScan) {
    const std::string gone = dir + "/gone";
    mkdir(gone.c_str(), 0755);
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(
            image::writeBmp(gone + "/p" + std::to_string(i) + ".bmp", colourful(20 + i, 10)));
    std::strncpy(settings.ImagePath, gone.c_str(), sizeof settings.ImagePath - 1);
    buildPictureList();
    ASSERT_EQ(pictureCount(), 3u);
    ASSERT_TRUE(loadCurrentPicture());
    EXPECT_EQ(loadedPictureWidth(), 20u);
    gxtest::removeTree(gone);
    ASSERT_FALSE(gxtest::fileExists(gone));
    // During the run the picture on screen stays; the vanished files leave the list.
    for (int i = 0; i < 5; ++i) {
        advancePicture(false);
        EXPECT_TRUE(loadCurrentPicture());
        EXPECT_EQ(loadedPictureWidth(), 20u);
    }
    EXPECT_EQ(pictureCount(), 0u);
    EXPECT_TRUE(messages.empty());
    // At the very start nothing can be shown: the clear message, not a crash.
    resetPictureSource();
    setPictureDevice(device.get());
    buildPictureList();
    EXPECT_FALSE(loadCurrentPicture());
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].rfind("Could not load ", 0), 0u) << messages[0];
}

TEST_F(HostilePictures, LinkLoopsAndDanglingLinks) {
    const std::string root = dir + "/root";
    mkdir(root.c_str(), 0755);
    mkdir((root + "/a").c_str(), 0755);
    ASSERT_EQ(symlink(root.c_str(), (root + "/a/up").c_str()), 0);
    ASSERT_EQ(symlink((root + "/a").c_str(), (root + "/a/self").c_str()), 0);
    ASSERT_EQ(symlink((root + "/x").c_str(), (root + "/y").c_str()), 0);  // y -> x -> y
    ASSERT_EQ(symlink((root + "/y").c_str(), (root + "/x").c_str()), 0);
    ASSERT_EQ(symlink((root + "/nowhere.png").c_str(), (root + "/dangling.png").c_str()), 0);
    ASSERT_TRUE(image::writeBmp(root + "/a/p.bmp", colourful(24, 12)));
    std::strncpy(settings.ImagePath, root.c_str(), sizeof settings.ImagePath - 1);
    buildPictureList();
    size_t copies = 0;
    for (PictureNode* n = pictureList(); n; n = n->next)
        copies += n->path.find("p.bmp") != std::string::npos;
    EXPECT_EQ(copies, 1u);
    ASSERT_TRUE(loadCurrentPicture());
    EXPECT_EQ(loadedPictureWidth(), 24u);
    EXPECT_TRUE(messages.empty());
}

}  // namespace
