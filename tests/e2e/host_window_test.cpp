// Glimmerax as a screensaver host runs it: drawing into a window it is given.
#include <gtest/gtest.h>

#include <signal.h>

#include <fstream>
#include <vector>

#include "platform/image/image_write.h"
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
std::string openTestWindow(const Xvfb& x, const std::string& home,
                           const std::vector<std::string>& args, Child* window) {
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
    return spawn(
        {binary(), "-window-id", id},
        {"GLIMMERAX_HOME=" + home, x.env(), "GLIMMERAX_NO_DIALOGS=1", displayRunSanitizerOptions()},
        home);
}

bool anyColour(const Shot& s) {
    for (uint32_t p : s.px)
        if (p != 0 && p != 0xFFFFFF) return true;
    return false;
}

// The middle of the lit part of a shot.
void litCentre(const Shot& s, double* cx, double* cy) {
    double sx = 0, sy = 0, n = 0;
    for (int y = 0; y < s.height; ++y)
        for (int x = 0; x < s.width; ++x) {
            uint32_t p = s.at(x, y);
            if (((p >> 16) & 0xFF) + ((p >> 8) & 0xFF) + (p & 0xFF) > 60) {
                sx += x;
                sy += y;
                n += 1;
            }
        }
    *cx = n ? sx / n : -1;
    *cy = n ? sy / n : -1;
}

bool noRawXText(const std::string& err) {
    return err.find("X Error") == std::string::npos && err.find("BadWindow") == std::string::npos &&
           err.find("BadDrawable") == std::string::npos && err.find("XIO") == std::string::npos;
}

TEST(HostWindow, DrawsIntoTheGivenWindowFollowsItsSizeBothWaysAndEndsOnSigterm) {
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

    // Bigger, then smaller. A frame frozen at the old size would stay in the old corner
    // and leave the rest of the window as it was; the saver draws the whole window, the
    // universe made after the growth fills it around its middle, and it keeps moving.
    const int sizes[][2] = {{640, 480}, {300, 200}};
    const int waitMs[] = {6000, 1200};
    for (int i = 0; i < 2; ++i) {
        const int w = sizes[i][0], h = sizes[i][1];
        SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h));
        x.sh("xdotool windowsize " + id + " " + std::to_string(w) + " " + std::to_string(h));
        std::this_thread::sleep_for(std::chrono::milliseconds(waitMs[i]));
        Shot later;
        ASSERT_TRUE(takeShot(x, id, &shot, home));
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        ASSERT_TRUE(takeShot(x, id, &later, home));
        ASSERT_EQ(shot.width, w);
        ASSERT_EQ(shot.height, h);
        bool white = false;
        for (int y = 0; y < h; y += 7)
            for (int xx = 0; xx < w; xx += 7) white = white || shot.at(xx, y) == 0xFFFFFF;
        EXPECT_FALSE(white) << "part of the window is not drawn";
        EXPECT_NE(shot.px, later.px) << "the frame is frozen";
        double cx = 0, cy = 0;
        litCentre(shot, &cx, &cy);
        EXPECT_NEAR(cx, w / 2.0, w / 10.0);
        EXPECT_NEAR(cy, h / 2.0, h / 10.0);
        if (i == 0) {
            EXPECT_GT(litFraction(shot, 400, 0, 640, 480), 0.005) << "nothing beyond the old size";
        }
    }

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

TEST(HostWindow, AWindowThatGoesAwayEndsTheSaverQuietlyAndABadIdIsNamed) {
    Xvfb x({"640x480"});
    if (!x.ok()) GTEST_SKIP() << "Xvfb is not installed";
    std::string home = newHome();
    Child window;
    std::string id = openTestWindow(x, home, {"320", "240"}, &window);
    ASSERT_FALSE(id.empty());
    Child saver = startSaverIn(x, home, id);
    std::this_thread::sleep_for(std::chrono::milliseconds(2000));
    kill(window.pid, SIGUSR1);  // the host takes its window away
    EXPECT_EQ(waitFor(saver, 2), 0) << readFile(saver.errPath);
    EXPECT_TRUE(noRawXText(readFile(saver.errPath))) << readFile(saver.errPath);
    kill(window.pid, SIGTERM);
    waitFor(window, 5);

    for (const char* bad : {"0xdeadbeef", "0x1"}) {
        Result r = run({binary(), "-window-id", bad},
                       {"GLIMMERAX_HOME=" + home, x.env(), "GLIMMERAX_NO_DIALOGS=1",
                        displayRunSanitizerOptions()},
                       home, 30);
        EXPECT_EQ(r.code, 1) << r.err;
        EXPECT_NE(r.err.find(std::string("Glimmerax: no window ") + bad + "\n"), std::string::npos)
            << r.err;
        EXPECT_TRUE(noRawXText(r.err)) << r.err;
    }
    removeTree(home);
}

