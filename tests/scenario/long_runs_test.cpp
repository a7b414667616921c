// The whole saver in this process for a long time, and with its numbers pushed to the
// edge: no hang, no index out of range (the sanitizer suite runs these too), no growth.
#include <gtest/gtest.h>

#include <malloc.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <limits>

#include "bodies/bodies.h"
#include "pictures/picture_list.h"
#include "pictures/picture_loading.h"
#include "support/whole_run.h"

#if defined(__SANITIZE_ADDRESS__)
// GCC 12 ships no allocator_interface.h; the function is there all the same.
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#endif

namespace gx {
namespace {

using gxtest::Saver;
using gxtest::SaverOptions;

size_t heapInUse() {
#if defined(__SANITIZE_ADDRESS__)
    return __sanitizer_get_current_allocated_bytes();
#else
    return mallinfo2().uordblks;
#endif
}

size_t residentBytes() {
    long pages = 0, resident = 0;
    if (FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
        std::fclose(f);
    }
    return size_t(resident) * size_t(sysconf(_SC_PAGESIZE));
}

TEST(LongRuns, ExtremeValuesMidSimulation) {
    SaverOptions o;
    o.width = 320;
    o.height = 240;
    Saver s(o);
    ASSERT_TRUE(s.started) << s.boxes;
    ASSERT_TRUE(s.runUntil(&simulationState));
    for (int i = 0; i < 20; ++i) s.frame();
    ASSERT_GT(sim.particleCount, 10u);
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    sim.particles[0].x = nan;
    sim.particles[1].y = inf;
    sim.particles[2].x = -inf;
    sim.particles[3].vx = 1e30f;
    sim.particles[4].vy = -1e30f;
    sim.particles[5].x = 1e30f;
    sim.particles[6].vx = nan;
    BodyNode* first = bodyList();
    ASSERT_NE(first, nullptr);
    if (first->next) first->next->body->centroid = first->body->centroid;  // two bodies on one spot
    sim.particles[7].x = first->body->centroid.x;  // a particle exactly on a centroid
    sim.particles[7].y = first->body->centroid.y;
    first->body->velocity = {inf, nan};
    first->body->spin = nan;
    for (int i = 0; i < 100; ++i) s.frame();
    EXPECT_FALSE(RenderSuppressed) << s.boxes;
    EXPECT_EQ(currentState, &simulationState);
    for (uint32_t i = 0; i < sim.particleCount; ++i) {
        const Particle& p = sim.particles[i];
        if (p.cell == -1) continue;
        ASSERT_GE(p.cell, 0) << i;
        ASSERT_LT(p.cell, sim.worldWidth * sim.wrapHeight + sim.worldWidth) << i;
    }
}

TEST(LongRuns, AFolderThatVanishesWhileRunning) {
    std::string dir = gxtest::makeTempDir("gxvanish");
    for (int i = 0; i < 3; ++i)
        gxtest::writeTestPicture(dir, "p" + std::to_string(i) + ".bmp", 60 + i * 20, 40, i);
    SaverOptions o;
    o.width = 320;
    o.height = 240;
    o.imagePath = dir;
    Saver s(o);
    ASSERT_TRUE(s.started) << s.boxes;
    ASSERT_TRUE(s.runUntil(&simulationState));
    gxtest::removeTree(dir);
    // Every skip now tries a picture that is gone.
    for (int k = 0; k < 6; ++k) {
        s.press(VK_SPACE);
        for (int i = 0; i < 30; ++i) s.frame();
    }
    EXPECT_FALSE(RenderSuppressed) << s.boxes;
    EXPECT_TRUE(s.boxes.empty()) << s.boxes;
    ASSERT_TRUE(s.runUntil(&simulationState));
    EXPECT_GT(sim.particleCount, 0u) << "the last picture stays on";
}

// Hundreds of cycles with every sample, resizes and keys: memory settles.
TEST(LongRuns, SoakOfManyCycles) {
    const int cycles = 100;
    const int measureAt = 10;
    SaverOptions o;
    o.width = 200;
    o.height = 150;
    o.duration = 1;
    // A resize and a skip now and then, both ways.
    std::string script;
    for (int t = 40; t < cycles * 16; t += 97) {
        script += std::to_string(t) + ":resize:" + (t % 2 ? "240x180" : "200x150") + ",";
        script += std::to_string(t + 31) + ":key:32,";
        script += std::to_string(t + 47) + ":key:107,";
    }
    o.script = script;
    Saver s(o);
    ASSERT_TRUE(s.started) << s.boxes;
    size_t atMeasure = 0, atEnd = 0, rssAtMeasure = 0;
    for (int c = 1; c <= cycles; ++c) {
        ASSERT_TRUE(s.runUntil(&simulationState, 5000)) << "cycle " << c;
        ASSERT_TRUE(s.runUntil(&windUpState, 5000)) << "cycle " << c;
        if (c == measureAt) {
            atMeasure = heapInUse();
            rssAtMeasure = residentBytes();
        }
    }
    atEnd = heapInUse();
    std::printf("heap in use after cycle %d: %zu bytes, after cycle %d: %zu bytes\n", measureAt,
                atMeasure, cycles, atEnd);
    const size_t rssAtEnd = residentBytes();
    std::printf("resident after cycle %d: %zu bytes, after cycle %d: %zu bytes\n", measureAt,
                rssAtMeasure, cycles, rssAtEnd);
    EXPECT_LE(double(atEnd), double(atMeasure) * 1.05);
#if !defined(__SANITIZE_ADDRESS__)
    // AddressSanitizer holds freed blocks back in its quarantine, so there only the
    // live bytes say anything.
    EXPECT_LE(double(rssAtEnd), double(rssAtMeasure) * 1.05);
#endif
    EXPECT_FALSE(RenderSuppressed) << s.boxes;
}

}  // namespace
}  // namespace gx
