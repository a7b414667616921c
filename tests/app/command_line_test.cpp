#include <gtest/gtest.h>

#include <cstdlib>

#include "app/startup.h"
#include "framework/run_options.h"

namespace gx {
namespace {

class CommandLine : public ::testing::Test {
protected:
    void SetUp() override {
        runOptions() = RunOptions{};
        unsetenv("XSCREENSAVER_WINDOW");
    }
};

TEST_F(CommandLine, SwitchTable) {
    struct Case {
        std::vector<std::string> args;
        int32_t mode;
    } cases[] = {
        {{"/s"}, 2},      {{"-S"}, 2},        {{"/x"}, 2},       {{"/"}, 2},
        {{"/t"}, 3},      {{"/a"}, 4},        {{"/p"}, 1},       {{"/P:1234"}, 1},
        {{"-p:123"}, 1},  {{"/c"}, 0},        {{"-C:5"}, 0},     {{}, 0},
        {{"/config"}, 2}, {{"foo", "/p"}, 1}, {{"/p", "/c"}, 1}, {{"foo", "bar"}, 0},
        {{"/c:1234"}, 0}, {{"/T"}, 3},        {{"-a"}, 4},
    };
    for (const Case& c : cases) {
        std::string joined;
        for (const auto& a : c.args) joined += a + " ";
        EXPECT_EQ(parseCommandLine(c.args), c.mode) << joined;
    }
}

TEST_F(CommandLine, RunOptionsMeanRunUnlessASwitchDecides) {
    EXPECT_EQ(parseArguments({"--headless"}).mode, 2);
    EXPECT_TRUE(runOptions().headless);
    SetUp();
    EXPECT_EQ(parseArguments({"-root"}).mode, 2);
    EXPECT_TRUE(runOptions().root);
    SetUp();
    EXPECT_EQ(parseArguments({"--windowed", "/c"}).mode, 0);
    SetUp();
    EXPECT_EQ(parseArguments({"--headless", "/p"}).mode, 1);
    SetUp();
    // Options with values are taken out before the switch is looked for.
    EXPECT_EQ(parseArguments({"--size", "640x480", "--seconds", "3", "/p"}).mode, 1);
    EXPECT_EQ(runOptions().headlessWidth, 640u);
    EXPECT_EQ(runOptions().headlessHeight, 480u);
    EXPECT_DOUBLE_EQ(runOptions().seconds, 3.0);
    SetUp();
    // The preview runs headless; its path is the option's value, also an empty one
    // (the defaults) or one that looks like a switch.
    EXPECT_EQ(parseArguments({"--preview", "", "--size", "320x240"}).mode, 2);
    EXPECT_TRUE(runOptions().preview);
    EXPECT_TRUE(runOptions().headless);
    EXPECT_EQ(runOptions().previewPath, "");
    SetUp();
    EXPECT_EQ(parseArguments({"--preview", "/c"}).mode, 2);
    EXPECT_EQ(runOptions().previewPath, "/c");
}

TEST_F(CommandLine, HostWindowForms) {
    EXPECT_EQ(parseArguments({"-window-id", "0x2a"}).mode, 2);
    EXPECT_EQ(runOptions().hostWindow, 42ul);
    SetUp();
    parseArguments({"--window-id", "42", "--root"});
    EXPECT_EQ(runOptions().hostWindow, 42ul);
    EXPECT_FALSE(runOptions().root) << "the window id wins over -root";
    SetUp();
    setenv("XSCREENSAVER_WINDOW", "0x100", 1);
    EXPECT_EQ(parseArguments({}).mode, 2);
    EXPECT_EQ(runOptions().hostWindow, 0x100ul);
    unsetenv("XSCREENSAVER_WINDOW");
    SetUp();
    EXPECT_EQ(parseArguments({"-window-id", "zz"}).exitCode, 2);
}

TEST_F(CommandLine, BadOptionsAreUsageErrors) {
    for (auto args : std::vector<std::vector<std::string>>{{"--bogus"},
                                                           {"--size", "0x0"},
                                                           {"--size"},
                                                           {"--seconds", "-1"},
                                                           {"--every", "0"},
                                                           {"--dump-state", "x", "f"},
                                                           {"--script", "1:jump"},
                                                           {"--preview"}}) {
        SetUp();
        ParsedArgs p = parseArguments(args);
        EXPECT_TRUE(p.exitNow) << args[0];
        EXPECT_EQ(p.exitCode, 2) << args[0];
        EXPECT_NE(p.message.find("Usage:"), std::string::npos);
    }
    ParsedArgs help = parseArguments({"--help"});
    EXPECT_TRUE(help.exitNow);
    EXPECT_EQ(help.exitCode, 0);
    // Every option is listed.
    for (const char* opt :
         {"--windowed", "--headless", "--size", "--seconds", "--frames-out", "--every", "--script",
          "--trace", "--dump-state", "-window-id", "-root", "--version"})
        EXPECT_NE(help.message.find(opt), std::string::npos) << opt;
}

}  // namespace
}  // namespace gx
