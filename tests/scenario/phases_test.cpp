#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "pictures/picture_list.h"
#include "pictures/picture_loading.h"
#include "render/resources.h"
#include "support/whole_run.h"
#include "universe/world.h"

namespace gx {
namespace {

using gxtest::Saver;
using gxtest::SaverOptions;

SaverOptions small(int duration = 130) {
    SaverOptions o;
    o.width = 320;
    o.height = 240;
    o.duration = duration;
    return o;
}

float phaseElapsed(const State* phase) {
    if (phase == &windUpState) return windUpState.elapsed;
    if (phase == &windDownState) return windDownState.elapsed;
    return simulationState.elapsed;
}

float windUpAlphaAt(float t) {
    windUpState.elapsed = t;
    windUpState.update(0.001f);
    void* data = nullptr;
    EXPECT_EQ(screenQuad.vertexBuffer->lock(0, 168, &data, 0), gfx::kOk);
    uint32_t colour = static_cast<ScreenVertex*>(data)[0].colour;
    screenQuad.vertexBuffer->unlock();
    return float(colour >> 24);
}

TEST(Phases, WholeCycleComesBackToTheNextPicture) {
    Saver s(small(2));
    ASSERT_TRUE(s.started) << s.boxes;
    std::string first = currentPicture()->path;
    EXPECT_EQ(currentState, &windUpState);
    ASSERT_TRUE(s.runUntil(&simulationState));
    EXPECT_NEAR(windUpState.elapsed, 6.5f, 0.05f);
    EXPECT_EQ(MinimumFrameTime, 1.0 / 15.0);
    EXPECT_GT(sim.particleCount, 0u);
    ASSERT_TRUE(s.runUntil(&windDownState));
    EXPECT_EQ(MinimumFrameTime, 1.0 / 30.0);
    ASSERT_TRUE(s.runUntil(&windUpState));
    EXPECT_NE(currentPicture()->path, first);
    // Every body was dissolved and the wind-down took a little over 8 s.
    EXPECT_GT(windDownState.elapsed, 8.0f);
    EXPECT_LT(windDownState.elapsed, 8.1f);
    EXPECT_EQ(getCallbackFrameRender() != nullptr, true);
}

// Headless there is no desktop snapshot to stand in: when the next picture has gone,
// the one before shows again as a fresh load shows it, centred at its own size, not
// stretched over the screen the wind-down left in the quad.
TEST(Phases, APictureGoneLaterLeavesThePreviousOneCentredAtItsOwnSize) {
    const std::string dir = gxtest::makeTempDir("gxgone");
    const std::string first = gxtest::writeTestPicture(dir, "a.bmp", 120, 60, 1);
    const std::string second = gxtest::writeTestPicture(dir, "b.bmp", 80, 40, 2);
    SaverOptions o = small(2);
    o.imagePath = dir;
    {
        Saver s(o);
        ASSERT_TRUE(s.started) << s.boxes;
        EXPECT_EQ(windUpState.StartX1, 100.0f);  // (320 - 120) / 2
        EXPECT_EQ(windUpState.StartY1, 90.0f);   // (240 - 60) / 2
        ASSERT_TRUE(s.runUntil(&windDownState));
        std::remove(first.c_str());
        std::remove(second.c_str());
        ASSERT_TRUE(s.runUntil(&windUpState));
        EXPECT_EQ(pictureCount(), 0u);
        EXPECT_EQ(loadedPictureWidth(), 120u);
        EXPECT_EQ(windUpState.StartX1, 100.0f);
        EXPECT_EQ(windUpState.StartY1, 90.0f);
        EXPECT_EQ(windUpState.EndX1, 220.0f);
        EXPECT_EQ(windUpState.EndY1, 150.0f);
        EXPECT_TRUE(s.boxes.empty()) << s.boxes;
    }
    gxtest::removeTree(dir);
}

TEST(Phases, SimulationLastsDurationOfGameTime) {
    for (int speed : {5, 10}) {
        SaverOptions o;
        o.width = 160;
        o.height = 120;
        o.duration = 130;
        o.gameSpeed = speed;
        Saver s(o);
        ASSERT_TRUE(s.started) << s.boxes;
        ASSERT_TRUE(s.runUntil(&simulationState));
        double start = getGlobalTimer()->absoluteTime();
        ASSERT_TRUE(s.runUntil(&windDownState, 10000));
        double lasted = getGlobalTimer()->absoluteTime() - start;
        EXPECT_NEAR(lasted, 130.0 * 10 / speed, 0.2) << "GameSpeed " << speed;
    }
}

TEST(Phases, TargetRectanglesForLandscapeAndPortrait) {
    struct Case {
        uint32_t w, h;
        float x1, y1, x2, y2;
    } cases[] = {{400, 300, 640, 480, 960, 720}, {300, 400, 710, 480, 890, 720}};
    for (const Case& c : cases) {
        std::string dir = gxtest::makeTempDir("gxpic");
        SaverOptions o;
        o.width = 1600;
        o.height = 1200;
        o.imagePath = gxtest::writeTestPicture(dir, "p.bmp", c.w, c.h);
        Saver s(o);
        ASSERT_TRUE(s.started) << s.boxes;
        s.frame();
        EXPECT_FLOAT_EQ(windUpState.StartX2, c.x1);
        EXPECT_FLOAT_EQ(windUpState.StartY2, c.y1);
        EXPECT_FLOAT_EQ(windUpState.EndX2, c.x2);
        EXPECT_FLOAT_EQ(windUpState.EndY2, c.y2);
        // The start rectangle is the picture at its own size, centred.
        EXPECT_FLOAT_EQ(windUpState.StartX1, 800.0f - c.w / 2.0f);
        EXPECT_FLOAT_EQ(windUpState.EndY1, 600.0f + c.h / 2.0f);
        gxtest::removeTree(dir);
    }
}

TEST(Phases, WindUpFadesInOverThreeQuartersOfASecond) {
    Saver s(small());
    ASSERT_TRUE(s.started) << s.boxes;
    EXPECT_EQ(windUpAlphaAt(0.0f), 0.0f);
    EXPECT_EQ(windUpAlphaAt(0.375f), 127.0f);
    EXPECT_EQ(windUpAlphaAt(0.75f), 255.0f);
    EXPECT_EQ(windUpAlphaAt(2.0f), 255.0f);
}

TEST(Phases, KeysAndClicksSkipToTheNextPicture) {
    Saver s(small());
    ASSERT_TRUE(s.started) << s.boxes;
    for (int i = 0; i < 40; ++i) s.frame();
    std::string first = currentPicture()->path;
    s.press(VK_SPACE);
    EXPECT_EQ(currentState, &windUpState);
    EXPECT_EQ(windUpState.elapsed, 0.0f);
    std::string second = currentPicture()->path;
    EXPECT_NE(second, first);
    // The new picture's quad replaced the old one before the start rectangle was read.
    EXPECT_FLOAT_EQ(windUpState.StartX1, 160.0f - loadedPictureWidth() / 2.0f);
    // A click with every button and Ctrl held carries 27, and still only skips.
    s.click(1, 0x1 | 0x2 | 0x10 | 0x8 | 0x4);
    EXPECT_FALSE(RenderSuppressed);
    EXPECT_NE(currentPicture()->path, second);
    // System-key releases (Alt, F10) do not skip.
    std::string now = currentPicture()->path;
    InputEvent alt;
    alt.kind = InputEvent::Key;
    alt.vk = VK_MENU;
    alt.system = true;
    alt.alt = true;
    alt.down = false;
    dispatchForTests(alt);
    EXPECT_EQ(currentPicture()->path, now);
    // Escape ends the saver with 0.
    s.press(VK_ESCAPE);
    EXPECT_TRUE(RenderSuppressed);
    EXPECT_EQ(getExitCode(), 0);
}

TEST(Phases, PauseHoldsEachPhaseWithoutSkipping) {
    Saver s(small(2));
    ASSERT_TRUE(s.started) << s.boxes;
    const State* phases[] = {&windUpState, &simulationState, &windDownState};
    for (const State* phase : phases) {
        ASSERT_TRUE(s.runUntil(phase));
        for (int i = 0; i < 5; ++i) s.frame();
        std::string picture = currentPicture()->path;
        // The release alone toggles the phases' pause.
        s.key(VK_PAUSE, false);
        EXPECT_TRUE(PauseFlag);
        float before = phaseElapsed(phase);
        for (int i = 0; i < 20; ++i) s.frame();
        float after = phaseElapsed(phase);
        EXPECT_EQ(before, after) << phase->name();
        EXPECT_EQ(currentState, phase);
        EXPECT_EQ(currentPicture()->path, picture) << "Pause skipped the picture";
        s.key(VK_PAUSE, false);
        EXPECT_FALSE(PauseFlag);
        s.frame();
        float resumed = phaseElapsed(phase);
        EXPECT_GT(resumed, after) << phase->name();
    }
}

TEST(Phases, SpeedKeysAtTheLimitsStillSave) {
    SaverOptions o;
    o.width = 320;
    o.height = 240;
    o.gameSpeed = 10;
    Saver s(o);
    ASSERT_TRUE(s.started) << s.boxes;
    std::string ini = s.home + "/Glimmerax.ini";
    struct stat before {
    }, after{};
    ASSERT_EQ(stat(ini.c_str(), &before), 0);
    s.press(VK_ADD);
    EXPECT_EQ(settings.GameSpeed, 10);
    ASSERT_EQ(stat(ini.c_str(), &after), 0);
    EXPECT_NE(before.st_ino, after.st_ino) << "the file was not written again";
    for (int i = 0; i < 12; ++i) s.press(VK_OEM_MINUS);
    EXPECT_EQ(settings.GameSpeed, 1);
    EXPECT_FLOAT_EQ(sim.speedFactor, 0.1f);
    EXPECT_NE(gxtest::readFile(ini).find("GameSpeed = 1\r\n"), std::string::npos);
}

TEST(Phases, ResizeDuringTheSimulationRecentresEverything) {
    SaverOptions o;
    o.width = 640;
    o.height = 480;
    o.script = "8:resize:800x600";
    Saver s(o);
    ASSERT_TRUE(s.started) << s.boxes;
    ASSERT_TRUE(s.runUntil(&simulationState));
    while (getGlobalTimer()->absoluteTime() < 8.0 - 1.0 / 15.0 - 1e-6) s.frame();
    ASSERT_GT(sim.particleCount, 0u);
    std::vector<float> xs, ys;
    for (uint32_t i = 0; i < sim.particleCount; ++i) {
        xs.push_back(sim.particles[i].x);
        ys.push_back(sim.particles[i].y);
    }
    float left = windUpState.StartX2, top = windUpState.StartY2;
    // The display grows at 8 s (the script), during the simulation.
    while (getD3D9BackBufferSurfaceDesc()->width == 640u && currentState == &simulationState)
        s.frame();
    EXPECT_EQ(getD3D9BackBufferSurfaceDesc()->width, 800u);
    EXPECT_EQ(sim.worldWidth, 800);
    EXPECT_FLOAT_EQ(windUpState.StartX2, left + 80.0f);
    EXPECT_FLOAT_EQ(windUpState.StartY2, top + 60.0f);
    // Particles keep moving in the same frame, so the typical shift is what counts.
    std::vector<float> dx, dy;
    for (uint32_t i = 0; i < sim.particleCount; ++i) {
        dx.push_back(sim.particles[i].x - xs[i]);
        dy.push_back(sim.particles[i].y - ys[i]);
    }
    std::nth_element(dx.begin(), dx.begin() + dx.size() / 2, dx.end());
    std::nth_element(dy.begin(), dy.begin() + dy.size() / 2, dy.end());
    EXPECT_NEAR(dx[dx.size() / 2], 80.0f, 3.0f);
    EXPECT_NEAR(dy[dy.size() / 2], 60.0f, 3.0f);
    for (int i = 0; i < 30; ++i) s.frame();
    EXPECT_FALSE(RenderSuppressed) << s.boxes;
    EXPECT_EQ(currentState, &simulationState);
    // The settings remember the new full-screen size.
    EXPECT_EQ(settings.ScreenWidth, 802);
}

TEST(Phases, PictureFormsAgainPixelForPixel) {
    Saver s(small(3));
    ASSERT_TRUE(s.started) << s.boxes;
    ASSERT_TRUE(s.runUntil(&simulationState));
    // The captured screen, as the particles were made from it.
    gfx::SurfaceDesc d;
    ScreenCaptureSurface->getDesc(&d);
    gfx::LockedRect lr;
    ASSERT_EQ(ScreenCaptureSurface->lockRect(&lr, nullptr, gfx::kLockReadOnly), gfx::kOk);
    std::vector<uint32_t> capture(size_t(d.width) * d.height);
    for (uint32_t y = 0; y < d.height; ++y)
        std::memcpy(&capture[size_t(y) * d.width],
                    static_cast<uint8_t*>(lr.bits) + size_t(y) * lr.pitch, d.width * 4);
    ScreenCaptureSurface->unlockRect();
    ASSERT_TRUE(s.runUntil(&windDownState));
    while (windDownState.elapsed < 6.0f) s.frame();
    const std::vector<uint32_t>& shown = getD3D9Device()->frontBuffer();
    ASSERT_EQ(shown.size(), capture.size());
    std::vector<uint8_t> home(capture.size(), 0);
    for (uint32_t i = 0; i < sim.particleCount; ++i)
        home[size_t(sim.particles[i].links().originY) * d.width +
             size_t(sim.particles[i].links().originX)] = 1;
    size_t wrong = 0;
    for (size_t i = 0; i < capture.size(); ++i) {
        uint32_t expected = home[i] ? capture[i] & 0xFFFFFF : 0;
        if ((shown[i] & 0xFFFFFF) != expected) ++wrong;
    }
    EXPECT_EQ(wrong, 0u) << "of " << capture.size() << " pixels, " << sim.particleCount
                         << " particles";
}

}  // namespace
}  // namespace gx
