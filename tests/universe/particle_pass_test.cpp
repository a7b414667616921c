// The particle pass against a real read-back: what it counts, the block rule against
// the scalar one, a read-back that cannot be locked, and free members never caught by it.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "support/render_fixture.h"
#include "universe/collisions.h"
#include "universe/motion.h"
#include "universe/particle_pass.h"
#include "universe/pull.h"

namespace gx::testing {
namespace {

TEST_F(FrameTest, PassCountsFreeParticlesAndFreeMembersOnly) {
    makeParticles(6);
    put(0, 20.5f, 20.5f)->vx = 1.0f;
    put(1, 30.5f, 20.5f)->vy = 1.0f;
    put(2, 40.5f, 20.5f);
    Particle* bound = put(3, 100.5f, 70.5f);
    Particle* freeMember = put(4, 101.5f, 70.5f);
    Body* b = makeBody(101.0f, 70.5f, 3.0f, 3, 2);
    b->mass = 5.0e5f;
    bound->holdOff = 0;
    freeMember->holdOff = -1;
    freeMember->vx = 3.0f;
    put(5, 150.5f, 20.5f);
    attractBodies();
    particlePass();
    EXPECT_EQ(sim.processedCount, 5);
    EXPECT_FLOAT_EQ(sim.particles[0].x, 20.5f + 1.0f + sim.particles[0].ax);
    EXPECT_FLOAT_EQ(freeMember->x, 101.5f) << "a free member only gathers its pull";
    EXPECT_LT(freeMember->ax, 0.0f);
    EXPECT_EQ(bound->ax, 0.0f);
    EXPECT_TRUE(boxes.empty());

    // The next frame's attraction uses that count: 8000 / 5.
    attractBodies();
    EXPECT_EQ(sim.bodyLimit, 1600);
}

// The pass works the pull out a block of particles ahead; it must give what the
// one-at-a-time rule gives, bit for bit, also where a particle joins the pulling body
// mid-block (its mass and centroid change), sits on its centroid, lies more than half a
// world away, or has no finite position.
class BlockPull : public FrameTest {
protected:
    struct Outcome {
        std::vector<uint32_t> bits;  // per particle: x, y, vx, vy, ax, ay, cell, holdOff, body
        std::vector<int32_t> gridOwners;
    };

    static uint32_t bitsOf(float v) {
        uint32_t b;
        std::memcpy(&b, &v, sizeof b);
        return b;
    }

    // The rule the blocks mirror, one particle at a time.
    struct ScalarPull {
        void begin() {}
        void accelerate(Particle* p, uint32_t) { gatherAcceleration(p); }
    };

