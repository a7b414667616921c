// A clean particle world and body list for each test, and small builders.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "bodies/bodies.h"
#include "bodies/sprites.h"
#include "support/builders.h"
#include "universe/motion.h"
#include "universe/picture_to_particles.h"
#include "universe/world.h"

namespace gx::testing {

class WorldTest : public ::testing::Test {
protected:
    void SetUp() override { startWorld(200, 150); }
    void TearDown() override { resetSimulation(); }

    void startWorld(int32_t w, int32_t h) {
        resetSimulation();
        ASSERT_TRUE(initWorldSized(w, h));
    }

    // n zeroed free particles on the loose list, not yet in the grid.
    void makeParticles(uint32_t n) {
        gxtest::ParticleSetup setup;
        setup.onLooseList = true;
        setup.colourOf = [](uint32_t) { return 0xFF808080u; };
        ASSERT_TRUE(gxtest::makeParticles(n, setup));
    }

    // Places a particle and files it in the grid.
    Particle* place(uint32_t i, float x, float y, float vx = 0.0f, float vy = 0.0f) {
        Particle* p = &sim.particles[i];
        p->x = x;
        p->y = y;
        p->vx = vx;
        p->vy = vy;
        refileInGrid(p);
        return p;
    }

    // A body of the given particles (already placed), measured as the flood fill does.
    Body* makeBody(std::vector<uint32_t> members, Vec2 velocity = {0.0f, 0.0f}) {
        Body* b = newBody();
        for (uint32_t i : members) {
            sim.particles[i].holdOff = 0;
            gxtest::appendMember(b, &sim.particles[i]);
        }
        b->velocity = velocity;
        updateAfterAdd(b);
        b->sortKey = b->memberCount;
        return b;
    }
};

// An image of w x h pixels, all one colour.
inline std::vector<uint32_t> solidImage(int32_t w, int32_t h, uint32_t colour) {
    return std::vector<uint32_t>(size_t(w) * size_t(h), colour);
}

inline CapturedImage imageOf(const std::vector<uint32_t>& px, int32_t rowPixels, int32_t rows,
                             int32_t bbW, int32_t bbH) {
    CapturedImage img;
    img.pixels = px.data();
    img.rowPixels = rowPixels;
    img.rows = rows;
    img.backBufferWidth = bbW;
    img.backBufferHeight = bbH;
    return img;
}

}  // namespace gx::testing
