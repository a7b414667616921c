#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <sstream>

#include "support/render_fixture.h"
#include "ui/contact.h"

namespace gx::testing {
namespace {

using ErrorReportTest = RenderTest;

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);) out.push_back(l);
    return out;
}

TEST_F(ErrorReportTest, ReportHoldsMessagePictureStateAndDevice) {
    errorReportSources().picturePath = [] { return std::string("/pics/cat.png"); };
    errorReportSources().phaseState = [] {
        PhaseStateReport s;
        s.kind = PhaseStateReport::Kind::Simulation;
        s.elapsedTime = 2.5f;
        s.frameCounter = 41;
        return s;
    };
    ASSERT_TRUE(writeErrorReport("Internal error - Failed to render2."));
    const std::string text = report();
    EXPECT_EQ(text.rfind("\n----------------------------------------------------------\n"
                         "----------------GLIMMERAX ERROR REPORT--------------------\n",
                         0),
              0u);
    EXPECT_NE(text.find(std::string("\n          send this to ") + kReportContact + "\n"),
              std::string::npos);
    EXPECT_NE(
        text.find(
            "------\n\nInternal error - Failed to render2.\n\n/pics/cat.png\n\n\nSTATE INFO:\n"
            "\nSTATE1\nElapsed Time: 2.500000\nElapsed Frames: 42\n\n\nDEVICE CAPABILITIES:\n"),
        std::string::npos);

    // One line per capability field, in the record's order, then the device stats.
    std::vector<std::string> l = lines(text);
    auto at = std::find(l.begin(), l.end(), "DEVICE CAPABILITIES:");
    ASSERT_NE(at, l.end());
    std::vector<std::string> caps(at + 2, at + 2 + 76);
    EXPECT_EQ(caps.front().rfind("DeviceType: ", 0), 0u);
    EXPECT_EQ(caps[28].rfind("MaxVertexW: ", 0), 0u);
    EXPECT_NE(caps[28].find('.'), std::string::npos);  // a float
    EXPECT_EQ(caps[54], "MaxNpatchTessellationLevel: 0");
    EXPECT_EQ(caps[62].rfind("VS20Caps.Caps: ", 0), 0u);
    EXPECT_EQ(caps.back().rfind("MaxPixelShader30InstructionSlots: ", 0), 0u);
    EXPECT_TRUE(at[2 + 76].empty());
    EXPECT_EQ(text.substr(text.size() - 12), "\nWindowed: 0");
    EXPECT_NE(text.find("\n\n\nDEVICE STATS:\n\n"), std::string::npos);
}

TEST_F(ErrorReportTest, StateBlocksOfEveryPhase) {
    PhaseStateReport s;
    EXPECT_EQ(formatStateBlock(s), "\nno state");
    s.kind = PhaseStateReport::Kind::WindUp;
    s.elapsedTime = 1.25f;
    s.startX1 = 10.9f, s.startY1 = 20.2f, s.startX2 = -30.7f, s.startY2 = 40.0f;
    s.endX1 = 1, s.endY1 = 2, s.endX2 = 3, s.endY2 = 4;
    s.creationWidth = 640, s.creationHeight = 480;
    EXPECT_EQ(
        formatStateBlock(s),
        "\nSTATE2\nElapsed Time: 1.250000\nStartX1: 10\nStartX2: -30\nStartY1: 20\nStartY2: 40"
        "\nEndX1: 1\nEndX2: 3\nEndY1: 2\nEndY2: 4\nCreation Width: 640\nCreation Height: 480");
    s.kind = PhaseStateReport::Kind::WindDown;
    EXPECT_EQ(formatStateBlock(s), "\nSTATE3\nElapsed Time: 1.250000");

    // Without a state provider, a message or a picture.
    ASSERT_TRUE(writeErrorReport(nullptr));
    const std::string text = report();
    EXPECT_NE(
        text.find(
            "------\n\nunspecified error\nscreenshot\n\n\nSTATE INFO:\n\nno state\n\n\nDEVICE"),
        std::string::npos);
}