// The user's settings, with a size the saver must never lose.
const char* const kUserIni =
    "ImagePath = \"\"\r\nScreenWidth = 642\r\nScreenHeight = 482\r\nResourcePath = \"Default\"\r\n"
    "LanguageFile = \"English.txt\"\r\nFullscreen = true\r\nDuration = 130\r\nGameSpeed = 10\r\n";

TEST(DisplayGone, EveryRunModeEndsWithinASecondWithOneAndTheSettingsKept) {
    const std::vector<std::vector<std::string>> modes = {
        {"/s"}, {"/s", "--windowed"}, {"-root"}, {"-window-id"}};
    for (size_t m = 0; m < modes.size(); ++m) {
        SCOPED_TRACE(modes[m].back());
        Xvfb x({"800x600"});
        if (!x.ok()) GTEST_SKIP() << "Xvfb is not installed";
        std::string home = newHome();
        std::ofstream(home + "/Glimmerax.ini", std::ios::binary) << kUserIni;
        std::vector<std::string> argv = {binary()};
        argv.insert(argv.end(), modes[m].begin(), modes[m].end());
        Child window;
        if (modes[m][0] == "-window-id") {
            std::string id = openTestWindow(x, home, {"320", "240"}, &window);
            ASSERT_FALSE(id.empty());
            argv.push_back(id);
        }
        Child saver = spawn(argv,
                            {"GLIMMERAX_HOME=" + home, x.env(), "GLIMMERAX_NO_DIALOGS=1",
                             displayRunSanitizerOptions()},
                            home);
        std::this_thread::sleep_for(std::chrono::milliseconds(2500));
        std::string before = readFile(home + "/Glimmerax.ini");
        // A crash of the server for half the modes, an orderly end for the others.
        x.stop(m % 2 ? SIGKILL : SIGTERM);
        auto t0 = std::chrono::steady_clock::now();
        int code = waitFor(saver, 5);
        double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        std::string err = readFile(saver.errPath);
        EXPECT_EQ(code, 1) << err;
        EXPECT_LT(took, 1.0);
        EXPECT_NE(err.find("Glimmerax: lost the connection to the display " + x.display()),
                  std::string::npos)
            << err;
        EXPECT_TRUE(noRawXText(err)) << err;
        EXPECT_EQ(readFile(home + "/Glimmerax.ini"), before);
        if (window.pid > 0) {
            kill(window.pid, SIGKILL);
            waitFor(window, 5);
        }
        removeTree(home);
    }
}

// The processes whose command line holds the text.
std::string processesWith(const std::string& text) {
    Result r = run({"/usr/bin/pgrep", "-f", text}, {}, "/tmp", 10);
    return r.out;
}

