// The generator's control flow: QUIT in either stage, Ctrl-C, progress before the
// window exists, running out of memory, and the worker thread.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <csignal>
#include <filesystem>
#include <string>
#include <utility>

#include "bodies/ring_tables.h"
#include "platform/os/message_box.h"
#include "support/rings.h"
#include "support/temp_folder.h"
#include "ui/progress_window.h"
#include "ui/ring_generator.h"
#include "universe/trig.h"

namespace fs = std::filesystem;
using namespace gx;

namespace {

class RingGenerator : public ::testing::Test {
protected:
    void SetUp() override { setProgressDisplay(ProgressDisplay::None); }
    void TearDown() override {
        setRingGeneratorHooks({});
        setProgressDisplay(ProgressDisplay::None);
        setMessageBoxSink({});
        freeRingTables();
    }

    static bool tablesEmpty() {
        return !ringTables.ringStart && !ringTables.ringPoints && !ringTables.directionCodes &&
               ringTables.ringCentreX == 0;
    }
    static bool folderEmpty(const gxtest::TempFolder& dir) { return fs::is_empty(dir.path()); }

    // Presses QUIT after step `at` of `stage` and reports the last step run.
    std::pair<int, int> quitAt(int stage, int at, bool* result, const gxtest::TempFolder& dir) {
        std::pair<int, int> last{0, 0};
        RingGeneratorHooks hooks;
        hooks.afterStep = [&](int s, int step, DataGenWindow& w) {
            last = {s, step};
            if (s == stage && step == at) w.pressQuit();
        };
        setRingGeneratorHooks(hooks);
        *result = generateRingTablesTo(dir.file(kRingFileName));
        return last;
    }
};

TEST_F(RingGenerator, QuitDuringTheRingsStopsAfterThatRing) {
    gxtest::TempFolder dir;
    bool result = true;
    EXPECT_EQ(quitAt(1, 200, &result, dir), std::make_pair(1, 200));
    EXPECT_FALSE(result);
    EXPECT_TRUE(tablesEmpty());
    EXPECT_TRUE(folderEmpty(dir));
}

TEST_F(RingGenerator, QuitDuringTheCodesStopsAfterThatPoint) {
    gxtest::TempFolder dir;
    bool result = true;
    EXPECT_EQ(quitAt(2, 1234567, &result, dir), std::make_pair(2, 1234567));
    EXPECT_FALSE(result);
    EXPECT_TRUE(tablesEmpty());
    EXPECT_TRUE(folderEmpty(dir));
}

TEST_F(RingGenerator, CtrlCInTheTextDisplayActsAsQuit) {
    setProgressDisplay(ProgressDisplay::Text);
    gxtest::TempFolder dir;
    std::pair<int, int> last{0, 0};
    bool shown = false;
    RingGeneratorHooks hooks;
    hooks.afterStep = [&](int stage, int step, DataGenWindow& w) {
        last = {stage, step};
        if (stage == 1 && step == 50) {
            shown = gxtest::waitUntil([&] { return w.windowShown(); });
            std::raise(SIGINT);
        }
    };
    setRingGeneratorHooks(hooks);
    EXPECT_FALSE(generateRingTablesTo(dir.file(kRingFileName)));
    EXPECT_TRUE(shown);
    EXPECT_EQ(last, std::make_pair(1, 50));
    EXPECT_TRUE(tablesEmpty());
    EXPECT_TRUE(folderEmpty(dir));
    // The display gave Ctrl-C back.
    struct sigaction now {};
    sigaction(SIGINT, nullptr, &now);
    EXPECT_EQ(now.sa_handler, SIG_DFL);
}

TEST_F(RingGenerator, ProgressCountsOnlyOnceTheWindowIsUp) {
    setProgressDisplay(ProgressDisplay::Text);
    DataGenWindow window;
    window.setProgress(5);
    EXPECT_EQ(window.lastShown(), -1);
    window.start();
    EXPECT_TRUE(window.running());
    ASSERT_TRUE(gxtest::waitUntil([&] { return window.windowShown(); }));
    window.setProgress(5);
    window.setProgress(5);
    window.setProgress(7);
    EXPECT_EQ(window.shownPercentages(), (std::vector<int>{5, 7}));
    EXPECT_EQ(window.lastShown(), 7);
    EXPECT_FALSE(window.closed());
}

TEST_F(RingGenerator, WithoutAnyDisplayNothingIsShown) {
    DataGenWindow window;
    window.start();
    window.join();
    EXPECT_FALSE(window.running());
    window.setProgress(40);
    EXPECT_FALSE(window.windowShown());
    EXPECT_TRUE(window.shownPercentages().empty());
}

TEST_F(RingGenerator, OutOfMemoryInEitherStageReportsAndStops) {
    for (int stage : {1, 2}) {
        gxtest::TempFolder dir;
        std::vector<std::pair<std::string, std::string>> boxes;
        setMessageBoxSink([&](const std::string& text, const std::string& caption) {
            boxes.emplace_back(text, caption);
        });
        RingGeneratorHooks hooks;
        hooks.failAllocationInStage = stage;
        setRingGeneratorHooks(hooks);
        EXPECT_FALSE(generateRingTablesTo(dir.file(kRingFileName))) << stage;
        ASSERT_EQ(boxes.size(), size_t(1)) << stage;
        EXPECT_EQ(boxes[0].first, "ERROR: Out of memory.");
        EXPECT_EQ(boxes[0].second, "Glimmerax");
        EXPECT_TRUE(tablesEmpty());
        EXPECT_TRUE(folderEmpty(dir));
    }
}

TEST_F(RingGenerator, UnwritableFolderStillGivesTheTablesAndSaysSo) {
    gxtest::TempFolder dir;
    const std::string path = dir.file("no/such/folder/" + std::string(kRingFileName));
    testing::internal::CaptureStderr();
    EXPECT_TRUE(generateRingTablesTo(path));
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "glimmerax: the data file could not be written to " + path +
                  " (No such file or directory); it will be made again next time.\n");
    EXPECT_NE(ringTables.ringPoints, nullptr);
    EXPECT_TRUE(ringTablesValid(ringTables));
    EXPECT_TRUE(folderEmpty(dir));