    Outcome run(bool blocks, uint32_t seed) {
        sim.bodySnapshot = nullptr;
        resetBodies();
        constexpr uint32_t n = 3000;
        makeParticles(n);
        auto next = [&seed]() {
            seed = seed * 1664525u + 1013904223u;
            return float(seed >> 8) / float(1u << 24);
        };
        const float w = float(sim.worldWidth), h = float(sim.wrapHeight);
        const float cx = 0.3f * w, cy = 0.4f * h;
        for (uint32_t i = 0; i < 40; ++i)
            put(i, cx + 8.0f * (next() - 0.5f), cy + 8.0f * (next() - 0.5f));
        Body* heavy = makeBody(cx, cy, 6.0f, 0, 40);
        heavy->mass = 4.0e5f;
        for (uint32_t i = 0; i < 40; i += 3) sim.particles[i].holdOff = -1;  // free members
        for (uint32_t i = 40; i < n; ++i) {
            // Many start near the body, so joins come in the middle of blocks.
            const bool near = i % 3 == 0;
            Particle* p = put(i, near ? cx + 30.0f * (next() - 0.5f) : next() * (w - 1.0f),
                              near ? cy + 30.0f * (next() - 0.5f) : next() * (h - 1.0f));
            p->vx = 6.0f * (next() - 0.5f);
            p->vy = 6.0f * (next() - 0.5f);
            p->holdOff = int32_t(next() * 3.0f);
        }
        put(45, cx, cy);  // on the centroid
        sim.particles[77].x = NAN;
        sim.particles[78].y = INFINITY;
        sim.processedCount = 10000;  // the last pass's count: one body pulls
        attractBodies();
        EXPECT_EQ(sim.bodyLimit, 1);
        if (blocks) {
            particlePass();
        } else {
            ScalarPull scalar;
            particlePassWith(scalar);
        }

        Outcome o;
        std::vector<const Body*> bodies;
        for (BodyNode* node = bodyList(); node; node = node->next) bodies.push_back(node->body);
        for (uint32_t i = 0; i < n; ++i) {
            const Particle& p = sim.particles[i];
            int32_t body = -1;
            for (size_t k = 0; k < bodies.size(); ++k)
                if (bodies[k] == p.body) body = int32_t(k);
            for (float v : {p.x, p.y, p.vx, p.vy, p.ax, p.ay}) o.bits.push_back(bitsOf(v));
            o.bits.push_back(uint32_t(p.cell));
            o.bits.push_back(uint32_t(p.holdOff));
            o.bits.push_back(uint32_t(body));
        }
        for (const Body* b : bodies)
            for (float v : {b->centroid.x, b->centroid.y, b->mass}) o.bits.push_back(bitsOf(v));
        for (int32_t c = 0; c < sim.cellCount; ++c)
            if (sim.grid[c])
                o.gridOwners.push_back(c),
                    o.gridOwners.push_back(int32_t(sim.grid[c] - sim.particles));
        return o;
    }
};

TEST_F(BlockPull, MatchesTheOneAtATimeRuleBitForBit) {
    for (uint32_t seed : {1u, 2u, 3u}) {
        const Outcome one = run(false, seed);
        const Outcome blocks = run(true, seed);
        ASSERT_EQ(one.bits.size(), blocks.bits.size());
        size_t differing = 0;
        for (size_t k = 0; k < one.bits.size(); ++k) differing += one.bits[k] != blocks.bits[k];
        EXPECT_EQ(differing, 0u) << "seed " << seed;
        EXPECT_EQ(one.gridOwners, blocks.gridOwners) << "seed " << seed;
    }
}

TEST_F(FrameTest, ReadBackLockFailureReportsAndSkipsThePass) {
    makeParticles(1);
    put(0, 20.5f, 20.5f)->vx = 1.0f;
    device->injectFault(gfx::FaultOp::Lock, gfx::FaultResource::Surface, 1);
    particlePass();
    EXPECT_FLOAT_EQ(sim.particles[0].x, 20.5f);
    EXPECT_NE(report().find("Internal error - Failed to process collision."), std::string::npos);
}

TEST_F(FrameTest, FreeMemberNeverSamplesTheReadBack) {
    makeParticles(4);
    Body* b = makeBody(100.0f, 75.0f, 10.0f, 0, 0);
    BodySprite* s = nextSprite();
    ASSERT_NE(s, nullptr);
    sim.spriteState.list.head = &s->listNode;
    s->body = b;
    b->group = s;
    s->reach = b->radius;
    s->settledRadius = 1;
    ASSERT_TRUE(createSpriteTexture(s, false));
    clearTexels(s);
    setTexel(s, 29, 20, kSpriteMarker[0] | 0x777777u);  // world (109.5, 75.5)
    ASSERT_TRUE(lockAllSprites());
    // A read-back that shows a sprite everywhere.
    static const uint32_t lit[1] = {0xFFFFFFFFu};
    sim.collisionView.bits = lit;
    sim.collisionView.width = sim.collisionView.height = sim.collisionView.stride = 1;

    Particle* joiner = put(1, 108.5f, 75.5f);
    joiner->vx = 1.0f;
    moveParticle(joiner);
    EXPECT_EQ(joiner->body, b) << "the sprite took it in";
    EXPECT_FLOAT_EQ(joiner->x, 108.5f);

    Particle* member = put(2, 108.5f, 75.5f);
    member->vx = 1.0f;
    member->holdOff = -1;
    moveParticle(member);
    EXPECT_EQ(member->body, nullptr);
    EXPECT_FLOAT_EQ(member->x, 109.5f);
    sim.collisionView = CollisionView{};
    unlockAllSprites();
}

}  // namespace
}  // namespace gx::testing
