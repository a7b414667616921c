// One whole cycle of the real program on a real (virtual) X display, judged by its pixels.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include "support/run.h"
#include "support/xvfb.h"

namespace {

using namespace gxtest;

struct Box {
    int x0 = 1 << 30, y0 = 1 << 30, x1 = -1, y1 = -1;
    size_t lit = 0;
    int width() const { return x1 - x0 + 1; }
    int height() const { return y1 - y0 + 1; }
};

bool bright(uint32_t p) { return ((p >> 16) & 0xFF) + ((p >> 8) & 0xFF) + (p & 0xFF) > 90; }

Box litBox(const Shot& s, int x0, int y0, int x1, int y1) {
    Box b;
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x)
            if (bright(s.at(x, y))) {
                ++b.lit;
                b.x0 = std::min(b.x0, x);
                b.y0 = std::min(b.y0, y);
                b.x1 = std::max(b.x1, x);
                b.y1 = std::max(b.y1, y);
            }
    return b;
}

void writeIni(const std::string& home, int duration) {
    std::ofstream ini(home + "/Glimmerax.ini", std::ios::binary);
    ini << "ImagePath = \"\"\r\nScreenWidth = 802\r\nScreenHeight = 602\r\nResourcePath = "
           "\"Default\"\r\n"
        << "LanguageFile = \"English.txt\"\r\nFullscreen = false\r\nDuration = " << duration
        << "\r\nGameSpeed = 10\r\n";
}

std::string findWindow(const Xvfb& x) {
    std::string win;
    for (int i = 0; i < 150; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        win = x.sh("xdotool search --onlyvisible --name '^Glimmerax$' 2>/dev/null | tail -1");
        while (!win.empty() && (win.back() == '\n' || win.back() == ' ')) win.pop_back();
        if (!win.empty() &&
            x.sh("xdotool getwindowgeometry " + win + " 2>&1").find("800x600") != std::string::npos)
            return win;
    }
    return "";
}

using Clock = std::chrono::steady_clock;
void sleepUntil(Clock::time_point start, double seconds) {
    std::this_thread::sleep_until(start + std::chrono::duration_cast<Clock::duration>(
                                              std::chrono::duration<double>(seconds)));
}

TEST(CycleX11, PicturesBecomeParticlesAndFormAgain) {
    Xvfb x({"800x600"});
    if (!x.ok() || !haveProgram("xdotool") || !haveProgram("xwd") || !haveProgram("convert"))
        GTEST_SKIP() << "Xvfb, xdotool, xwd or convert is not installed";
    std::string home = newHome();
    writeIni(home, 3);
    Child c = spawn(
        {binary(), "/s"},
        {"GLIMMERAX_HOME=" + home, x.env(), "GLIMMERAX_NO_DIALOGS=1", displayRunSanitizerOptions()},
        home);
    std::string win = findWindow(x);
    ASSERT_FALSE(win.empty()) << readFile(c.errPath);
    auto start = Clock::now();
    Shot shot;

    // Wind-up: the first picture (tiles.bmp, 180 x 180) at its own size in the middle.
    sleepUntil(start, 2.0);
    ASSERT_TRUE(takeShot(x, "", &shot, home));
    Box b = litBox(shot, 0, 0, 800, 600);
    EXPECT_NEAR(b.width(), 180, 6);
    EXPECT_NEAR(b.height(), 180, 6);
    EXPECT_NEAR((b.x0 + b.x1) / 2, 400, 6);
    EXPECT_GT(b.lit, 180u * 180u * 3 / 4);

    // Simulation: particles spread over the whole screen, and bodies.
    sleepUntil(start, 8.5);
    ASSERT_TRUE(takeShot(x, "", &shot, home));
    Box all = litBox(shot, 0, 0, 800, 600);
    EXPECT_GT(all.lit, 200u);
    EXPECT_LT(all.x0, 200);
    EXPECT_GT(all.x1, 600);
    EXPECT_LT(all.y0, 150);
    EXPECT_GT(all.y1, 450);

    // Wind-down, held: the picture stands again in its small centred rectangle
    // (0.2 of the screen's width: 160 x 160). The saver's time follows its frames, so
    // on a loaded machine the picture may still be gathering: look again for a while.
    sleepUntil(start, 15.3);
    Box formed;
    auto isFormed = [](const Box& f) {
        return f.lit > 100u * 100u && std::abs(f.width() - 120) <= 45 &&
               std::abs((f.x0 + f.x1) / 2 - 400) <= 10 && std::abs((f.y0 + f.y1) / 2 - 300) <= 10;
    };
    do {
        ASSERT_TRUE(takeShot(x, "", &shot, home));
        formed = litBox(shot, 0, 0, 800, 600);
    } while (!isFormed(formed) && Clock::now() < start + std::chrono::milliseconds(17500));
    EXPECT_NEAR(formed.width(), 120, 45);
    EXPECT_NEAR((formed.x0 + formed.x1) / 2, 400, 10);
    EXPECT_NEAR((formed.y0 + formed.y1) / 2, 300, 10);
    EXPECT_GT(formed.lit, 100u * 100u);

    // The next cycle shows the next picture (rings.dds, square); a click skips to the one
    // after it (aurora.hdr, 240 x 120, landscape).
    sleepUntil(start, 20.0);
    ASSERT_TRUE(takeShot(x, "", &shot, home));
    b = litBox(shot, 0, 0, 800, 600);
    EXPECT_NEAR(double(b.width()) / b.height(), 1.0, 0.15);
    EXPECT_GT(b.width(), 200);
    x.sh("xdotool mousemove 5 5 click 1");
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    ASSERT_TRUE(takeShot(x, "", &shot, home));
    b = litBox(shot, 0, 0, 800, 600);
    EXPECT_GT(double(b.width()) / b.height(), 1.5) << b.width() << "x" << b.height();
    EXPECT_LE(b.width(), 242);

    x.sh("xdotool windowfocus " + win + "; sleep 0.2; xdotool key Escape");
    EXPECT_EQ(waitFor(c, 10), 0) << readFile(c.errPath);
    removeTree(home);
}

}  // namespace