    // A folder in the file's place: the same, with its reason, and nothing left beside it.
    freeRingTables();
    fs::create_directory(dir.file(kRingFileName));
    testing::internal::CaptureStderr();
    EXPECT_TRUE(generateRingTablesTo(dir.file(kRingFileName)));
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "glimmerax: the data file could not be written to " + dir.file(kRingFileName) +
                  " (Is a directory); it will be made again next time.\n");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
}

// The sweep skips angles it can prove land on a pixel it has already produced; on an
// empty map every ring, including those crossing the square's edges (801 to 1132) and
// those wholly outside it, must list what evaluating every angle lists.
TEST(RingSweep, EveryRingListsWhatEveryAngleReaches) {
    std::vector<uint8_t> plainSeen(kRingPointCount, 0), sweepSeen(kRingPointCount, 0);
    std::vector<RingPoint> plain, swept(kRingPointCount);
    int mismatches = 0;
    for (int r = 1; r < kRingCount && mismatches < 5; ++r) {
        plain.clear();
        const float radius = float(r);
        const float step = 1.0f / radius / 6.2831855f;
        for (float a = -3.1415927f; a < 3.1415927f; a += step) {
            const trig::SinCos sc = trig::sinCos(a);
            const int px = int(sc.cos * radius + 800.0f);
            const int py = int(sc.sin * radius + 800.0f);
            if (px < 0 || px > 1599 || py < 0 || py > 1599) continue;
            if (plainSeen[py * 1600 + px]++ == 0) plain.push_back({px, py});
        }
        const int n = sweepRing(r, sweepSeen.data(), swept.data(), 0);
        bool same = n == int(plain.size());
        for (int i = 0; same && i < n; ++i) {
            same = swept[i].x == plain[i].x && swept[i].y == plain[i].y;
        }
        if (!same) {
            ++mismatches;
            ADD_FAILURE() << "ring " << r << ": " << n << " points, every angle gives "
                          << plain.size();
        }
        for (const RingPoint& p : plain) plainSeen[p.y * 1600 + p.x] = 0;
        for (int i = 0; i < n; ++i) sweepSeen[swept[i].y * 1600 + swept[i].x] = 0;
        if (r >= 1133) {
            EXPECT_EQ(n, 0) << r;
        }
    }
}

class CountingThread : public Thread {
public:
    ~CountingThread() override { join(); }
    int run() override {
        runs.fetch_add(1);
        return 0;
    }
    std::atomic<int> runs{0};
};

TEST(RingThread, StartingAgainJoinsThePreviousThread) {
    CountingThread t;
    EXPECT_FALSE(t.running());
    t.start();
    t.start();
    EXPECT_TRUE(t.running());
    t.join();
    EXPECT_FALSE(t.running());
    EXPECT_FALSE(t.hasThread());
    EXPECT_EQ(t.runs.load(), 2);
    t.join();  // a second join is harmless
}

}  // namespace
