// The ring tables: what the generator computes and writes, and what the loader accepts.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "bodies/ring_tables.h"
#include "framework/framework.h"
#include "platform/os/message_box.h"
#include "reference_rings.h"
#include "support/rings.h"
#include "support/temp_folder.h"
#include "ui/progress_window.h"
#include "ui/ring_generator.h"

namespace fs = std::filesystem;
using namespace gx;

namespace {

constexpr size_t kStartOffset = 16;
constexpr size_t kShadesOffset = 6416;
constexpr size_t kPointsOffset = 6616;
constexpr size_t kCodesOffset = 20486616;

// One generated file shared by every test that needs the full tables.
class GeneratedRings : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        folder_ = new gxtest::TempFolder;
        setProgressDisplay(ProgressDisplay::None);
        setRingGeneratorHooks({});
        generated_ = generateRingTablesTo(folder_->file(kRingFileName));
        memoryImage_ = new std::string(gxtest::imageOf(ringTables));
        freeRingTables();
        file_ = new std::string(gxtest::readFile(folder_->file(kRingFileName)));
    }
    static void TearDownTestSuite() {
        delete file_;
        delete memoryImage_;
        delete folder_;
        freeRingTables();
    }
    void TearDown() override {
        freeRingTables();
        setRingGeneratorHooks({});
        setProgressDisplay(ProgressDisplay::None);
    }

    static int32_t fileInt(size_t offset) {
        int32_t v;
        std::memcpy(&v, file_->data() + offset, 4);
        return v;
    }

    // Writes the shared file with one change and reports whether it loads.
    bool loadsWithChange(size_t offset, int32_t value) {
        std::string bytes = *file_;
        std::memcpy(bytes.data() + offset, &value, 4);
        return loadsBytes(bytes);
    }
    bool loadsBytes(const std::string& bytes) {
        gxtest::TempFolder dir;
        gxtest::writeFile(dir.file("x.dat"), bytes);
        const bool ok = loadRingTablesFrom(dir.file("x.dat"));
        if (!ok) {
            EXPECT_EQ(ringTables.ringPoints, nullptr);
            EXPECT_EQ(ringTables.ringStart, nullptr);
            EXPECT_EQ(ringTables.directionCodes, nullptr);
            EXPECT_EQ(ringTables.ringCentreX, 0);
        }
        freeRingTables();
        return ok;
    }

    static inline gxtest::TempFolder* folder_ = nullptr;
    static inline bool generated_ = false;
    static inline std::string* memoryImage_ = nullptr;
    static inline std::string* file_ = nullptr;
};

TEST_F(GeneratedRings, GeneratesWithoutAnyWindowAndWritesWhatItComputed) {
    ASSERT_TRUE(generated_);
    ASSERT_EQ(file_->size(), size_t(23046616));
    EXPECT_TRUE(*file_ == *memoryImage_);
    EXPECT_EQ(fileInt(0), 1600);
    EXPECT_EQ(fileInt(4), 1200);
    EXPECT_EQ(fileInt(8), 800);
    EXPECT_EQ(fileInt(12), 800);
    for (int i = 0; i < kRingShadeCount; ++i) {
        const int32_t shade = fileInt(kShadesOffset + 4 * size_t(i));
        EXPECT_GE(shade, 191);
        EXPECT_LE(shade, 222);
    }
    // Written through a temporary file that does not stay behind.
    EXPECT_EQ(std::distance(fs::directory_iterator(folder_->path()), fs::directory_iterator()), 1);
}

TEST_F(GeneratedRings, TablesEqualAnIndependentReadingOfTheRules) {
    ASSERT_TRUE(generated_);
    const reference::Tables ref = reference::build();
    EXPECT_EQ(ref.listed, kRingPointCount);
    EXPECT_EQ(std::memcmp(file_->data() + kStartOffset, ref.ringStart.data(), kRingStartBytes), 0);
    EXPECT_EQ(std::memcmp(file_->data() + kPointsOffset, ref.points.data(), kRingPointsBytes), 0);
    EXPECT_EQ(std::memcmp(file_->data() + kCodesOffset, ref.codes.data(), kDirectionCodesBytes), 0);
}

