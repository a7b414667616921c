// Glimmerax as a screensaver host runs it: drawing into a window it is given.
#include <gtest/gtest.h>

#include <signal.h>

#include <fstream>

#include "support/run.h"
#include "support/xvfb.h"

namespace {

using namespace gxtest;

std::string trim(std::string s) {
    while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
    return s;
}

// Fraction of pixels in the rectangle that are not near-black.
double litFraction(const Shot& s, int x0, int y0, int x1, int y1) {
    size_t lit = 0, all = 0;
    for (int y = y0; y < y1 && y < s.height; ++y)
        for (int x = x0; x < x1 && x < s.width; ++x, ++all) {
            uint32_t p = s.at(x, y);
            if (((p >> 16) & 0xFF) + ((p >> 8) & 0xFF) + (p & 0xFF) > 60) ++lit;
        }
    return all ? double(lit) / double(all) : 0.0;
}

// A window of the test tool's, as a host would make it; returns its id.
std::string openTestWindow(const Xvfb& x, const std::string& home, const std::vector<std::string>& args, Child* window) {
    std::vector<std::string> argv = {std::string(GLIMMERAX_BUILD_DIR) + "/gx_test_window"};
    argv.insert(argv.end(), args.begin(), args.end());
    *window = spawn(argv, {x.env()}, home);
    std::string id;
    for (int i = 0; i < 100 && id.empty(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        id = trim(readFile(window->outPath));
    }
    return id;
}

Child startSaverIn(const Xvfb& x, const std::string& home, const std::string& id) {
    return spawn({binary(), "-window-id", id},
                 {"GLIMMERAX_HOME=" + home, x.env(), "GLIMMERAX_NO_DIALOGS=1", displayRunSanitizerOptions()}, home);
}

bool anyColour(const Shot& s) {
    for (uint32_t p : s.px)
        if (p != 0 && p != 0xFFFFFF) return true;
    return false;
}

TEST(HostWindow, DrawsIntoTheGivenWindowFollowsItsSizeAndEndsOnSigterm) {
    Xvfb x({"1024x768"});
    if (!x.ok() || !haveProgram("xdotool") || !haveProgram("xwd") || !haveProgram("convert"))
        GTEST_SKIP() << "Xvfb, xdotool, xwd or convert is not installed";
    std::string home = newHome();
    Child window;
    std::string id = openTestWindow(x, home, {"400", "300"}, &window);
    ASSERT_FALSE(id.empty());
    Child saver = startSaverIn(x, home, id);
    // The wind-up fades the picture in over the first second.
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    Shot shot;
    ASSERT_TRUE(takeShot(x, id, &shot, home));
    EXPECT_EQ(shot.width, 400);
    EXPECT_EQ(shot.height, 300);
    EXPECT_TRUE(anyColour(shot)) << "the window shows nothing drawn";
    EXPECT_GT(litFraction(shot, 150, 100, 250, 200), 0.2) << "no picture in the middle";

    // Bigger: the saver follows the window's size.
    x.sh("xdotool windowsize " + id + " 600 450");
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    ASSERT_TRUE(takeShot(x, id, &shot, home));
    EXPECT_EQ(shot.width, 600);
    EXPECT_EQ(shot.height, 450);
    // The saver paints the whole new size: the window's own white background is gone
    // from the part that was not there before, and the picture still shows.
    bool white = false;
    for (int y = 310; y < 450; y += 7)
        for (int xx = 410; xx < 600; xx += 7) white = white || shot.at(xx, y) == 0xFFFFFF;
    EXPECT_FALSE(white) << "the grown part of the window is not drawn";
    EXPECT_TRUE(anyColour(shot));

    auto t0 = std::chrono::steady_clock::now();
    kill(saver.pid, SIGTERM);
    int code = waitFor(saver, 5);
    double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    EXPECT_EQ(code, 0) << readFile(saver.errPath);
    EXPECT_LT(took, 1.0);
    EXPECT_TRUE(fileExists(home + "/Glimmerax.ini"));
    kill(window.pid, SIGTERM);
    waitFor(window, 5);
    removeTree(home);
}

TEST(HostWindow, TakesTheDesktopPictureTheHostLeft) {
    Xvfb x({"640x480"});
    if (!x.ok() || !haveProgram("xwd") || !haveProgram("convert")) GTEST_SKIP() << "Xvfb, xwd or convert is not installed";
    std::string home = newHome();
    // No picture can be shown: the desktop's picture stands in.
    std::string empty = home + "/empty";
    mkdir(empty.c_str(), 0755);
    std::ofstream(home + "/Glimmerax.ini", std::ios::binary)
        << "ImagePath = \"" << empty << "\"\r\nScreenWidth = 642\r\nScreenHeight = 482\r\nResourcePath = \"Default\"\r\n"
        << "LanguageFile = \"English.txt\"\r\nFullscreen = false\r\nDuration = 130\r\nGameSpeed = 10\r\n";
    Child window;
    std::string id = openTestWindow(x, home, {"320", "240", "3070c0"}, &window);
    ASSERT_FALSE(id.empty());
    Child saver = startSaverIn(x, home, id);
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    Shot shot;
    ASSERT_TRUE(takeShot(x, id, &shot, home));
    // The picture fills the window's middle in the host's colour.
    uint32_t centre = shot.at(160, 120);
    EXPECT_NEAR(int((centre >> 16) & 0xFF), 0x30, 3);
    EXPECT_NEAR(int((centre >> 8) & 0xFF), 0x70, 3);
    EXPECT_NEAR(int(centre & 0xFF), 0xc0, 3);
    kill(saver.pid, SIGTERM);
    EXPECT_EQ(waitFor(saver, 5), 0) << readFile(saver.errPath);
    kill(window.pid, SIGTERM);
    waitFor(window, 5);
    removeTree(home);
}

}  // namespace
