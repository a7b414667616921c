#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>

#include "bodies/bodies.h"
#include "support/temp_folder.h"
#include "support/whole_run.h"
#include "universe/world.h"

namespace gx::testing {
namespace {

struct ParticleState {
    uint32_t bits[6];  // x, y, vx, vy, colour, mass as stored
    int32_t cell, holdOff, bodyIndex;
    bool operator==(const ParticleState&) const = default;
};

struct RunResult {
    std::vector<ParticleState> particles;
    uint32_t bodies = 0;
    uint32_t sprites = 0;
    uint32_t maxSprites = 0;
    uint32_t population = 0;
};

uint32_t bitsOf(float f) {
    uint32_t u;
    std::memcpy(&u, &f, 4);
    return u;
}

// The whole saver on a picture of its own, through the wind-up, then `frames` frames of
// the simulation.
RunResult runScene(int frames) {
    gxtest::TempFolder pictures("gx_scene");
    gxtest::SaverOptions o;
    o.width = 1024;
    o.height = 768;
    o.imagePath = gxtest::writeTestPicture(pictures.path(), "scene.bmp", 400, 300);
    o.dataFile = gxtest::sharedDataFile();
    RunResult result;
    gxtest::Saver s(o);
    EXPECT_TRUE(s.started) << s.boxes;
    EXPECT_TRUE(s.runUntil(&simulationState));
    result.population = sim.particleCount;
    for (int f = 0; f < frames; ++f) {
        s.frame();
        result.maxSprites = std::max(result.maxSprites, gxtest::attachedSprites());
    }
    EXPECT_TRUE(s.boxes.empty()) << s.boxes;
    std::map<const Body*, int32_t> index;
    for (BodyNode* n = bodyList(); n; n = n->next) index[n->body] = int32_t(index.size());
    result.bodies = uint32_t(index.size());
    result.sprites = gxtest::attachedSprites();
    for (uint32_t i = 0; i < sim.particleCount; ++i) {
        const Particle& p = sim.particles[i];
        ParticleState st{
            {bitsOf(p.x), bitsOf(p.y), bitsOf(p.vx), bitsOf(p.vy), p.colour, bitsOf(p.mass)},
            p.cell,
            p.holdOff,
            p.body ? (index.count(p.body) ? index[p.body] : -2) : -1};
        result.particles.push_back(st);
    }
    return result;
}

TEST(Scene, SamePictureRunsTheSameWayAndFormsBodiesAndSprites) {
    const RunResult first = runScene(300);
    const RunResult second = runScene(300);
    ASSERT_GT(first.population, 20000u);
    EXPECT_EQ(first.particles.size(), first.population);
    EXPECT_GT(first.bodies, 0u);
    EXPECT_GE(first.maxSprites, 1u) << "a body grew large enough to become a sprite";
    EXPECT_EQ(first.bodies, second.bodies);
    EXPECT_EQ(first.sprites, second.sprites);
    ASSERT_EQ(first.particles.size(), second.particles.size());
    size_t differing = 0;
    for (size_t i = 0; i < first.particles.size(); ++i)
        differing += first.particles[i] == second.particles[i] ? 0 : 1;
    EXPECT_EQ(differing, 0u);
}

}  // namespace
}  // namespace gx::testing