TEST_F(GeneratedRings, LoadedTablesHaveTheShapeTheSpritesRelyOn) {
    ASSERT_TRUE(loadRingTablesFrom(folder_->file(kRingFileName)));
    const RingTables& t = ringTables;
    EXPECT_EQ(t.ringCentreX, 800);
    EXPECT_EQ(t.ringCentreY, 800);
    EXPECT_EQ(t.ringStart[0], 0);
    EXPECT_EQ(t.ringStart[1], 0);
    for (int r = 1; r < kRingCount; ++r) ASSERT_LE(t.ringStart[r - 1], t.ringStart[r]) << r;
    // Every point of the square is listed once; ring 1132 already adds none.
    EXPECT_EQ(t.ringStart[1599], kRingPointCount);
    EXPECT_EQ(t.ringStart[1132], kRingPointCount);
    EXPECT_LT(t.ringStart[1131], kRingPointCount);
    std::vector<uint8_t> seen(kRingPointCount, 0);
    for (int i = 0; i < kRingPointCount; ++i) {
        const RingPoint p = t.ringPoints[i];
        ASSERT_TRUE(p.x >= 0 && p.x < 1600 && p.y >= 0 && p.y < 1600) << i;
        ASSERT_EQ(seen[p.y * 1600 + p.x]++, 0) << i;
    }
    // The rules reach the centre in ring 1, and its step is (0, +1).
    EXPECT_EQ(t.ringPoints[3].x, 800);
    EXPECT_EQ(t.ringPoints[3].y, 800);
    EXPECT_EQ(t.directionCodes[800 * 1600 + 800], 2);
    for (int i = 0; i < kRingPointCount; ++i) ASSERT_NE(t.directionCodes[i], 1) << i;
    // Points inside radius R come first: ring r's points lie within about r of the centre.
    for (int r : {2, 10, 100, 700}) {
        for (int i = t.ringStart[r]; i < t.ringStart[r + 1]; ++i) {
            const double d = std::hypot(t.ringPoints[i].x - 800.0, t.ringPoints[i].y - 800.0);
            ASSERT_LE(d, r + 1.5) << r;
            ASSERT_GE(d, r - 1.5) << r;
        }
    }
}

TEST_F(GeneratedRings, LoaderAcceptsOnlyWholeUnspoiledFiles) {
    ASSERT_TRUE(generated_);
    EXPECT_TRUE(loadsBytes(*file_));
    std::string longer = *file_;
    longer.push_back(0);
    EXPECT_TRUE(loadsBytes(longer));

    std::string shortBy1(file_->begin(), file_->end() - 1);
    EXPECT_FALSE(loadsBytes(shortBy1));
    EXPECT_FALSE(loadsBytes({}));
    EXPECT_FALSE(loadRingTablesFrom(folder_->file("missing.dat")));

    EXPECT_FALSE(loadsWithChange(4, 1201));                           // second stamp
    EXPECT_FALSE(loadsWithChange(0, 1599));                           // first stamp
    EXPECT_FALSE(loadsWithChange(8, 801));                            // centre
    EXPECT_FALSE(loadsWithChange(kStartOffset + 4 * 500, 9));         // ring starts go back
    EXPECT_FALSE(loadsWithChange(kStartOffset + 4 * 1599, 2560001));  // past the points
    EXPECT_FALSE(loadsWithChange(kStartOffset, -1));
    EXPECT_FALSE(loadsWithChange(kPointsOffset + 8 * 1000, 1600));       // x outside
    EXPECT_FALSE(loadsWithChange(kPointsOffset + 8 * 2559999 + 4, -1));  // y outside
    for (char code : {char(1), char(10), char(255)}) {
        std::string bytes = *file_;
        bytes[kCodesOffset + 123456] = code;
        EXPECT_FALSE(loadsBytes(bytes)) << int(code);
    }
    // Two points of a ring swapped keep every rule, but the file no longer holds the
    // tables every machine makes (as a file of an earlier version may not): made again.
    std::string swapped = *file_;
    std::swap_ranges(swapped.begin() + long(kPointsOffset + 8 * 1000),
                     swapped.begin() + long(kPointsOffset + 8 * 1001),
                     swapped.begin() + long(kPointsOffset + 8 * 1001));
    EXPECT_FALSE(loadsBytes(swapped));
}

// The tables are the same on every machine and C library (our own angle functions):
// this is their hash, pinned.
TEST_F(GeneratedRings, TablesAreTheSameOnEveryMachine) {
    ASSERT_TRUE(loadRingTablesFrom(folder_->file(kRingFileName)));
    EXPECT_EQ(ringTablesHash(ringTables), 0xE24C3B9F3886922Bull);
    EXPECT_EQ(ringTablesHash(ringTables), kRingTablesHash);
}

