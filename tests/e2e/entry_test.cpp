// The real program, started as a user or a screensaver host would start it.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <fstream>

#include "support/run.h"
#include "support/xvfb.h"

namespace {

using namespace gxtest;

class Entry : public ::testing::Test {
protected:
    void SetUp() override { home_ = newHome(); }
    void TearDown() override { removeTree(home_); }
    Result go(std::vector<std::string> args, std::vector<std::string> env = {},
              double timeout = 120) {
        args.insert(args.begin(), binary());
        // The test's own entries come last and win.
        env.insert(env.begin(), {"GLIMMERAX_HOME=" + home_, "DISPLAY=", "WAYLAND_DISPLAY="});
        return run(args, env, home_, timeout);
    }
    std::string home_;
};

TEST_F(Entry, PreviewHelpAndUsageErrors) {
    EXPECT_EQ(go({"/p"}).code, 0);
    EXPECT_EQ(go({"-p:123"}).code, 0);
    EXPECT_FALSE(fileExists(home_ + "/Glimmerax.ini")) << "preview reads no settings";
    Result bogus = go({"--bogus"});
    EXPECT_EQ(bogus.code, 2);
    EXPECT_NE(bogus.err.find("Usage:"), std::string::npos);
    Result help = go({"--help"});
    EXPECT_EQ(help.code, 0);
    EXPECT_NE(help.out.find("--frames-out"), std::string::npos);
    EXPECT_EQ(go({"--version"}).code, 0);
}

TEST_F(Entry, HeadlessRunWritesFramesAndTheTemplate) {
    std::string frames = home_ + "/frames";
    ASSERT_EQ(mkdir(frames.c_str(), 0755), 0);
    Result r =
        go({"/s", "--headless", "--size", "640x480", "--seconds", "3", "--frames-out", frames});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_TRUE(fileExists(frames + "/frame-000001.png"));
    EXPECT_TRUE(fileExists(frames + "/frame-000090.png"));
    std::string csv = readFile(frames + "/frames.csv");
    EXPECT_EQ(csv.rfind("frame,time,phase,written\n", 0), 0u);
    EXPECT_NE(csv.find("\n1,0.033333,windup,1\n"), std::string::npos) << csv.substr(0, 200);
    // No settings file: the template, with the back buffer's size plus 2 written in.
    std::string ini = readFile(home_ + "/Glimmerax.ini");
    EXPECT_EQ(ini.size(), 699u - 8u + 6u) << ini;
    EXPECT_EQ(ini.rfind("// Glimmerax Settings....\r\n\r\n//---", 0), 0u) << ini.substr(0, 40);
    EXPECT_NE(ini.find("ScreenWidth = 642\r\nScreenHeight = 482\r\n"), std::string::npos) << ini;
}

TEST_F(Entry, SizeStaysPutFromRunToRun) {
    for (int i = 0; i < 2; ++i) {
        Result r = go({"/s", "--headless", "--size", "800x600", "--seconds", "0.5"});
        ASSERT_EQ(r.code, 0) << r.err;
        std::string ini = readFile(home_ + "/Glimmerax.ini");
        EXPECT_NE(ini.find("ScreenWidth = 802\r\nScreenHeight = 602\r\n"), std::string::npos)
            << ini;
    }
}

TEST_F(Entry, SpeedKeysRewriteGameSpeedInPlace) {
    ASSERT_EQ(go({"/s", "--headless", "--size", "640x480", "--seconds", "0.2"}).code, 0);
    std::string before = readFile(home_ + "/Glimmerax.ini");
    // Two slower presses and one faster: 10 -> 9 -> 8 -> 9.
    Result r = go({"/s", "--headless", "--size", "640x480", "--seconds", "2", "--script",
                   "0.5:key:109,0.7:key:189,0.9:key:107"});
    ASSERT_EQ(r.code, 0) << r.err;
    std::string after = readFile(home_ + "/Glimmerax.ini");
    ASSERT_EQ(after.size(), before.size() - 1);
    size_t at = before.find("GameSpeed = 10");
    ASSERT_NE(at, std::string::npos);
    EXPECT_EQ(after.substr(0, at), before.substr(0, at));
    EXPECT_EQ(after.substr(at, 13), "GameSpeed = 9");
    EXPECT_EQ(after.substr(at + 13), before.substr(at + 14));
}

TEST_F(Entry, EscapeInAScriptedRunEndsWithZero) {
    Result r =
        go({"/s", "--headless", "--size", "320x240", "--seconds", "60", "--script", "1:key:27"});
    EXPECT_EQ(r.code, 0) << r.err;
}

// The settings dialog's preview, as the dialog runs it: frames on a pipe in real time,
// the settings file never written, and the end as soon as the pipe closes.
TEST_F(Entry, PreviewStreamsFramesInRealTimeAndLeavesTheSettingsAlone) {
    // Incomplete: a normal run would put the template in its place.
    const std::string ini = home_ + "/Glimmerax.ini";
    const std::string incomplete = "ImagePath = \"/elsewhere\"\r\nGameSpeed = 5\r\n";
    { std::ofstream(ini, std::ios::binary) << incomplete; }
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    Child c;
    c.errPath = home_ + "/preview-stderr";
    c.pid = fork();
    if (c.pid == 0) {
        dup2(fds[1], 1);
        const int err = open(c.errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(err, 2);
        close(fds[0]);
        close(fds[1]);
        setenv("DISPLAY", "", 1);
        setenv("WAYLAND_DISPLAY", "", 1);
        setenv("GLIMMERAX_HOME", home_.c_str(), 1);
        // The speed keys, which a normal run saves.
        execl(binary().c_str(), binary().c_str(), "--preview",
              (sourceDir() + "/data/samples").c_str(), "--size", "64x48", "--script",
              "0.1:key:107,0.2:key:109", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    auto readAll = [&](void* to, size_t size) {
        for (size_t got = 0; got < size;) {
            const ssize_t n = read(fds[0], static_cast<char*>(to) + got, size - got);
            if (n <= 0) return false;
            got += size_t(n);
        }
        return true;
    };
    std::vector<uint32_t> pixels(64 * 48);
    std::chrono::steady_clock::time_point firstFrame;
    constexpr int kFrames = 25;
    for (int i = 0; i < kFrames; ++i) {
        char header[12];
        ASSERT_TRUE(readAll(header, sizeof header)) << "frame " << i << ": " << readFile(c.errPath);
        ASSERT_EQ(std::string(header, 4), "GXPF");
        uint32_t size[2];
        std::memcpy(size, header + 4, sizeof size);
        ASSERT_EQ(size[0], 64u);
        ASSERT_EQ(size[1], 48u);
        ASSERT_TRUE(readAll(pixels.data(), pixels.size() * 4));
        if (i == 0) firstFrame = std::chrono::steady_clock::now();
    }
    // Paced as on a display, at most 30 frames a second while the picture comes in (the
    // virtual clock would send them as fast as they are made), and the picture is there.
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - firstFrame).count();
    EXPECT_GE(seconds, (kFrames - 1) / 30.0 * 0.9);
    EXPECT_TRUE(
        std::any_of(pixels.begin(), pixels.end(), [](uint32_t p) { return (p & 0xFFFFFF) != 0; }));
    close(fds[0]);
    EXPECT_EQ(waitFor(c, 10), 0) << readFile(c.errPath);
    EXPECT_EQ(readFile(ini), incomplete);
    EXPECT_FALSE(fileExists(ini + ".bak"));
}

TEST_F(Entry, WithoutADisplayEveryRunModeRefusesAndTouchesNothing) {
    // A display number nobody serves.
    int n = 59;
    while (fileExists("/tmp/.X11-unix/X" + std::to_string(n)) ||
           fileExists("/tmp/.X" + std::to_string(n) + "-lock"))
        ++n;
    const std::string dead = ":" + std::to_string(n);
    const std::string ini =
        "ImagePath = \"\"\r\nScreenWidth = 1282\r\nScreenHeight = 1026\r\nResourcePath = "
        "\"Default\"\r\n"
        "LanguageFile = \"English.txt\"\r\nFullscreen = true\r\nDuration = 130\r\nGameSpeed = "
        "10\r\n";
    std::ofstream(home_ + "/Glimmerax.ini", std::ios::binary) << ini;
    const std::vector<std::vector<std::string>> modes = {
        {"/s"}, {"/s", "--windowed"}, {"-root"}, {"-window-id", "0x400001"}};
    for (const auto& mode : modes) {
        SCOPED_TRACE(mode[0] + (mode.size() > 1 ? " " + mode[1] : ""));
        Result none = go(mode, {}, 20);
        EXPECT_EQ(none.code, 1) << none.err;
        EXPECT_EQ(none.err,
                  "Glimmerax: no display is set (DISPLAY is empty); --headless runs without one\n");
        Result gone = go(mode, {"DISPLAY=" + dead}, 20);
        EXPECT_EQ(gone.code, 1) << gone.err;
        EXPECT_EQ(gone.err, "Glimmerax: cannot open display " + dead + "\n");
        EXPECT_EQ(readFile(home_ + "/Glimmerax.ini"), ini);
    }
    // The settings dialog shows the settings it cannot edit, says why, and fails.
    Result dialog = go({"/c"}, {"DISPLAY=" + dead}, 20);
    EXPECT_EQ(dialog.code, 1);
    EXPECT_NE(dialog.out.find("ScreenWidth  = 1282"), std::string::npos) << dialog.out;
    EXPECT_EQ(dialog.err, "Glimmerax: cannot open display " + dead + "\n");
    EXPECT_EQ(readFile(home_ + "/Glimmerax.ini"), ini);
    // Nothing is made either where there was nothing.
    std::remove((home_ + "/Glimmerax.ini").c_str());
    EXPECT_EQ(go({"/s"}).code, 1);
    EXPECT_FALSE(fileExists(home_ + "/Glimmerax.ini"));
}

// Paths a user gives, relative to the folder the program was started in.
class StartingFolder : public ::testing::Test {
protected:
    void SetUp() override {
        start_ = makeTempDir("gxstart");
        ASSERT_EQ(mkdir((start_ + "/hrel").c_str(), 0755), 0);
        std::string cmd = "cp '" + sharedDataFile() + "' '" + start_ + "/hrel/Glimmerax.dat'";
        ASSERT_EQ(std::system(cmd.c_str()), 0);
    }
    void TearDown() override { removeTree(start_); }
    Result go(std::vector<std::string> args, std::vector<std::string> env = {}) {
        args.insert(args.begin(), binary());
        env.push_back("GLIMMERAX_HOME=hrel");
        env.push_back("DISPLAY=");
        env.push_back("WAYLAND_DISPLAY=");
        return run(args, env, start_, 120, start_);
    }
    std::string start_;
};

TEST_F(StartingFolder, RelativeHomeAndOutputsAreTakenFromIt) {
    Result r = go({"/s", "--headless", "--size", "160x120", "--seconds", "9", "--trace",
                   "trace.txt", "--frames-out", "out/deep/frames", "--every", "30", "--dump-state",
                   "0", "state.jsonl"});
    ASSERT_EQ(r.code, 0) << r.err;
    // Once, not again inside the home folder: no hrel/hrel.
    EXPECT_TRUE(fileExists(start_ + "/hrel/Glimmerax.ini"));
    EXPECT_FALSE(fileExists(start_ + "/hrel/hrel"));
    EXPECT_TRUE(fileExists(start_ + "/trace.txt"));
    EXPECT_TRUE(fileExists(start_ + "/state.jsonl"));
    EXPECT_TRUE(fileExists(start_ + "/state.jsonl.png"));
    // --frames-out made its folder with the parents.
    EXPECT_TRUE(fileExists(start_ + "/out/deep/frames/frames.csv"));
    EXPECT_TRUE(fileExists(start_ + "/out/deep/frames/frame-000030.png"));
    for (const char* stray : {"/hrel/trace.txt", "/hrel/state.jsonl", "/hrel/out"})
        EXPECT_FALSE(fileExists(start_ + stray)) << stray;
}

TEST_F(StartingFolder, ErrorLogOfARelativeHomeIsNamedWhereItIs) {
    Result r = go({"/s", "--headless", "--size", "160x120", "--seconds", "5"},
                  {"GLIMMERAX_FAULTS=lock:vertexbuffer:5"});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(fileExists(start_ + "/hrel/error.log"));
    EXPECT_NE(r.err.find("INTERNAL ERROR: For a possible fix, send '" + start_ +
                         "/hrel/error.log' to 'https://github.com/glimmerax/glimmerax/issues'"),
              std::string::npos)
        << r.err;
}

TEST_F(StartingFolder, FramesFolderThatCannotBeMadeStopsBeforeTheRun) {
    std::ofstream(start_ + "/afile") << "x";
    Result r = go({"/s", "--headless", "--size", "160x120", "--seconds", "2", "--frames-out",
                   "afile/frames"});
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(r.err, "glimmerax: cannot write frames to " + start_ +
                         "/afile/frames: the folder cannot be made: Not a directory\n");
    // Before the run: no settings were read or written.
    EXPECT_FALSE(fileExists(start_ + "/hrel/Glimmerax.ini"));

    r = go({"/s", "--headless", "--size", "160x120", "--seconds", "2", "--frames-out", "afile"});
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(r.err, "glimmerax: cannot write frames to " + start_ +
                         "/afile: it exists and is not a folder\n");
}

TEST(EntryX11, FullScreenWindowAndEscape) {
    Xvfb x({"800x600"});
    if (!x.ok() || !haveProgram("xdotool") || !haveProgram("xwd") || !haveProgram("convert"))
        GTEST_SKIP() << "Xvfb, xdotool, xwd or convert is not installed";
    std::string home = newHome();
    Child c = spawn(
        {binary(), "/s"},
        {"GLIMMERAX_HOME=" + home, x.env(), "GLIMMERAX_NO_DIALOGS=1", displayRunSanitizerOptions()},
        home);
    // The window may be made again when the renderer picks its visual: wait until one
    // stays up at the screen's size.
    std::string win, geom;
    for (int i = 0; i < 100; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        win = x.sh("xdotool search --onlyvisible --name '^Glimmerax$' 2>/dev/null | tail -1");
        while (!win.empty() && (win.back() == '\n' || win.back() == ' ')) win.pop_back();
        if (win.empty()) continue;
        geom = x.sh("xdotool getwindowgeometry " + win + " 2>&1");
        if (geom.find("Geometry: 800x600") != std::string::npos) break;
    }
    ASSERT_FALSE(win.empty()) << readFile(c.errPath);
    EXPECT_NE(geom.find("Position: 0,0"), std::string::npos) << geom;
    EXPECT_NE(geom.find("Geometry: 800x600"), std::string::npos) << geom;
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    // Held by Pause, the frame stands still: the side buttons leave it so, the middle
    // button skips to the next picture (and ends the pause).
    x.sh("xdotool windowfocus " + win + "; sleep 0.2; xdotool key Pause; sleep 0.4");
    Shot held, after;
    ASSERT_TRUE(takeShot(x, "", &held, home));
    x.sh("xdotool click 8; xdotool click 9; sleep 0.5");
    ASSERT_TRUE(takeShot(x, "", &after, home));
    EXPECT_EQ(held.px, after.px) << "a side button skipped the picture";
    x.sh("xdotool click 2; sleep 0.5");
    ASSERT_TRUE(takeShot(x, "", &after, home));
    EXPECT_NE(held.px, after.px) << "the middle button did not skip";
    x.sh("xdotool key Escape");
    int code = waitFor(c, 10);
    EXPECT_EQ(code, 0) << readFile(c.errPath);
    removeTree(home);
}

}  // namespace

namespace {

TEST(FirstRun, MakesTheDataFileWithProgressThenLoadsIt) {
    std::string home = gxtest::makeTempDir("gxfirst");
    std::vector<std::string> args = {gxtest::binary(), "/s",        "--headless", "--size",
                                     "160x120",        "--seconds", "1"};
    gxtest::Result first = gxtest::run(args, {"GLIMMERAX_HOME=" + home, "DISPLAY="}, home, 120);
    ASSERT_EQ(first.code, 0) << first.err;
    EXPECT_NE(first.err.find("Generating data file: 100%"), std::string::npos) << first.err;
    EXPECT_EQ(gxtest::readFile(home + "/Glimmerax.dat").size(), 23046616u);
    gxtest::Result second = gxtest::run(args, {"GLIMMERAX_HOME=" + home, "DISPLAY="}, home, 120);
    ASSERT_EQ(second.code, 0) << second.err;
    EXPECT_EQ(second.err.find("Generating"), std::string::npos) << second.err;
    gxtest::removeTree(home);
}

}  // namespace
