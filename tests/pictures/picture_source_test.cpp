// The picture source end to end on real folders: scan order, links, unreadable
// folders, the ImagePath forms, cycling, dropped files, the capture fallback and its
// keeping across device re-creation, and the device's size limit.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "config/settings.h"
#include "framework/framework.h"
#include "pictures/picture_list.h"
#include "pictures/picture_loading.h"
#include "pictures/smoothing.h"
#include "platform/gfx/gfx.h"
#include "platform/image/image_write.h"
#include "platform/os/message_box.h"
#include "support/temp_folder.h"

namespace gx {
namespace {

namespace fs = std::filesystem;

image::Bitmap solid(uint32_t w, uint32_t h, uint32_t colour) {
    image::Bitmap b;
    b.width = w;
    b.height = h;
    b.pixels.assign(size_t(w) * h, colour);
    return b;
}

std::vector<std::string> listed() {
    std::vector<std::string> out;
    for (PictureNode* n = pictureList(); n; n = n->next) out.push_back(n->path);
    return out;
}

class PictureSource : public ::testing::Test {
protected:
    void SetUp() override {
        root = gxtest::makeTempDir("gx-pictures");
        ASSERT_FALSE(root.empty());
        resetPictureSource();
        setMessageBoxSink([this](const std::string& text, const std::string& caption) {
            messages.push_back(caption + ": " + text);
        });
        setPictureQuadWriter([this](uint32_t w, uint32_t h) { quads.push_back({w, h}); });
        std::memset(settings.ImagePath, 0, sizeof settings.ImagePath);
        RenderSuppressed = false;
        useDevice(8192);
    }
    void TearDown() override {
        resetPictureSource();
        setMessageBoxSink({});
        std::memset(settings.ImagePath, 0, sizeof settings.ImagePath);
        gxtest::removeTree(root);
    }

    void useDevice(uint32_t maxTextureSize) {
        gfx::PresentParameters pp;
        pp.backBufferWidth = 64;
        pp.backBufferHeight = 48;
        pp.windowed = true;
        gfx::DeviceOptions options;
        options.maxTextureSize = maxTextureSize;
        ASSERT_EQ(gfx::createDevice(pp, options, &device), gfx::kOk);
        setPictureDevice(device.get());
    }
    std::string at(const std::string& name) const { return (root / name).string(); }
    void folder(const std::string& name) const { fs::create_directories(root / name); }
    void picture(const std::string& name, uint32_t w = 4, uint32_t h = 3) const {
        fs::create_directories((root / name).parent_path());
        ASSERT_TRUE(image::writePng(at(name), solid(w, h, 0xFF2080C0u)));
    }
    void text(const std::string& name) const {
        fs::create_directories((root / name).parent_path());
        std::ofstream(at(name)) << "not a picture";
    }
    void build(const std::string& imagePath) {
        std::strncpy(settings.ImagePath, imagePath.c_str(), sizeof settings.ImagePath - 1);
        buildPictureList();
    }
    uint32_t lastQuadWidth() const { return quads.empty() ? 0 : quads.back().first; }

