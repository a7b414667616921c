// Files nobody should have to give a screensaver, given to the real program: it keeps
// running or ends with a clear message, and no setting is lost.
#include <gtest/gtest.h>

#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>

#include "platform/image/image_write.h"
#include "support/run.h"
#include "support/temp_folder.h"
#include "support/xvfb.h"

namespace {

using namespace gxtest;

std::string ini(const std::string& imagePath, int gameSpeed = 10) {
    return "ImagePath = \"" + imagePath + "\"\r\nScreenWidth = 322\r\nScreenHeight = 242\r\n" +
           "ResourcePath = \"Default\"\r\nLanguageFile = \"English.txt\"\r\nFullscreen = "
           "false\r\n" +
           "Duration = 130\r\nGameSpeed = " + std::to_string(gameSpeed) + "\r\n";
}

gx::image::Bitmap colourful(uint32_t w, uint32_t h) {
    gx::image::Bitmap b;
    b.width = w;
    b.height = h;
    b.pixels.resize(size_t(w) * h);
    for (uint32_t i = 0; i < w * h; ++i)
        b.pixels[i] = 0xFF000000u | (0x405060u + i * 2654435761u % 0xBFBFBF);
    return b;
}

// A folder of broken pictures, each named for what is wrong with it.
void writeHostilePictures(const std::string& dir) {
    gxtest::writeFile(dir + "/a-empty.png", "");
    std::string png, jpg;
    gx::image::writePng(dir + "/tmp.png", colourful(64, 48));
    gx::image::writeJpg(dir + "/tmp.jpg", colourful(64, 48));
    png = readFile(dir + "/tmp.png");
    jpg = readFile(dir + "/tmp.jpg");
    std::remove((dir + "/tmp.png").c_str());
    std::remove((dir + "/tmp.jpg").c_str());
    gxtest::writeFile(dir + "/b-truncated.png", png.substr(0, png.size() / 2));
    gxtest::writeFile(dir + "/c-truncated.jpg", jpg.substr(0, jpg.size() / 3));
    // A PNG header claiming 100000 x 100000 pixels.
    std::string huge = png.substr(0, 33);
    const unsigned char dims[8] = {0x00, 0x01, 0x86, 0xA0, 0x00, 0x01, 0x86, 0xA0};
    huge.replace(16, 8, reinterpret_cast<const char*>(dims), 8);
    gxtest::writeFile(dir + "/d-huge.png", huge + png.substr(33));
    // A DDS header promising far more than the file holds.
    std::string dds = "DDS ";
    dds.resize(128, '\0');
    auto put = [&](size_t at, uint32_t v) { std::memcpy(&dds[at], &v, 4); };
    put(4, 124);
    put(8, 0x1007);
    put(12, 4096);
    put(16, 4096);
    put(76, 32);
    put(80, 0x4);
    std::memcpy(&dds[84], "DXT1", 4);
    gxtest::writeFile(dir + "/e-lying.dds", dds + std::string(64, 'x'));
    gxtest::writeFile(dir + "/f-negative.pfm", "PF\n4 4\n-nan\n" + std::string(4 * 4 * 12, '\x01'));
    gxtest::writeFile(dir + "/g-nan.pfm", "Pf\n4 4\nnan\n" + std::string(4 * 4 * 4, '\x01'));
    gxtest::writeFile(dir + "/h-text.png", "this is not a picture at all\n");
    gxtest::writeFile(dir + "/i-zero.bmp", std::string("BM") + std::string(60, '\0'));
}

class Hostile : public ::testing::Test {
protected:
    void SetUp() override { home_ = newHome("gxhostile"); }
    void TearDown() override { removeTree(home_); }
    Result go(double seconds = 8, const std::string& script = "") {
        std::vector<std::string> args = {binary(),  "/s",        "--headless",           "--size",
                                         "320x240", "--seconds", std::to_string(seconds)};
        if (!script.empty()) {
            args.push_back("--script");
            args.push_back(script);
        }
        return run(args, {"GLIMMERAX_HOME=" + home_, "DISPLAY="}, home_, 180);
    }
    std::string home_;
};

TEST_F(Hostile, BrokenPicturesAreSkippedAndTheGoodOneShows) {
    std::string pics = home_ + "/pics";
    mkdir(pics.c_str(), 0755);
    writeHostilePictures(pics);
    gx::image::writeBmp(pics + "/z-good.bmp", colourful(80, 60));
    gxtest::writeFile(home_ + "/Glimmerax.ini", ini(pics));
    // Skip through the list a few times so every broken file is tried.
    Result r = go(20, "1:key:32,2:key:32,3:key:32,4:key:32,5:key:32,6:key:32");
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.err.find("Could not load"), std::string::npos) << r.err;
}

