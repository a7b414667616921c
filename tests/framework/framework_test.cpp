#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

#include "framework/backend.h"
#include "framework/failures.h"
#include "framework/framework.h"
#include "framework/headless_script.h"
#include "framework/run_options.h"
#include "platform/os/message_box.h"

namespace gx {
namespace {

// A display that shows nothing, keeps real time unless asked otherwise, and counts.
struct Counters {
    int presents = 0;
    std::vector<float> elapsed;
    int renders = 0;
    int lost = 0, reset = 0, created = 0, destroyed = 0;
    std::vector<uint32_t> resetWidths;
};
Counters counters;

class TestBackend : public Backend {
public:
    explicit TestBackend(bool virtualClock) : virtual_(virtualClock) {}
    bool createWindow(const std::string&) override { return true; }
    gfx::DisplayMode desktopMode() override {
        return {desktopW, desktopH, 60, gfx::Format::X8R8G8B8};
    }
    std::vector<DisplaySize> displayModes() override { return modes; }
    bool configure(uint32_t, uint32_t, bool) override { return true; }
    void pollEvents(std::vector<InputEvent>&) override {}
    gfx::Result present(gfx::Device& d) override {
        counters.presents++;
        return d.present();
    }
    bool virtualClock() const override { return virtual_; }
    void cursorPos(int* x, int* y) override { *x = *y = 0; }
    void* nativeWindow() override { return nullptr; }
    DisplaySize windowSize() override { return {320, 240}; }
    uint32_t desktopW = 800, desktopH = 600;
    std::vector<DisplaySize> modes{{640, 480}, {800, 600}};
    bool virtual_;
};

class Framework : public ::testing::Test {
protected:
    void SetUp() override {
        frameworkResetForTests();
        runOptions() = RunOptions{};
        counters = Counters{};
        setMessageBoxSink([](const std::string&, const std::string&) {});
    }
    void TearDown() override {
        frameworkResetForTests();
        setMessageBoxSink(nullptr);
    }
    TestBackend* start(bool virtualClock, uint32_t w = 800, uint32_t h = 600) {
        auto b = std::make_unique<TestBackend>(virtualClock);
        TestBackend* raw = b.get();
        setBackendForTests(std::move(b));
        init(false, false, nullptr, false);
        createWindow("Glimmerax");
        setCallbackDeviceCreated([](gfx::Device*, const gfx::SurfaceDesc&, void*) {
            counters.created++;
            return gfx::kOk;
        });
        setCallbackDeviceReset([](gfx::Device*, const gfx::SurfaceDesc& bb, void*) {
            counters.reset++;
            counters.resetWidths.push_back(bb.width);
            return gfx::kOk;
        });
        setCallbackDeviceLost([](void*) { counters.lost++; });
        setCallbackDeviceDestroyed([](void*) { counters.destroyed++; });
        setCallbackFrameMove([](double, float e, void*) { counters.elapsed.push_back(e); });
        setCallbackFrameRender([](gfx::Device*, double, float, void*) { counters.renders++; });
        DeviceSettings ds;
        ds.pp.backBufferWidth = w;
        ds.pp.backBufferHeight = h;
        EXPECT_EQ(createDeviceFromSettings(ds, false, true), gfx::kOk);
        return raw;
    }
};

TEST_F(Framework, ShortFramesArePacedLongFramesKeepTheirLength) {
    start(false);
    MinimumFrameTime = 0.05;
    getGlobalTimer()->elapsedTime();
    runFrameStepForTests();
    runFrameStepForTests();
    ASSERT_EQ(counters.elapsed.size(), 2u);
    EXPECT_GE(counters.elapsed[1], 0.05f);
    EXPECT_LT(counters.elapsed[1], 0.5f);
    // A frame whose work takes longer than the minimum passes its real length.
    setCallbackFrameMove([](double, float e, void*) {
        counters.elapsed.push_back(e);
        if (counters.elapsed.size() == 3)
            std::this_thread::sleep_for(std::chrono::milliseconds(150));
    });
    runFrameStepForTests();
    runFrameStepForTests();
    ASSERT_EQ(counters.elapsed.size(), 4u);
    EXPECT_GE(counters.elapsed[3], 0.14f);
}

TEST_F(Framework, VirtualClockAdvancesByExactlyTheMinimumFrame) {
    start(true);
    MinimumFrameTime = 1.0 / 15.0;
    for (int i = 0; i < 30; ++i) runFrameStepForTests();
    for (float e : counters.elapsed) EXPECT_EQ(e, float(1.0 / 15.0));
    EXPECT_NEAR(getGlobalTimer()->absoluteTime(), 2.0, 1e-6);
}

TEST_F(Framework, NothingRenderedOrPresentedAfterShutdown) {
    start(true);
    runFrameStepForTests();
    EXPECT_EQ(counters.renders, 1);
    EXPECT_EQ(counters.presents, 1);
    setCallbackFrameMove([](double, float, void*) { shutdown(0); });
    runFrameStepForTests();
    runFrameStepForTests();
    EXPECT_EQ(counters.renders, 1);
    EXPECT_EQ(counters.presents, 1);
    EXPECT_TRUE(RenderSuppressed);
    EXPECT_EQ(getExitCode(), 0);
    // The device survives the request until the loop lets go of it.
    EXPECT_NE(getD3D9Device(), nullptr);
    frameworkCleanup();
    EXPECT_EQ(counters.destroyed, 1);
    EXPECT_EQ(getD3D9Device(), nullptr);
}

TEST_F(Framework, FirstFailureDecidesTheExitCode) {
    start(true);
    shutdown(1);
    shutdown(0);
    EXPECT_EQ(getExitCode(), 1);
    EXPECT_EQ(exitCodeForResult(kErrResettingDevice), 7);
    EXPECT_EQ(exitCodeForResult(kErrDeviceRemoved), 11);
    EXPECT_EQ(exitCodeForResult(gfx::kFail), 1);
}

// Below the user interface a failure reaches whatever reporter start-up connected; with
// none the run still ends, with the message in a box.
TEST_F(Framework, InternalErrorsReachTheReporterOrEndTheRunAlone) {
    static std::vector<std::string> reported;
    reported.clear();
    std::vector<std::string> shown;
    setMessageBoxSink(
        [&shown](const std::string& text, const std::string&) { shown.push_back(text); });
    setInternalErrorReporter([](const char* message) {
        reported.push_back(message);
        return gfx::kOk;
    });
    EXPECT_EQ(internalError("Internal error - Failed to render1."), gfx::kOk);
    EXPECT_EQ(reported, std::vector<std::string>{"Internal error - Failed to render1."});
    EXPECT_TRUE(shown.empty());
    EXPECT_FALSE(RenderSuppressed);

    setInternalErrorReporter(nullptr);
    internalError("Internal error - Failed to render2.");
    EXPECT_EQ(shown, std::vector<std::string>{"Internal error - Failed to render2."});
    EXPECT_TRUE(RenderSuppressed);
    EXPECT_EQ(getExitCode(), 1);
    EXPECT_EQ(reported.size(), 1u);
}

TEST_F(Framework, LostDeviceIsResetOnlyWhenAllowed) {
    start(true);
    EXPECT_EQ(counters.created, 1);
    EXPECT_EQ(counters.reset, 1);
    getD3D9Device()->setLost(true);
    runFrameStepForTests();  // present reports the loss
    size_t moves = counters.elapsed.size();
    runFrameStepForTests();  // cooperative level still says lost: nothing runs
    EXPECT_EQ(counters.elapsed.size(), moves);
    EXPECT_EQ(counters.reset, 1);
    runFrameStepForTests();  // now it may be reset
    EXPECT_EQ(counters.lost, 1);
    EXPECT_EQ(counters.reset, 2);
    EXPECT_EQ(counters.elapsed.size(), moves + 1);
}

TEST_F(Framework, SizeCompletesToTheClosestModeAtLeastAsLarge) {
    start(true, 700, 500);
    EXPECT_EQ(getD3D9BackBufferSurfaceDesc()->width, 800u);
    EXPECT_EQ(getD3D9BackBufferSurfaceDesc()->height, 600u);
    frameworkResetForTests();
    counters = Counters{};
    start(true, 1000, 500);  // no mode that wide: the desktop
    EXPECT_EQ(getD3D9BackBufferSurfaceDesc()->width, 800u);
    frameworkResetForTests();
    counters = Counters{};
    start(true, 600, 400);
    EXPECT_EQ(getD3D9BackBufferSurfaceDesc()->width, 640u);
    EXPECT_EQ(getD3D9BackBufferSurfaceDesc()->height, 480u);
}

TEST_F(Framework, ResizeGoesThroughTheResetPath) {
    TestBackend* b = start(true);
    b->modes.push_back({1024, 768});
    InputEvent e;
    e.kind = InputEvent::Resize;
    e.width = 1024;
    e.height = 768;
    dispatchForTests(e);
    EXPECT_EQ(counters.lost, 1);
    ASSERT_EQ(counters.resetWidths.size(), 2u);
    EXPECT_EQ(counters.resetWidths[1], 1024u);
}

TEST(HeadlessScript, ParsesEveryActionAndRejectsNonsense) {
    std::vector<ScriptEvent> ev;
    std::string err;
    ASSERT_TRUE(parseScript("1:key:107,2:click:2,3:move:10:20,4:resize:640x480,5:alt-enter,6:close",
                            &ev, &err))
        << err;
    ASSERT_EQ(ev.size(), 8u);  // key and click are a press and a release each
    EXPECT_EQ(ev[0].event.vk, 107u);
    EXPECT_TRUE(ev[0].event.down);
    EXPECT_FALSE(ev[1].event.down);
    EXPECT_EQ(ev[2].event.button, 2);
    EXPECT_EQ(ev[4].event.x, 10);
    EXPECT_EQ(ev[5].event.width, 640u);
    EXPECT_EQ(ev[7].event.kind, InputEvent::Close);
    for (const char* bad : {"x:key:1", "1:key", "1:resize:0x0", "1:fly", "-1:click"}) {
        ev.clear();
        EXPECT_FALSE(parseScript(bad, &ev, &err)) << bad;
    }
}

}  // namespace
}  // namespace gx
