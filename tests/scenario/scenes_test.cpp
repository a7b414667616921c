#include <gtest/gtest.h>

#include <set>

#include "app/run_observers.h"
#include "bodies/sprites.h"
#include "render/collision_surfaces.h"
#include "support/scenes.h"
#include "support/whole_run.h"
#include "universe/world.h"

namespace gx {
namespace {

TEST(Scenes, EverySampleOnBothScreens) {
    const auto scenes = gxtest::sampleScenes(GLIMMERAX_SOURCE_DIR);
    ASSERT_EQ(scenes.size(), 14u);
    std::set<std::string> names;
    for (size_t i = 0; i < scenes.size(); ++i) {
        const auto& s = scenes[i];
        names.insert(s.name);
        EXPECT_TRUE(gxtest::fileExists(s.picture)) << s.picture;
        EXPECT_EQ(s.width, i < 7 ? 1920u : 3840u);
        EXPECT_EQ(s.height, i < 7 ? 1080u : 2160u);
    }
    EXPECT_EQ(names.size(), scenes.size());
    ASSERT_NE(gxtest::findScene(scenes, "sunset@1920x1080"), nullptr);
    EXPECT_EQ(gxtest::findScene(scenes, "sunset@1920x1080")->picture,
              std::string(GLIMMERAX_SOURCE_DIR) + "/data/samples/sunset.png");
    EXPECT_EQ(gxtest::findScene(scenes, "sunset@800x600"), nullptr);
}

// The regrouping scan skips tiles by counting free particles per claimed cell; that is
// only sound while every grid entry names a particle that claims that very cell.
TEST(Scenes, GridEntriesNameTheirOwnCell) {
    const auto scenes = gxtest::sampleScenes(GLIMMERAX_SOURCE_DIR);
    for (const char* name : {"sunset@1920x1080", "tiles@1920x1080"}) {
        const gxtest::Scene* scene = gxtest::findScene(scenes, name);
        ASSERT_NE(scene, nullptr);
        gxtest::SaverOptions o = gxtest::sceneOptions(*scene);
        gxtest::Saver s(o);
        ASSERT_TRUE(s.started) << s.boxes;
        ASSERT_TRUE(s.runUntil(&simulationState));
        int free = 0, entries = 0;
        for (int frame = 0; frame < 150; ++frame) {
            s.frame();
            for (int32_t c = 0; c < sim.cellCount; ++c) {
                const Particle* p = sim.grid[c];
                if (!p) continue;
                ++entries;
                free += p->body == nullptr;
                ASSERT_EQ(p->cell, c) << name << " frame " << frame;
            }
        }
        EXPECT_GT(entries, 0);
        EXPECT_GT(free, 0);
    }
}

// FNV-1a over the bytes of a presented frame.
uint64_t digestOf(const std::vector<uint32_t>& pixels) {
    uint64_t h = 1469598103934665603ull;
    for (uint32_t v : pixels) {
        for (int k = 0; k < 4; ++k) {
            h ^= (v >> (8 * k)) & 0xFFu;
            h *= 1099511628211ull;
        }
    }
    return h;
}

// Whether the collision read-back holds any sprite pixel.
bool readbackShowsSprite() {
    if (!CollisionReadback) return false;
    gfx::LockedRect lr;
    if (gfx::failed(CollisionReadback->lockRect(&lr, nullptr, gfx::kLockReadOnly))) return false;
    bool any = false;
    for (int y = 0; y < collisionHeight && !any; ++y)
        for (int x = 0; x < collisionWidth && !any; ++x)
            any = (static_cast<const uint32_t*>(lr.bits)[y * (lr.pitch / 4) + x] & 0xFFFFFFu) != 0;
    CollisionReadback->unlockRect();
    return any;
}

// Two bundled scenes pinned where sprites, their texels and the collision read-back all
// take part: the particle-state hash (as --trace writes it) and the presented frame at two
// simulation frames, and a frame of the wind-down half way home (the colour matching's
// homes). Any change to the simulation's or the renderer's numbers shows
// here, whatever moved in the code.
TEST(Scenes, PinnedTracesAndFrames) {
    struct Pin {
        const char* scene;
        int frame;  // simulation frame; -1 for the wind-down half way home
        uint64_t trace, digest;
    };
    const Pin pins[] = {
        {"sunset@1920x1080", 150, 0x75c056ea385a488dull, 0xca49fd34eb4723aaull},
        {"sunset@1920x1080", 450, 0x57730a5ac8e37ee1ull, 0xa54b02b177a8261eull},
        {"sunset@1920x1080", -1, 0x11981a31a5b16e80ull, 0xb5ac2303713aa026ull},
        {"tiles@1920x1080", 150, 0x799ed9b750a72443ull, 0xe312a6af4af5080bull},
        {"tiles@1920x1080", 450, 0x5a89a36ae1341ff1ull, 0x16b86e4a15ac1df1ull},
        {"tiles@1920x1080", -1, 0x2c19868712bfe481ull, 0x882856b918297650ull},
    };
    const auto scenes = gxtest::sampleScenes(GLIMMERAX_SOURCE_DIR);
    // The pins were taken running sunset first; here tiles runs first and sunset after a
    // whole run of it, so nothing a run leaves behind its reset may change the numbers.
    for (const char* name : {"tiles@1920x1080", "sunset@1920x1080"}) {
        const gxtest::Scene* scene = gxtest::findScene(scenes, name);
        ASSERT_NE(scene, nullptr);
        gxtest::SaverOptions o = gxtest::sceneOptions(*scene);
        o.duration = 31;  // the wind-down begins after simulation frame 465
        gxtest::Saver s(o);
        ASSERT_TRUE(s.started) << s.boxes;
        ASSERT_TRUE(s.runUntil(&simulationState));
        bool sprites = false, stamped = false, readback = false;
        auto check = [&](const Pin& pin) {
            EXPECT_EQ(hashParticleStates(), pin.trace) << name << " frame " << pin.frame;
            EXPECT_EQ(digestOf(getD3D9Device()->frontBuffer()), pin.digest)
                << name << " frame " << pin.frame;
        };
        while (currentState == &simulationState && !RenderSuppressed) {
            s.frame();
            sprites = sprites || firstAttachedSprite() != nullptr;
            stamped = stamped || sim.spriteList != nullptr;
            readback = readback || readbackShowsSprite();
            for (const Pin& pin : pins)
                if (pin.scene == std::string(name) && pin.frame == simulationState.frames) {
                    // What the pin is for: sprites and the read-back were part of the run.
                    EXPECT_TRUE(sprites && stamped && readback) << name;
                    check(pin);
                }
        }
        ASSERT_EQ(currentState, &windDownState) << s.boxes;
        while (windDownState.elapsed < 2.5f && currentState == &windDownState) s.frame();
        for (const Pin& pin : pins)
            if (pin.scene == std::string(name) && pin.frame == -1) check(pin);
    }
}

}  // namespace
}  // namespace gx
