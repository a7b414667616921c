// The mouse rule, through scripted runs of the real program.
#include <gtest/gtest.h>

#include "support/run.h"

namespace {

using namespace gxtest;

// Runs 8 s of virtual time with the script; returns the virtual time of the last frame.
double lastFrameTime(const std::string& script) {
    std::string home = newHome();
    std::string frames = home + "/frames";
    mkdir(frames.c_str(), 0755);
    Result r = run({binary(), "/s", "--headless", "--size", "320x240", "--seconds", "8", "--every", "1000",
                    "--frames-out", frames, "--script", script},
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
    EXPECT_GT(lastFrameTime("3.5:move:10:10,4:move:10:10,4.5:move:60:10,5:move:60:90,5.5:move:5:90"), 7.9);
    // The first examined move records, the next diagonal one ends it.
    double t = lastFrameTime("3.5:move:10:10,4:move:10:10,4.5:move:60:70");
    EXPECT_NEAR(t, 4.5, 0.1);
}

}  // namespace
