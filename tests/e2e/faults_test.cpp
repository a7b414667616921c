// Whole runs with device faults injected from outside: each failure writes error.log with
// its message and the phase it happened in, names the file, and ends with exit code 1.
#include <gtest/gtest.h>

#include "support/run.h"

namespace {

using namespace gxtest;

struct Case {
    const char* faults;
    const char* message;
    const char* state;
};

TEST(Faults, EachInjectedFailureEndsTheRunWithAReport) {
    const Case cases[] = {
        {"lock:vertexbuffer:5", "Internal error - Failed to render3.", "\nSTATE2\nElapsed Time: "},
        {"lock:surface:8", "Internal error - Failed to process collision.",
         "\nSTATE1\nElapsed Time: "},
        {"create:texture:3", "Internal error - Failed to create collision buffer2", "\nno state"},
        {"readback:rendertarget:1", "Internal error - Failed to render4.", "\nSTATE1\n"},
    };
    for (const Case& c : cases) {
        std::string home = newHome();
        Result r =
            run({binary(), "/s", "--headless", "--size", "320x240", "--seconds", "20"},
                {"GLIMMERAX_HOME=" + home, "GLIMMERAX_FAULTS=" + std::string(c.faults), "DISPLAY="},
                home);
        EXPECT_EQ(r.code, 1) << c.faults;
        std::string log = readFile(home + "/error.log");
        EXPECT_NE(log.find(std::string("\n") + c.message + "\n"), std::string::npos)
            << c.faults << "\n"
            << log;
        EXPECT_NE(log.find(c.state), std::string::npos) << c.faults << "\n" << log;
        EXPECT_NE(log.find("\nSrcBlendCaps: "), std::string::npos);
        EXPECT_NE(r.err.find("send '" + home + "/error.log'"), std::string::npos) << r.err;
        removeTree(home);
    }
}

TEST(Faults, WindUpReportListsXBeforeY) {
    std::string home = newHome();
    Result r =
        run({binary(), "/s", "--headless", "--size", "320x240", "--seconds", "20"},
            {"GLIMMERAX_HOME=" + home, "GLIMMERAX_FAULTS=lock:vertexbuffer:40", "DISPLAY="}, home);
    EXPECT_EQ(r.code, 1);
    std::string log = readFile(home + "/error.log");
    size_t x2 = log.find("\nStartX2: "), y1 = log.find("\nStartY1: ");
    ASSERT_NE(x2, std::string::npos) << log;
    EXPECT_LT(x2, y1);
    EXPECT_NE(log.find("\nCreation Width: 0"), std::string::npos);
    removeTree(home);
}

TEST(Faults, ALostDeviceIsResetAndTheRunGoesOn) {
    std::string home = newHome();
    Result r =
        run({binary(), "/s", "--headless", "--size", "320x240", "--seconds", "10"},
            {"GLIMMERAX_HOME=" + home, "GLIMMERAX_FAULTS=lost:frame:50,lost:frame:250", "DISPLAY="},
            home);
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_FALSE(fileExists(home + "/error.log"));
    removeTree(home);
}

}  // namespace
