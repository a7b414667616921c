// The progress window on a real (virtual) display: it comes up at the cursor, shows
// the progress to 100%, and its QUIT button stops the generation.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "bodies/ring_tables.h"
#include "support/rings.h"
#include "support/temp_folder.h"
#include "ui/progress_window.h"
#include "ui/ring_generator.h"

extern char** environ;

namespace fs = std::filesystem;
using namespace gx;

namespace {

// An Xvfb of our own on a free display number, for the whole program.
class VirtualDisplay : public ::testing::Environment {
public:
    void SetUp() override {
        // Xvfb picks a free display itself and tells us its number through the pipe.
        int fds[2];
        if (pipe(fds) != 0) return;
        const std::string fd = std::to_string(fds[1]);
        // -noreset: the pointer must stay where a test put it between clients.
        const char* argv[] = {"Xvfb",        "-displayfd", fd.c_str(),  "-screen", "0",
                              "1024x768x24", "-noreset",   "-nolisten", "tcp",     nullptr};
        pid_t pid = 0;
        const bool spawned =
            posix_spawnp(&pid, "Xvfb", nullptr, nullptr, const_cast<char**>(argv), environ) == 0;
        close(fds[1]);
        std::string number;
        char c;
        while (spawned && read(fds[0], &c, 1) == 1 && c != '\n') number += c;
        close(fds[0]);
        if (!spawned) return;
        if (number.empty()) {
            stop(pid);
            return;
        }
        pid_ = pid;
        setenv("DISPLAY", (":" + number).c_str(), 1);
    }
    void TearDown() override {
        if (pid_ > 0) stop(pid_);
    }
    static bool up() { return pid_ > 0; }

private:
    static void stop(pid_t pid) {
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
    }
    static inline pid_t pid_ = 0;
};

const auto* const display = ::testing::AddGlobalTestEnvironment(new VirtualDisplay);

// A loaded machine (the sanitizer suite runs two tests at once) may take seconds over
// the first window of a process.
constexpr std::chrono::seconds kWindowWait{30};

std::string run(const std::string& command) {
    std::string out;
    if (FILE* p = popen(command.c_str(), "r")) {
        char buffer[256];
        while (fgets(buffer, sizeof buffer, p)) out += buffer;
        pclose(p);
    }
    return out;
}

class ProgressWindow : public ::testing::Test {
protected:
    void SetUp() override {
        if (!VirtualDisplay::up()) GTEST_SKIP() << "no Xvfb";
        setProgressDisplay(ProgressDisplay::Window);
        // The server may take a moment to answer after its socket appears.
        ASSERT_TRUE(gxtest::waitUntil([] {
            run("xdotool mousemove 120 140");
            return run("xdotool getmouselocation").find("x:120 y:140") != std::string::npos;
        }));
    }
    void TearDown() override {
        setRingGeneratorHooks({});
        setProgressDisplay(ProgressDisplay::Automatic);
        freeRingTables();
    }
};

TEST_F(ProgressWindow, ComesUpAtTheCursorAndShowsTheProgressToTheEnd) {
    gxtest::TempFolder dir;
    bool shown = false;
    std::string geometry;
    std::vector<int> percentages;
    RingGeneratorHooks hooks;
    hooks.afterStep = [&](int stage, int step, DataGenWindow& w) {
        if (stage == 1 && step == 1)
            shown = gxtest::waitUntil([&] { return w.windowShown(); }, kWindowWait);
        if (stage == 1 && step == 2) {
            geometry = run("xdotool search --name '^Glimmerax$' getwindowgeometry");
        }
    };
    hooks.beforeClose = [&](DataGenWindow& w) { percentages = w.shownPercentages(); };
    setRingGeneratorHooks(hooks);
    ASSERT_TRUE(generateRingTablesTo(dir.file(kRingFileName)));
    EXPECT_TRUE(shown);
    EXPECT_NE(geometry.find("Position: 120,140"), std::string::npos) << geometry;
    ASSERT_FALSE(percentages.empty());
    EXPECT_EQ(percentages.back(), 100);
    // And the window painted it before it closed.
    EXPECT_EQ(lastPercentDisplayed(), 100);
    for (size_t i = 1; i < percentages.size(); ++i) EXPECT_LT(percentages[i - 1], percentages[i]);
    EXPECT_EQ(fs::file_size(dir.file(kRingFileName)), kRingFileSize);
    // The window is gone once the generator returns.
    EXPECT_EQ(run("xdotool search --name '^Glimmerax$'"), "");
}

TEST_F(ProgressWindow, ShowsOneHundredPercentEvenWhenTheEndFollowsAtOnce) {
    // No file to write: the generator ends right after its last step.
    gxtest::TempFolder dir;
    RingGeneratorHooks hooks;
    hooks.afterStep = [&](int stage, int step, DataGenWindow& w) {
        if (stage == 1 && step == 1)
            gxtest::waitUntil([&] { return w.windowShown(); }, kWindowWait);
    };
    setRingGeneratorHooks(hooks);
    testing::internal::CaptureStderr();
    ASSERT_TRUE(generateRingTablesTo(dir.file("missing/" + std::string(kRingFileName))));
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(lastPercentDisplayed(), 100);
}

TEST_F(ProgressWindow, QuitButtonStopsTheGeneration) {
    gxtest::TempFolder dir;
    bool closed = false;
    std::pair<int, int> last{0, 0};
    RingGeneratorHooks hooks;
    hooks.afterStep = [&](int stage, int step, DataGenWindow& w) {
        last = {stage, step};
        if (stage == 1 && step == 10) {
            if (!gxtest::waitUntil([&] { return w.windowShown(); }, kWindowWait)) return;
            // The button's middle, the window's corner being at the cursor.
            run("xdotool mousemove 355 209 click 1");
            closed = gxtest::waitUntil([&] { return w.closed(); });
        }
    };
    setRingGeneratorHooks(hooks);
    EXPECT_FALSE(generateRingTablesTo(dir.file(kRingFileName)));
    EXPECT_TRUE(closed);
    EXPECT_EQ(last, std::make_pair(1, 10));
    EXPECT_TRUE(fs::is_empty(dir.path()));
    EXPECT_EQ(ringTables.ringPoints, nullptr);
}

}  // namespace
