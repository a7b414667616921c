// Start-up's own decisions, in process: what it does when loading the ring tables runs
// out of memory.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/startup.h"
#include "bodies/ring_tables.h"
#include "framework/framework.h"
#include "platform/os/message_box.h"
#include "support/temp_folder.h"
#include "ui/progress_window.h"
#include "ui/ring_generator.h"

namespace gx {
namespace {

TEST(StartUp, OutOfMemoryWhileLoadingTheTablesGoesStraightToTheRelease) {
    const gxtest::TempFolder folder("gx_startup");
    ASSERT_FALSE(folder.path().empty());
    const std::string home = folder.path();
    // A data file that passes every test before the tables are allocated.
    {
        std::ofstream out(home + "/" + kRingFileName, std::ios::binary);
        const int32_t header[4] = {1600, 1200, 800, 800};
        out.write(reinterpret_cast<const char*>(header), sizeof header);
        std::vector<char> rest(kRingFileSize - sizeof header, 0);
        out.write(rest.data(), std::streamsize(rest.size()));
    }
    setenv("GLIMMERAX_HOME", home.c_str(), 1);
    resetAllModulesForTests();
    setProgressDisplay(ProgressDisplay::None);
    std::vector<std::string> boxes;
    setMessageBoxSink([&](const std::string& text, const std::string&) { boxes.push_back(text); });
    int generatorSteps = 0;
    RingGeneratorHooks hooks;
    hooks.afterStep = [&](int, int, DataGenWindow&) { ++generatorSteps; };
    setRingGeneratorHooks(hooks);
    setRingTablesAllocationFailsForTesting(true);

    EXPECT_FALSE(startRun());
    releaseRun();

    setRingTablesAllocationFailsForTesting(false);
    setRingGeneratorHooks({});
    setMessageBoxSink({});
    EXPECT_EQ(boxes, std::vector<std::string>{"ERROR: Out of memory."});
    EXPECT_EQ(generatorSteps, 0) << "the generator ran after the out-of-memory box";
    EXPECT_EQ(getExitCode(), 1);
    EXPECT_EQ(ringTables.ringPoints, nullptr);
    resetAllModulesForTests();
    unsetenv("GLIMMERAX_HOME");
}

}  // namespace
}  // namespace gx