    fs::path root;
    std::unique_ptr<gfx::Device> device;
    std::vector<std::string> messages;
    std::vector<std::pair<uint32_t, uint32_t>> quads;
};

TEST_F(PictureSource, FolderOrderIsExtensionThenNameThenSubfolders) {
    picture("b.png");
    picture("a.bmp");
    picture("sub/c.jpg");
    picture("A2.png");
    picture("c.PNG");
    picture("x.JpG");
    picture(".hidden.png");
    picture(".secret/z.png");
    picture("a-sub/d.tga");
    picture("my.pics/e.dds");
    text("notes.txt");
    std::string cwd = fs::current_path();
    build(root.string());
    EXPECT_EQ(listed(), (std::vector<std::string>{at("a.bmp"), at("x.JpG"), at("A2.png"),
                                                  at("b.png"), at("c.PNG"), at("a-sub/d.tga"),
                                                  at("my.pics/e.dds"), at("sub/c.jpg")}));
    EXPECT_EQ(currentPicture(), pictureList());
    EXPECT_EQ(fs::current_path().string(), cwd);
}

TEST_F(PictureSource, TheFormatsOfTodayTakeTheirTurnsAndNamesFoldToUpperCase) {
    // Other spellings share a turn of the nine; the formats of today follow them.
    for (const char* name :
         {"z.jxl",  "y.avif", "x.heif", "w.HEIC", "v.webp", "u.tiff", "t.tif",  "s.gif",
          "r.tga",  "q.ppm",  "p.pgm",  "o.PBM",  "n.pnm",  "m.png",  "l.jfif", "k.jpe",
          "j.JPEG", "i.jpg",  "h.hdr",  "g.dib",  "f.dds",  "e.bmp",  "d.xcf",  "c.jxr"})
        picture(name);
    picture("sub/a.avif");
    // Case folded to upper: '_' sorts after every letter.
    picture("names/IMG_1.png");
    picture("names/imgB.png");
    picture("names/imga.png");
    picture("names/Img.png");
    build(root.string());
    std::vector<std::string> want;
    for (const char* name :
         {"e.bmp",           "f.dds",     "g.dib",         "h.hdr",          "i.jpg",
          "j.JPEG",          "k.jpe",     "l.jfif",        "m.png",          "n.pnm",
          "o.PBM",           "p.pgm",     "q.ppm",         "r.tga",          "s.gif",
          "t.tif",           "u.tiff",    "v.webp",        "w.HEIC",         "x.heif",
          "y.avif",          "z.jxl",     "names/Img.png", "names/imga.png", "names/imgB.png",
          "names/IMG_1.png", "sub/a.avif"})
        want.push_back(at(name));
    EXPECT_EQ(listed(), want);
    // A single file of a new type is taken too.
    build(at("y.avif"));
    EXPECT_EQ(listed(), std::vector<std::string>{at("y.avif")});
}

TEST_F(PictureSource, LinkedFoldersAreScannedOnce) {
    picture("pics/a.png");
    picture("pics/sub/b.png");
    picture("elsewhere/c.png");
    fs::create_directory_symlink(root / "pics", root / "pics/sub/loop");  // back up the tree
    fs::create_directory_symlink(root / "elsewhere", root / "pics/one");  // the same folder twice
    fs::create_directory_symlink(root / "elsewhere", root / "pics/two");
    fs::create_symlink(root / "gone", root / "pics/broken");
    build(at("pics"));
    EXPECT_EQ(listed(), (std::vector<std::string>{at("pics/a.png"), at("pics/one/c.png"),
                                                  at("pics/sub/b.png")}));
}

TEST_F(PictureSource, AnUnreadableSubfolderDoesNotDisturbItsSiblings) {
    picture("pics/a/1.png");
    picture("pics/b/2.png");
    picture("pics/c/3.png");
    picture("pics/top.png");
    fs::permissions(root, fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
    fs::permissions(root / "pics/b", fs::perms::none);
    std::vector<std::string> want = {at("pics/top.png"), at("pics/a/1.png"), at("pics/c/3.png")};
    if (geteuid() != 0) {
        build(at("pics"));
        EXPECT_EQ(listed(), want);
        return;
    }
    // Root reads every folder: scan as an ordinary user in a child process.
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(fds[0]);
        if (setgid(65534) != 0 || setuid(65534) != 0) _exit(2);
        scanFolder(at("pics"));
        std::string out;
        for (const auto& p : listed()) out += p + "\n";
        if (write(fds[1], out.data(), out.size()) != ssize_t(out.size())) _exit(3);
        _exit(0);
    }
    close(fds[1]);
    std::string got;
    char buffer[4096];
    for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) > 0;) got.append(buffer, size_t(n));
    close(fds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    std::string expected;
    for (const auto& p : want) expected += p + "\n";
    EXPECT_EQ(got, expected);
}

TEST_F(PictureSource, ImagePathNamingAFileIsThatPictureWhateverTheFolderIsCalled) {
    picture("ann.lee/Pictures/cat.JpG");
    picture("ann.lee/Pictures/dog.png");
    text("ann.lee/readme.txt");
    build(at("ann.lee/Pictures/cat.JpG"));
    EXPECT_EQ(listed(), std::vector<std::string>{at("ann.lee/Pictures/cat.JpG")});
    build(at("ann.lee/readme.txt"));
    EXPECT_TRUE(listed().empty());
    build(at("ann.lee/missing.png"));
    EXPECT_TRUE(listed().empty());
    // A relative path is made absolute without moving the current directory.
    std::string cwd = fs::current_path();
    fs::current_path(root / "ann.lee");
    build("Pictures");
    fs::current_path(cwd);
    EXPECT_EQ(listed(), (std::vector<std::string>{at("ann.lee/Pictures/cat.JpG"),
                                                  at("ann.lee/Pictures/dog.png")}));
}

TEST_F(PictureSource, EmptyImagePathScansTheUsersPicturesThenTheSamples) {
    picture("home/Pictures/mine.png");
    std::string oldHome = std::getenv("HOME") ? std::getenv("HOME") : "";
    setenv("HOME", at("home").c_str(), 1);
    unsetenv("XDG_CONFIG_HOME");
    build("");
    setenv("HOME", oldHome.c_str(), 1);
    std::vector<std::string> all = listed();
    ASSERT_GE(all.size(), 7u);
    EXPECT_EQ(all[0], at("home/Pictures/mine.png"));
    // The bundled samples follow, and every one of them loads.
    useDevice(8192);
    advancePicture(false);
    for (size_t i = 1; i < all.size(); ++i) {
        ASSERT_TRUE(loadCurrentPicture()) << currentPicture()->path;
        EXPECT_FALSE(pictureIsCapture());
        advancePicture(false);
    }
    EXPECT_EQ(pictureCount(), all.size());
    EXPECT_TRUE(messages.empty());
}

TEST_F(PictureSource, PicturesCycleAndADeletedFileIsDroppedInItsTurn) {
    picture("p/1.png", 10, 5);
    picture("p/2.png", 20, 5);
    picture("p/3.png", 30, 5);
    build(at("p"));
    std::vector<uint32_t> widths;
    ASSERT_TRUE(loadCurrentPicture());
    widths.push_back(loadedPictureWidth());
    for (int i = 0; i < 5; ++i) {
        advancePicture(false);
        ASSERT_TRUE(loadCurrentPicture());
        widths.push_back(loadedPictureWidth());
    }
    EXPECT_EQ(widths, (std::vector<uint32_t>{10, 20, 30, 10, 20, 30}));
    EXPECT_EQ(lastQuadWidth(), 30u);
    EXPECT_EQ(loadedPictureHeight(), 5u);

    fs::remove(root / "p/1.png");
    advancePicture(false);
    ASSERT_TRUE(loadCurrentPicture());
    EXPECT_EQ(loadedPictureWidth(), 20u);
    EXPECT_EQ(lastQuadWidth(), 20u);
    EXPECT_EQ(listed(), (std::vector<std::string>{at("p/2.png"), at("p/3.png")}));
    EXPECT_TRUE(messages.empty());

    // Every file gone, no snapshot: the picture shown stays, at its own size again.
    fs::remove(root / "p/2.png");
    fs::remove(root / "p/3.png");
    quads.clear();
    advancePicture(false);
    ASSERT_TRUE(loadCurrentPicture());
    EXPECT_EQ(loadedPictureWidth(), 20u);
    EXPECT_EQ(quads, (std::vector<std::pair<uint32_t, uint32_t>>{{20, 5}}));
    EXPECT_EQ(pictureCount(), 0u);
    advancePicture(false);
    ASSERT_TRUE(loadCurrentPicture());
    EXPECT_EQ(quads, (std::vector<std::pair<uint32_t, uint32_t>>{{20, 5}, {20, 5}}));
    EXPECT_TRUE(messages.empty());
}

TEST_F(PictureSource, UnreadablePicturesLeaveTheList) {
    text("p/a.png");  // not a picture at all
    picture("p/b.png", 7, 2);
    {
        std::ofstream(at("p/c.bmp")) << "BM";  // truncated header
    }
    build(at("p"));
    ASSERT_EQ(pictureCount(), 3u);
    ASSERT_TRUE(loadCurrentPicture());
    EXPECT_EQ(loadedPictureWidth(), 7u);
    EXPECT_EQ(listed(), std::vector<std::string>{at("p/b.png")});
    // The same picture comes round again; the truncated one has gone too.
    advancePicture(false);
    ASSERT_TRUE(loadCurrentPicture());
    EXPECT_EQ(listed(), std::vector<std::string>{at("p/b.png")});
}

std::vector<uint32_t> texels(const gfx::TexturePtr& texture) {
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
    return out;
}

std::vector<uint32_t> snapshotPixels(uint32_t w, uint32_t h) {
    std::vector<uint32_t> p(size_t(w) * h);
    for (size_t i = 0; i < p.size(); ++i)
        p[i] = 0xFF000000u | uint32_t(i * 37 % 256) << 16 | uint32_t(i * 11 % 256);
    return p;
}

std::vector<uint32_t> smoothed(std::vector<uint32_t> p, uint32_t w, uint32_t h) {
    std::vector<uint32_t> out(p.size());
    smoothSnapshot(p.data(), int(w * 4), out.data(), int(w * 4), int(w * 4), int(h));
    return out;
}

TEST_F(PictureSource, AnEmptyFolderShowsTheSmoothedSnapshotEveryTime) {
    folder("empty");
    setDesktopSnapshot(snapshotPixels(6, 4), 6, 4);
    build(at("empty"));
    ASSERT_TRUE(loadCurrentPicture());
    EXPECT_TRUE(pictureIsCapture());
    EXPECT_EQ(loadedPictureWidth(), 6u);
    EXPECT_EQ(loadedPictureHeight(), 4u);
    EXPECT_EQ(texels(pictureTexture()), smoothed(snapshotPixels(6, 4), 6, 4));
    EXPECT_EQ(quads, (std::vector<std::pair<uint32_t, uint32_t>>{{6, 4}}));
    const gfx::Texture* first = pictureTexture().get();
    advancePicture(false);
    ASSERT_TRUE(loadCurrentPicture());
    EXPECT_EQ(pictureTexture().get(), first);
    EXPECT_EQ(quads, (std::vector<std::pair<uint32_t, uint32_t>>{{6, 4}, {6, 4}}));
    EXPECT_TRUE(messages.empty());
}

TEST_F(PictureSource, NothingToShowEndsWithCouldNotLoad) {
    folder("empty");
    build(at("empty"));
    EXPECT_FALSE(loadCurrentPicture());
    // Always with the path that was tried.
    EXPECT_EQ(messages, std::vector<std::string>{"Glimmerax: Could not load " + at("empty")});
    EXPECT_FALSE(pictureTexture());

    // Paths that are no picture and no folder: a device, a FIFO, a looping link.
    ASSERT_EQ(mkfifo(at("fifo").c_str(), 0600), 0);
    fs::create_symlink(root / "loop-a", root / "loop-b");
    fs::create_symlink(root / "loop-b", root / "loop-a");
    for (const std::string& path :
         {std::string("/dev/zero"), at("fifo"), at("loop-a"), at("no/such/thing")}) {
        messages.clear();
        build(path);
        EXPECT_FALSE(loadCurrentPicture()) << path;
        EXPECT_EQ(messages, std::vector<std::string>{"Glimmerax: Could not load " + path});
    }

    messages.clear();
    text("bad/only.png");
    build(at("bad"));
    EXPECT_FALSE(loadCurrentPicture());
    EXPECT_EQ(messages,
              std::vector<std::string>{"Glimmerax: Could not load " + at("bad/only.png")});
    EXPECT_EQ(pictureCount(), 0u);
}

TEST_F(PictureSource, APictureTooLargeForTheDeviceFallsBackAndStays) {
    useDevice(16);
    picture("p/big.png", 17, 4);
    picture("p/small.png", 8, 8);
    build(at("p"));

    // With a snapshot, the capture stands in for this cycle and the file stays.
    setDesktopSnapshot(snapshotPixels(4, 4), 4, 4);
    ASSERT_TRUE(loadCurrentPicture());
    EXPECT_TRUE(pictureIsCapture());
    EXPECT_EQ(pictureCount(), 2u);
    EXPECT_EQ(currentPicture()->path, at("p/big.png"));

    // Without one, the next picture is shown instead.
    setDesktopSnapshot({}, 0, 0);
    ASSERT_TRUE(loadCurrentPicture());
    EXPECT_FALSE(pictureIsCapture());
    EXPECT_EQ(loadedPictureWidth(), 8u);
    EXPECT_EQ(currentPicture()->path, at("p/small.png"));
    EXPECT_EQ(pictureCount(), 2u);

    // During the run, a load that finds nothing showable keeps the last picture, its
    // quad written again at its own size.
    picture("p/small.png", 16, 17);
    const gfx::Texture* shown = pictureTexture().get();
    quads.clear();
    advancePicture(false);
    EXPECT_TRUE(loadCurrentPicture());
    EXPECT_EQ(pictureTexture().get(), shown);
    EXPECT_EQ(loadedPictureWidth(), 8u);
    EXPECT_EQ(quads, (std::vector<std::pair<uint32_t, uint32_t>>{{8, 8}}));
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(pictureCount(), 2u);

    // At start-up the same list ends the run, naming the picture tried last.
    releasePictures();
    build(at("p"));
    EXPECT_FALSE(loadCurrentPicture());
    EXPECT_EQ(messages, std::vector<std::string>{"Glimmerax: Could not load " + at("p/small.png")});
    EXPECT_EQ(pictureCount(), 2u);
}

TEST_F(PictureSource, TheCaptureIsKeptAcrossDeviceRecreation) {
    folder("empty");
    setDesktopSnapshot(snapshotPixels(5, 3), 5, 3);
    build(at("empty"));
    ASSERT_TRUE(loadCurrentPicture());
    const std::vector<uint32_t> shown = texels(pictureTexture());

    keepCapturedPicture();  // the device goes
    EXPECT_FALSE(pictureTexture());
    EXPECT_TRUE(hasKeptCapture());
    setDesktopSnapshot({}, 0, 0);  // the kept pixels alone must bring it back
    useDevice(8192);
    ASSERT_TRUE(loadCurrentPicture());
    EXPECT_EQ(texels(pictureTexture()), shown);
    EXPECT_EQ(loadedPictureWidth(), 5u);
    EXPECT_EQ(loadedPictureHeight(), 3u);
}

TEST_F(PictureSource, OnlyACaptureIsKeptAndNotWhileShuttingDown) {
    picture("p/a.png", 3, 3);
    build(at("p"));
    ASSERT_TRUE(loadCurrentPicture());
    keepCapturedPicture();
    EXPECT_FALSE(pictureTexture());
    EXPECT_FALSE(hasKeptCapture());

    releasePictures();
    folder("empty");
    setDesktopSnapshot(snapshotPixels(2, 2), 2, 2);
    build(at("empty"));
    ASSERT_TRUE(loadCurrentPicture());
    RenderSuppressed = true;
    keepCapturedPicture();
    RenderSuppressed = false;
    EXPECT_FALSE(pictureTexture());
    EXPECT_FALSE(hasKeptCapture());
}

TEST_F(PictureSource, AdvancingWrapsAndRemovingUnlinks) {
    for (const char* p : {"/x/1", "/x/2", "/x/3"}) appendPicture(p);
    advancePicture(false);  // no current node yet: to the head
    EXPECT_EQ(currentPicture()->path, "/x/1");
    advancePicture(false);
    advancePicture(false);
    EXPECT_EQ(currentPicture()->path, "/x/3");
    advancePicture(true);  // the last goes; wrap to the head
    EXPECT_EQ(currentPicture()->path, "/x/1");
    advancePicture(true);  // the head goes
    EXPECT_EQ(currentPicture()->path, "/x/2");
    EXPECT_EQ(pictureList()->path, "/x/2");
    EXPECT_EQ(pictureList()->previous, nullptr);
    advancePicture(true);
    EXPECT_EQ(currentPicture(), nullptr);
    EXPECT_EQ(pictureList(), nullptr);
    advancePicture(true);  // nothing left to remove
    EXPECT_EQ(pictureCount(), 0u);
}

}  // namespace
}  // namespace gx