TEST_F(Hostile, OnlyBrokenPicturesEndWithAClearMessage) {
    std::string pics = home_ + "/pics";
    mkdir(pics.c_str(), 0755);
    writeHostilePictures(pics);
    gxtest::writeFile(home_ + "/Glimmerax.ini", ini(pics));
    Result r = go(4);
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("Could not load " + pics + "/"), std::string::npos) << r.err;
}

TEST_F(Hostile, LinkLoopsAreEnteredOnce) {
    std::string pics = home_ + "/pics";
    mkdir(pics.c_str(), 0755);
    mkdir((pics + "/sub").c_str(), 0755);
    ASSERT_EQ(symlink(pics.c_str(), (pics + "/sub/loop").c_str()), 0);
    gx::image::writeBmp(pics + "/sub/p.bmp", colourful(80, 60));
    gxtest::writeFile(home_ + "/Glimmerax.ini", ini(pics));
    Result r = go(4);
    EXPECT_EQ(r.code, 0) << r.err;
}

TEST_F(Hostile, SettingsOfOneMegabyteOnOneLineAreNotLost) {
    // Just within the size that is read, and just over it.
    for (size_t size : {size_t(1) << 20, (size_t(1) << 20) + 100}) {
        SCOPED_TRACE(size);
        std::remove((home_ + "/Glimmerax.ini.bak").c_str());
        std::string junk(size, 'q');
        gxtest::writeFile(home_ + "/Glimmerax.ini", junk);
        Result r = go(2, "1:key:107");
        EXPECT_EQ(r.code, 0) << r.err;
        // Either left alone or kept beside the template: the user's bytes survive.
        bool kept = readFile(home_ + "/Glimmerax.ini") == junk ||
                    readFile(home_ + "/Glimmerax.ini.bak") == junk;
        EXPECT_TRUE(kept);
    }
}

