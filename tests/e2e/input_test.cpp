// Input through scripted runs of the real program: the mouse rule, the pause, the side
// buttons and the full-screen toggle.
#include <gtest/gtest.h>

#include <map>

#include "support/run.h"

namespace {

using namespace gxtest;

struct Frame {
    double time = 0;
    std::string phase;
    std::string png;
};

// A headless run writing every frame; the frames by number, with their time and phase.
std::map<int, Frame> framesOf(const std::string& home, double seconds, const std::string& script,
                              const std::string& size = "160x120") {
    std::string frames = home + "/frames";
    mkdir(frames.c_str(), 0755);
    Result r = run({binary(), "/s", "--headless", "--size", size, "--seconds",
                    std::to_string(seconds), "--frames-out", frames, "--script", script},
                   {"GLIMMERAX_HOME=" + home, "DISPLAY="}, home, 120);
    EXPECT_EQ(r.code, 0) << r.err;
    std::map<int, Frame> out;
    std::istringstream csv(readFile(frames + "/frames.csv"));
    std::string line;
    std::getline(csv, line);
    while (std::getline(csv, line)) {
        int n = 0;
        char phase[32] = "";
        double t = 0;
        if (std::sscanf(line.c_str(), "%d,%lf,%31[^,]", &n, &t, phase) != 3) continue;
        char name[64];
        std::snprintf(name, sizeof name, "/frame-%06d.png", n);
        out[n] = Frame{t, phase, readFile(frames + name)};
    }
    return out;
}

// The frame shown at virtual time t.
const Frame& at(const std::map<int, Frame>& frames, double t) {
    const Frame* best = &frames.begin()->second;
    for (const auto& [n, f] : frames)
        if (f.time <= t + 1e-6) best = &f;
    return *best;
}

// Runs 8 s of virtual time with the script; returns the virtual time of the last frame.
double lastFrameTime(const std::string& script) {
    std::string home = newHome();
    std::string frames = home + "/frames";
    mkdir(frames.c_str(), 0755);
    Result r = run({binary(), "/s", "--headless", "--size", "320x240", "--seconds", "8", "--every",
                    "1000", "--frames-out", frames, "--script", script},
                   {"GLIMMERAX_HOME=" + home, "DISPLAY="}, home, 120);
    EXPECT_EQ(r.code, 0) << r.err;
    std::string csv = readFile(frames + "/frames.csv");
    removeTree(home);
    size_t end = csv.find_last_not_of('\n');
    size_t start = csv.rfind('\n', end);
    std::string last = csv.substr(start + 1, end - start);
    size_t comma = last.find(',');
    return std::atof(last.substr(comma + 1).c_str());
}

TEST(MouseRule, OnlyADiagonalMoveAfterThreeSecondsEndsTheSaver) {
    // Moves in the first three seconds never end it, diagonal or not.
    EXPECT_GT(lastFrameTime("0.5:move:10:10,1:move:50:50,1.5:move:90:90,2.5:move:10:200"), 7.9);
    // Straight moves after that only update the record.
    EXPECT_GT(
        lastFrameTime("3.5:move:10:10,4:move:10:10,4.5:move:60:10,5:move:60:90,5.5:move:5:90"),
        7.9);
    // The first examined move records, the next diagonal one ends it.
    double t = lastFrameTime("3.5:move:10:10,4:move:10:10,4.5:move:60:70");
    EXPECT_NEAR(t, 4.5, 0.1);
}

TEST(PauseKey, OneStateThatAlwaysComesUndoneAndTimeGoesOn) {
    std::string home = newHome();
    // The simulation runs from 6.5 s. Pause at 8, a click at 9 (the next picture's
    // wind-up, which shrinks from 3 s in), Pause at 12.5 and again at 13.5.
    auto frames = framesOf(home, 15, "8:key:19,9:click,12.5:key:19,13.5:key:19");
    ASSERT_FALSE(frames.empty());
    // Virtual time went on through both pauses, to the end of the run.
    EXPECT_GT(frames.rbegin()->second.time, 14.9);
    EXPECT_EQ(at(frames, 7.5).phase, "simulation");
    EXPECT_NE(at(frames, 7.6).png, at(frames, 7.9).png) << "the simulation was not moving";
    EXPECT_EQ(at(frames, 8.2).png, at(frames, 8.9).png) << "Pause did not hold the simulation";
    // The click brings the next picture, moving.
    EXPECT_EQ(at(frames, 9.2).phase, "windup");
    EXPECT_NE(at(frames, 9.1).png, at(frames, 9.5).png) << "the next picture came held";
    EXPECT_NE(at(frames, 12.0).png, at(frames, 12.4).png);
    EXPECT_EQ(at(frames, 12.6).png, at(frames, 13.4).png) << "Pause did not hold the wind-up";
    EXPECT_NE(at(frames, 13.6).png, at(frames, 14.2).png) << "Pause again did not undo it";
    removeTree(home);

    // A key held down on Pause (no release) neither freezes the clock nor spins.
    home = newHome();
    frames = framesOf(home, 4, "1:keydown:19,3:key:32");
    ASSERT_FALSE(frames.empty());
    EXPECT_GT(frames.rbegin()->second.time, 3.9);
    removeTree(home);
}

TEST(SideButtons, NeitherSkipsNorEndsButTheMiddleButtonSkips) {
    std::string home = newHome();
    // The first picture stands still from 0.75 s to 3 s of its wind-up; a skip starts
    // the fade of the next one.
    auto frames = framesOf(home, 3, "1:click:4,1.5:click:5,2:click:3");
    EXPECT_EQ(at(frames, 0.9).png, at(frames, 1.9).png) << "a side button skipped the picture";
    EXPECT_NE(at(frames, 1.9).png, at(frames, 2.2).png) << "the middle button did not skip";
    removeTree(home);
}

TEST(FullScreenToggle, ToAWindowAndBackKeepsTheUsersScreenSize) {
    std::string home = newHome();
    std::ofstream(home + "/Glimmerax.ini", std::ios::binary)
        << "ImagePath = \"\"\r\nScreenWidth = 1282\r\nScreenHeight = 1026\r\nResourcePath = "
           "\"Default\"\r\n"
        << "LanguageFile = \"English.txt\"\r\nFullscreen = true\r\nDuration = 130\r\nGameSpeed = "
           "10\r\n";
    Result r = run({binary(), "/s", "--headless", "--size", "1600x1200", "--seconds", "3",
                    "--script", "1:alt-enter,2:alt-enter"},
                   {"GLIMMERAX_HOME=" + home, "DISPLAY="}, home, 120);
    EXPECT_EQ(r.code, 0) << r.err;
    std::string ini = readFile(home + "/Glimmerax.ini");
    EXPECT_NE(ini.find("ScreenWidth = 1282\r\nScreenHeight = 1026\r\n"), std::string::npos) << ini;
    EXPECT_NE(ini.find("Fullscreen = true"), std::string::npos) << ini;
    removeTree(home);
}

}  // namespace
