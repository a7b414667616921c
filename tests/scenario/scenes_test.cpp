#include <gtest/gtest.h>

#include <set>

#include "scenario/scenario.h"
#include "support/scenes.h"
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
        gxtest::SaverOptions o;
        o.width = scene->width;
        o.height = scene->height;
        o.imagePath = scene->picture;
        o.dataFile = gxtest::sharedDataFile();
        gxtest::Saver s(o);
        ASSERT_TRUE(s.started) << s.boxes;
        ASSERT_TRUE(s.runUntil(&simulationState));
        int free = 0, entries = 0;
        for (int frame = 0; frame < 150; ++frame) {
            s.frame();
            for (int32_t c = 0; c < cellCount; ++c) {
                const Particle* p = grid[c];
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

}  // namespace
}  // namespace gx