TEST_F(ErrorReportTest, InternalErrorNamesTheFileWrittenAndEndsTheRunOnce) {
    EXPECT_EQ(internalError("Internal error - Failed to lock surface."), gfx::kOk);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, "Glimmerax");
    EXPECT_EQ(boxes[0].text, "INTERNAL ERROR: For a possible fix, send '" + home +
                                 "/error.log' to 'https://github.com/glimmerax/glimmerax/issues'");
    EXPECT_STREQ(kReportContact, kIssueTracker);
    EXPECT_EQ(errorReportPath(), home + "/error.log");
    EXPECT_NE(report().find("Failed to lock surface."), std::string::npos);
    EXPECT_EQ(getExitCode(), 1);
    EXPECT_TRUE(RenderSuppressed);

    // What fails while the run winds down neither replaces the report nor shows a box.
    internalError("Internal error - Failed to render3.");
    EXPECT_EQ(boxes.size(), 1u);
    EXPECT_EQ(report().find("render3"), std::string::npos);
    EXPECT_EQ(getExitCode(), 1);
}

TEST_F(ErrorReportTest, BoxMentionsThePictureAndIsCut) {
    const std::string longPath = "/pictures/" + std::string(600, 'x') + ".png";
    errorReportSources().picturePath = [&] { return longPath; };
    internalError("Internal error - Failed to render4.");
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text.size(), 511u);
    EXPECT_NE(boxes[0].text.find("'\n\nPlease attach this image (if possible)\n /pictures/xxx"),
              std::string::npos);

    // A character across the cut goes whole.
    const std::string before = errorReportBoxText(true, 0, "/p/");
    const std::string accented = "/p/" + std::string(511 - before.size() - 1, 'a') + "\xC3\xA9.png";
    EXPECT_EQ(errorReportBoxText(true, 0, accented).size(), 510u);
}

TEST_F(ErrorReportTest, UnwritableReportIsNotNamedAsIfItWereThere) {
    ASSERT_EQ(mkdir((home + "/error.log").c_str(), 0755), 0);  // cannot be opened as a file
    EXPECT_FALSE(writeErrorReport("x"));
    internalError("Internal error - Failed to process collision.");
    ASSERT_EQ(boxes.size(), 1u);
    // Where it should have been and why it is not: no "send" of a file that is not there.
    EXPECT_EQ(boxes[0].text, "INTERNAL ERROR: The error report could not be written to '" + home +
                                 "/error.log' (Is a directory). For a possible fix, report this to "
                                 "'https://github.com/glimmerax/glimmerax/issues'");
    EXPECT_EQ(getExitCode(), 1);
}

TEST_F(ErrorReportTest, BoxTextsForAWrittenAndAnUnwrittenReport) {
    const std::string path = errorReportPath();
    EXPECT_EQ(
        errorReportBoxText(true, 0, "/p/cat.png"),
        "INTERNAL ERROR: For a possible fix, send '" + path +
            "' to 'https://github.com/glimmerax/glimmerax/issues'\n\nPlease attach this image (if "
            "possible)\n /p/cat.png");
    EXPECT_EQ(errorReportBoxText(false, EROFS, ""),
              "INTERNAL ERROR: The error report could not be written to '" + path +
                  "' (Read-only file system). For a possible fix, report this to "
                  "'https://github.com/glimmerax/glimmerax/issues'");
    const std::string full = errorReportBoxText(false, ENOSPC, "/p/cat.png");
    EXPECT_NE(full.find(path + "' (No space left on device). For a possible fix"),
              std::string::npos)
        << full;
    EXPECT_NE(full.find("\n\nPlease attach this image (if possible)\n /p/cat.png"),
              std::string::npos)
        << full;
}

TEST_F(ErrorReportTest, ReadOnlyHomeGetsNoFileAndTheBoxSaysSo) {
    // A full disk or a read-only home: /dev/full takes the place of the report.
    ASSERT_EQ(symlink("/dev/full", (home + "/error.log").c_str()), 0);
    internalError("Internal error - Failed to render1.");
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_NE(boxes[0].text.find("could not be written to '" + home +
                                 "/error.log' (No space left on device)"),
              std::string::npos)
        << boxes[0].text;
    EXPECT_EQ(boxes[0].text.find("send '"), std::string::npos);
}

}  // namespace
}  // namespace gx::testing