TEST(UnderXscreensaver, ActivateShowsThePictureAndDeactivateEndsTheSaver) {
    const std::string hacks = "/usr/bin/xscreensaver";
    if (!fileExists(hacks) || !haveProgram("xscreensaver-command") || !haveProgram("setpriv") ||
        !haveProgram("xwd") || !haveProgram("convert"))
        GTEST_SKIP() << "xscreensaver, setpriv, xwd or convert is not installed";
    Xvfb x({"800x600"});
    if (!x.ok()) GTEST_SKIP() << "Xvfb is not installed";
    // xscreensaver runs no program as root: everything the saver needs is put where an
    // ordinary user can reach it, wherever the clone lives.
    std::string dir = newHome("gxxss");
    std::string program = dir + "/glimmerax";
    ASSERT_EQ(std::system(("cp '" + binary() + "' '" + program + "'").c_str()), 0);
    gx::image::Bitmap picture;
    picture.width = 200;
    picture.height = 150;
    picture.pixels.assign(200 * 150, 0xFFE04020u);
    gx::image::writePng(dir + "/picture.png", picture);
    std::ofstream(dir + "/Glimmerax.ini", std::ios::binary)
        << "ImagePath = \"" << dir
        << "/picture.png\"\r\nScreenWidth = 802\r\nScreenHeight = 602\r\n"
        << "ResourcePath = \"Default\"\r\nLanguageFile = \"English.txt\"\r\nFullscreen = false\r\n"
        << "Duration = 130\r\nGameSpeed = 10\r\n";
    std::ofstream(dir + "/.xscreensaver")
        << "timeout: 0:30:00\nlock: False\nsplash: False\nfade: False\n"
        << "unfade: False\nmode: one\nselected: 0\nprograms: " << program << " -root \\n\n";
    ASSERT_EQ(
        std::system(("chown -R 65534:65534 '" + dir + "' && chmod 755 '" + dir + "'").c_str()), 0);
    const std::vector<std::string> user = {"/usr/bin/setpriv",
                                           "--reuid=65534",
                                           "--regid=65534",
                                           "--clear-groups",
                                           "/usr/bin/env",
                                           "HOME=" + dir,
                                           "GLIMMERAX_HOME=" + dir,
                                           "GLIMMERAX_NO_DIALOGS=1",
                                           x.env(),
                                           displayRunSanitizerOptions()};
    auto as = [&](std::vector<std::string> argv) {
        argv.insert(argv.begin(), user.begin(), user.end());
        return argv;
    };
    Child daemon = spawn(as({hacks, "-no-splash", "-verbose"}), {}, dir);
    // The daemon answers once it is up.
    Result active;
    for (int i = 0; i < 50; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        active = run(as({"/usr/bin/xscreensaver-command", "-activate"}), {}, dir, 10);
        if (active.code == 0) break;
    }
    ASSERT_EQ(active.code, 0) << active.err << readFile(daemon.errPath);
    std::this_thread::sleep_for(std::chrono::milliseconds(3000));
    EXPECT_FALSE(processesWith(program).empty()) << readFile(daemon.errPath);
    Shot shot;
    ASSERT_TRUE(takeShot(x, "", &shot, dir));
    uint32_t centre = shot.at(400, 300);
    EXPECT_NEAR(int((centre >> 16) & 0xFF), 0xE0, 8)
        << std::hex << centre << readFile(daemon.errPath);
    EXPECT_NEAR(int((centre >> 8) & 0xFF), 0x40, 8) << std::hex << centre;
    EXPECT_NEAR(int(centre & 0xFF), 0x20, 8) << std::hex << centre;

    auto t0 = std::chrono::steady_clock::now();
    Result off = run(as({"/usr/bin/xscreensaver-command", "-deactivate"}), {}, dir, 10);
    EXPECT_EQ(off.code, 0) << off.err;
    double took = 0;
    while (!processesWith(program).empty() && took < 5) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        took = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    }
    EXPECT_LT(took, 2.0) << "the saver outlived the deactivation";
    kill(daemon.pid, SIGTERM);
    waitFor(daemon, 5);
    std::string printed = readFile(daemon.errPath) + readFile(daemon.outPath);
    EXPECT_TRUE(noRawXText(printed)) << printed;
    EXPECT_EQ(printed.find("Glimmerax:"), std::string::npos) << printed;
    removeTree(dir);
}

TEST(HostWindow, TakesTheDesktopPictureTheHostLeft) {
    Xvfb x({"640x480"});
    if (!x.ok() || !haveProgram("xwd") || !haveProgram("convert"))
        GTEST_SKIP() << "Xvfb, xwd or convert is not installed";
    std::string home = newHome();
    // No picture can be shown: the desktop's picture stands in.
    std::string empty = home + "/empty";
    mkdir(empty.c_str(), 0755);
    std::ofstream(home + "/Glimmerax.ini", std::ios::binary)
        << "ImagePath = \"" << empty
        << "\"\r\nScreenWidth = 642\r\nScreenHeight = 482\r\nResourcePath = \"Default\"\r\n"
        << "LanguageFile = \"English.txt\"\r\nFullscreen = false\r\nDuration = 130\r\nGameSpeed = "
           "10\r\n";
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