TEST_F(GeneratedRings, RejectedFileIsRegeneratedWithRisingProgress) {
    ASSERT_TRUE(generated_);
    gxtest::TempFolder dir;
    const std::string path = dir.file(kRingFileName);
    std::string corrupt = *file_;
    corrupt[kCodesOffset + 77] = 1;
    gxtest::writeFile(path, corrupt);
    ASSERT_FALSE(loadRingTablesFrom(path));

    // Progress is shown as text here: no display in the test run.
    setProgressDisplay(ProgressDisplay::Text);
    std::vector<int> shown;
    RingGeneratorHooks hooks;
    hooks.afterStep = [](int stage, int step, DataGenWindow& w) {
        if (stage == 1 && step == 1) gxtest::waitUntil([&] { return w.windowShown(); });
    };
    hooks.beforeClose = [&](DataGenWindow& w) { shown = w.shownPercentages(); };
    setRingGeneratorHooks(hooks);
    ASSERT_TRUE(generateRingTablesTo(path));

    ASSERT_FALSE(shown.empty());
    // The text bar drew the end before it went.
    EXPECT_EQ(lastPercentDisplayed(), 100);
    EXPECT_LE(shown.size(), size_t(101));
    for (size_t i = 1; i < shown.size(); ++i) EXPECT_LT(shown[i - 1], shown[i]);
    EXPECT_GE(shown.front(), 0);
    EXPECT_EQ(shown.back(), 100);

    // Same tables as before (the shades are drawn afresh), and loadable.
    const std::string again = gxtest::readFile(path);
    ASSERT_EQ(again.size(), file_->size());
    EXPECT_EQ(std::memcmp(again.data(), file_->data(), kShadesOffset), 0);
    EXPECT_EQ(std::memcmp(again.data() + kPointsOffset, file_->data() + kPointsOffset,
                          file_->size() - kPointsOffset),
              0);
    freeRingTables();
    EXPECT_TRUE(loadRingTablesFrom(path));
}

TEST_F(GeneratedRings, OutOfMemoryWhileLoadingReportsAndLeavesNoTables) {
    ASSERT_TRUE(generated_);
    std::vector<std::string> boxes;
    setMessageBoxSink([&](const std::string& text, const std::string&) { boxes.push_back(text); });
    setRingTablesAllocationFailsForTesting(true);
    const bool loaded = loadRingTablesFrom(folder_->file(kRingFileName));
    setRingTablesAllocationFailsForTesting(false);
    setMessageBoxSink({});
    EXPECT_FALSE(loaded);
    EXPECT_EQ(boxes, std::vector<std::string>{"ERROR: Out of memory."});
    EXPECT_EQ(ringTables.ringPoints, nullptr);
    // The run is asked to stop: start-up goes to its release steps (tests/app).
    EXPECT_TRUE(RenderSuppressed);
    frameworkResetForTests();
}

// A process id that no longer runs: a child that has ended and been waited for.
pid_t deadProcessId() {
    const pid_t child = fork();
    if (child == 0) _exit(0);
    waitpid(child, nullptr, 0);
    return child;
}

TEST(StaleDataFileParts, OnlyThoseOfEndedProcessesAreRemoved) {
    gxtest::TempFolder dir;
    const std::string data = dir.file(kRingFileName);
    const std::string dead = std::to_string(deadProcessId());
    const std::vector<std::string> kept = {
        std::string(kRingFileName) + ".part." + std::to_string(getpid()),  // ours, being written
        std::string(kRingFileName) + ".part.1",                            // a running process
        std::string(kRingFileName) + ".part." + dead + "x",                // not our pattern
        std::string(kRingFileName) + ".part.",
        "Other.dat.part." + dead,
        std::string(kRingFileName),
    };
    for (const std::string& name : kept) gxtest::writeFile(dir.file(name), "k");
    gxtest::writeFile(dir.file(std::string(kRingFileName) + ".part." + dead),
                      std::string(1 << 20, 'x'));
    // A folder of that name is not a file of ours.
    const std::string dead2 = std::to_string(deadProcessId());
    fs::create_directory(dir.file(std::string(kRingFileName) + ".part." + dead2));

    EXPECT_EQ(removeStaleDataFileParts(data), 1);
    EXPECT_FALSE(fs::exists(dir.file(std::string(kRingFileName) + ".part." + dead)));
    for (const std::string& name : kept) EXPECT_TRUE(fs::exists(dir.file(name))) << name;
    EXPECT_TRUE(fs::is_directory(dir.file(std::string(kRingFileName) + ".part." + dead2)));
}

TEST(StaleDataFileParts, LoadingAtStartRemovesThem) {
    gxtest::TempFolder dir;
    setenv("GLIMMERAX_HOME", dir.path().c_str(), 1);
    const std::string part =
        dir.file(std::string(kRingFileName) + ".part." + std::to_string(deadProcessId()));
    gxtest::writeFile(part, std::string(14 << 20, 'x'));  // what a killed run leaves
    EXPECT_FALSE(loadRingTables());                       // no data file: the generator's turn
    unsetenv("GLIMMERAX_HOME");
    EXPECT_FALSE(fs::exists(part));
}

}  // namespace