TEST_F(Hostile, SettingsFileThatIsAFolder) {
    ASSERT_EQ(mkdir((home_ + "/Glimmerax.ini").c_str(), 0755), 0);
    Result r = go(2);
    EXPECT_EQ(r.code, 0) << r.err;
    struct stat st {};
    ASSERT_EQ(stat((home_ + "/Glimmerax.ini").c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
}

TEST_F(Hostile, DataFileOfRandomBytesIsMadeAgain) {
    std::mt19937 rng(7);
    std::string noise(23046616, '\0');
    for (char& c : noise) c = char(rng());
    gxtest::writeFile(home_ + "/Glimmerax.dat", noise);
    Result r = go(2);
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.err.find("Generating data file"), std::string::npos);
    EXPECT_NE(readFile(home_ + "/Glimmerax.dat"), noise);
    Result again = go(2);
    EXPECT_EQ(again.code, 0);
    EXPECT_EQ(again.err.find("Generating"), std::string::npos);
}

TEST_F(Hostile, ReadOnlyHomeUsesTheValuesAndWritesNothing) {
    if (!haveProgram("setpriv")) GTEST_SKIP() << "setpriv is not installed";
    // A picture the other user can read wherever the clone lives (a clone in /root is
    // out of its reach).
    std::string picture = home_ + "/seen.png";
    gx::image::writePng(picture, colourful(64, 48));
    gxtest::writeFile(home_ + "/Glimmerax.ini", ini(picture, 4));
    std::string before = readFile(home_ + "/Glimmerax.ini");
    chmod(home_.c_str(), 0755);
    chmod(picture.c_str(), 0644);
    chmod((home_ + "/Glimmerax.ini").c_str(), 0644);
    chmod((home_ + "/Glimmerax.dat").c_str(), 0644);
    // The program too, for the same reason.
    std::string program = home_ + "/glimmerax";
    ASSERT_EQ(std::system(("cp '" + binary() + "' '" + program + "'").c_str()), 0);
    chmod(program.c_str(), 0755);
    // As an ordinary user who may read the folder but not write in it.
    Result r =
        run({"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", program, "/s",
             "--headless", "--size", "320x240", "--seconds", "3", "--script", "1:key:107"},
            {"GLIMMERAX_HOME=" + home_, "DISPLAY="}, "/tmp", 120);
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(readFile(home_ + "/Glimmerax.ini"), before);
    EXPECT_FALSE(fileExists(home_ + "/Glimmerax.ini.bak"));
}

TEST_F(Hostile, FullDiskWhenSavingLeavesTheSettingsWhole) {
    std::string disk = makeTempDir("gxfull");
    if (mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=64k") != 0) {
        removeTree(disk);
        GTEST_SKIP() << "cannot mount a small tmpfs here";
    }
    std::string config = disk + "/config";
    mkdir(config.c_str(), 0755);
    mkdir((config + "/glimmerax").c_str(), 0755);
    gxtest::writeFile(config + "/glimmerax/Glimmerax.ini", ini("", 5));
    std::string before = readFile(config + "/glimmerax/Glimmerax.ini");
    // Fill what is left of the disk.
    {
        std::ofstream filler(disk + "/filler", std::ios::binary);
        std::string block(4096, 'f');
        for (int i = 0; i < 64 && filler; ++i) filler << block;
    }
    std::string cache = makeTempDir("gxcache");
    mkdir((cache + "/glimmerax").c_str(), 0755);
    std::string cmd = "cp '" + sharedDataFile() + "' '" + cache + "/glimmerax/Glimmerax.dat'";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    Result r =
        run({binary(), "/s", "--headless", "--size", "320x240", "--seconds", "3", "--script",
             "1:key:107,2:key:107"},
            {"GLIMMERAX_HOME=", "XDG_CONFIG_HOME=" + config, "XDG_CACHE_HOME=" + cache, "DISPLAY="},
            "/tmp", 120);
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(readFile(config + "/glimmerax/Glimmerax.ini"), before)
        << "a failed save damaged the settings";
    // Said once, though the reset and both keys tried to save.
    const std::string line =
        "glimmerax: The settings could not be saved to " + config +
        "/glimmerax/Glimmerax.ini: No space left on device. The file was left as it was.\n";
    EXPECT_NE(r.err.find(line), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find(line), r.err.rfind(line)) << r.err;
    // With room again the same keys do save: the run above did try to write.
    std::remove((disk + "/filler").c_str());
    r = run({binary(), "/s", "--headless", "--size", "320x240", "--seconds", "3", "--script",
             "1:key:107,2:key:107"},
            {"GLIMMERAX_HOME=", "XDG_CONFIG_HOME=" + config, "XDG_CACHE_HOME=" + cache, "DISPLAY="},
            "/tmp", 120);
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_NE(readFile(config + "/glimmerax/Glimmerax.ini"), before);
    umount(disk.c_str());
    removeTree(disk);
    removeTree(cache);
}

TEST_F(Hostile, SettingsThatCannotBeSavedAreToldOnce) {
    struct Case {
        std::string name;
        std::function<void()> make;
        std::string reason;
    };
    const std::string file = home_ + "/Glimmerax.ini";
    std::string big = ini("", 5);
    while (big.size() <= (1u << 20)) big += "// " + std::string(1000, 'x') + "\r\n";
    const Case cases[] = {
        {"read-only file",
         [&] {
             gxtest::writeFile(file, ini("", 5));
             chmod(file.c_str(), 0444);
         },
         "the file is read-only"},
        {"over 1 MB", [&] { gxtest::writeFile(file, big); }, "it is larger than 1 MB"},
        {"a folder", [&] { mkdir(file.c_str(), 0755); }, "it is a folder"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        removeTree(home_ + "/Glimmerax.ini");
        std::remove((home_ + "/Glimmerax.ini").c_str());
        c.make();
        const std::string before = readFile(file);
        // The device reset and two speed keys each save.
        Result r = go(3, "1:key:107,2:key:109");
        EXPECT_EQ(r.code, 0) << r.err;
        const std::string line = "glimmerax: The settings could not be saved to " + file + ": " +
                                 c.reason + ". The file was left as it was.\n";
        EXPECT_NE(r.err.find(line), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find(line), r.err.rfind(line)) << "told more than once:\n" << r.err;
        EXPECT_EQ(readFile(file), before);
        chmod(file.c_str(), 0644);
    }
}

TEST_F(Hostile, DataFileThatCannotBeWrittenIsToldOnce) {
    std::remove((home_ + "/Glimmerax.dat").c_str());
    ASSERT_EQ(mkdir((home_ + "/Glimmerax.dat").c_str(), 0755), 0);
    Result r = go(1);
    EXPECT_EQ(r.code, 0) << r.err;
    const std::string line = "glimmerax: the data file could not be written to " + home_ +
                             "/Glimmerax.dat (Is a directory); it will be made again next time.\n";
    EXPECT_NE(r.err.find(line), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find(line), r.err.rfind(line)) << r.err;
    // No half-written file of ours is left beside it.
    for (const auto& entry : std::filesystem::directory_iterator(home_))
        EXPECT_EQ(entry.path().filename().string().find(".part."), std::string::npos)
            << entry.path();
}

TEST_F(Hostile, PartFilesOfKilledRunsAreRemovedAtStart) {
    const pid_t child = fork();
    if (child == 0) _exit(0);
    waitpid(child, nullptr, 0);
    const std::string left = home_ + "/Glimmerax.dat.part." + std::to_string(child);
    gxtest::writeFile(left, std::string(14u << 20, 'x'));
    const std::string running = home_ + "/Glimmerax.dat.part.1";
    gxtest::writeFile(running, "x");
    Result r = go(1);
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_FALSE(fileExists(left));
    EXPECT_TRUE(fileExists(running));
}

TEST_F(Hostile, CouldNotLoadAlwaysNamesThePathTried) {
    mkfifo((home_ + "/fifo").c_str(), 0600);
    symlink((home_ + "/loop-b").c_str(), (home_ + "/loop-a").c_str());
    symlink((home_ + "/loop-a").c_str(), (home_ + "/loop-b").c_str());
    for (const std::string& path : {std::string("/dev/zero"), home_ + "/fifo", home_ + "/loop-a"}) {
        gxtest::writeFile(home_ + "/Glimmerax.ini", ini(path));
        Result r = go(2);
        EXPECT_EQ(r.code, 1) << path;
        EXPECT_NE(r.err.find("Glimmerax: Could not load " + path + "\n"), std::string::npos)
            << r.err;
    }
}

TEST_F(Hostile, DeepHomeAndLongPicturePathsAreKept) {
    // A home far deeper than 259 bytes, and an ImagePath of over 300 bytes written by
    // hand: both are used, not dropped for the samples.
    std::string deep = home_;
    while (deep.size() < 400) deep += "/" + std::string(60, 'h');
    ASSERT_EQ(
        std::system(
            ("mkdir -p '" + deep + "' && cp '" + sharedDataFile() + "' '" + deep + "/'").c_str()),
        0);
    std::string pics = home_;
    while (pics.size() < 330) pics += "/" + std::string(50, 'p');
    ASSERT_EQ(std::system(("mkdir -p '" + pics + "'").c_str()), 0);
    gx::image::writeBmp(pics + "/mine.bmp", colourful(80, 60));
    gxtest::writeFile(deep + "/Glimmerax.ini", ini(pics, 5));
    Result r = run({binary(), "/s", "--headless", "--size", "320x240", "--seconds", "3", "--script",
                    "1:key:107"},
                   {"GLIMMERAX_HOME=" + deep, "DISPLAY=", "GLIMMERAX_FAULTS=lock:vertexbuffer:5"},
                   home_, 120);
    EXPECT_EQ(r.code, 1) << r.err;  // the fault ends the run with a report naming the picture
    EXPECT_NE(readFile(deep + "/error.log").find("\n" + pics + "/mine.bmp\n"), std::string::npos)
        << readFile(deep + "/error.log");
    // The settings in the deep home were read and saved (the speed key: 5 -> 6).
    r = run({binary(), "/s", "--headless", "--size", "320x240", "--seconds", "2", "--script",
             "1:key:107"},
            {"GLIMMERAX_HOME=" + deep, "DISPLAY="}, home_, 120);
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_NE(readFile(deep + "/Glimmerax.ini").find("GameSpeed = 6\r\n"), std::string::npos)
        << readFile(deep + "/Glimmerax.ini");
}

TEST_F(Hostile, ErrorReportInAReadOnlyHomeIsNotNamedAsWritten) {
    if (!haveProgram("setpriv")) GTEST_SKIP() << "setpriv is not installed";
    gxtest::writeFile(home_ + "/Glimmerax.ini", ini(""));
    chmod(home_.c_str(), 0755);
    chmod((home_ + "/Glimmerax.ini").c_str(), 0644);
    chmod((home_ + "/Glimmerax.dat").c_str(), 0644);
    Result r = run({"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups",
                    binary(), "/s", "--headless", "--size", "320x240", "--seconds", "5"},
                   {"GLIMMERAX_HOME=" + home_, "DISPLAY=", "GLIMMERAX_FAULTS=lock:vertexbuffer:5"},
                   "/tmp", 120);
    EXPECT_EQ(r.code, 1) << r.err;
    EXPECT_FALSE(fileExists(home_ + "/error.log"));
    EXPECT_NE(r.err.find("INTERNAL ERROR: The error report could not be written to '" + home_ +
                         "/error.log' (Permission denied). For a possible fix, report this to "
                         "'https://github.com/glimmerax/glimmerax/issues'"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(r.err.find("send '"), std::string::npos) << r.err;
}

}  // namespace
