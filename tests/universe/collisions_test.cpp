#include <cmath>

#include "universe/collisions.h"
#include "world_fixture.h"

namespace gx::testing {
namespace {

class Collisions : public WorldTest {
protected:
    void SetUp() override { fresh(); }
    void fresh() {
        startWorld(400, 300);
        makeParticles(4000);
    }

    // A body of count particles laid out in a block of the given width from (x0, y0).
    Body* blockBody(uint32_t first, uint32_t count, int32_t x0, int32_t y0, int32_t cols,
                    Vec2 velocity = {0.0f, 0.0f}) {
        std::vector<uint32_t> members;
        for (uint32_t k = 0; k < count; ++k) {
            place(first + k, float(x0 + int32_t(k) % cols) + 0.5f,
                  float(y0 + int32_t(k) / cols) + 0.5f);
            members.push_back(first + k);
        }
        return makeBody(members, velocity);
    }

    static BodyNode* nodeOf(Body* b) { return nodeOfBody(b); }
};

TEST_F(Collisions, BounceKeepsMeanSpeedMirroredAboutMomentum) {
    Particle* p = &sim.particles[0];
    Particle* q = &sim.particles[1];
    p->vx = 1.0f, p->vy = 0.0f;
    q->vx = -1.0f, q->vy = 0.0f;
    bounceParticles(p, q);
    EXPECT_NEAR(p->vx, -1.0f, 1e-6f);
    EXPECT_NEAR(p->vy, 0.0f, 1e-6f);
    EXPECT_NEAR(q->vx, 1.0f, 1e-6f);
    EXPECT_NEAR(q->vy, 0.0f, 1e-6f);

    // A resting particle hit head-on: both leave along the momentum at the mean speed.
    p->vx = 0.0f, p->vy = 2.0f;
    q->vx = 0.0f, q->vy = 0.0f;
    bounceParticles(p, q);
    EXPECT_NEAR(p->vx, 0.0f, 1e-6f);
    EXPECT_NEAR(p->vy, 1.0f, 1e-6f);
    EXPECT_NEAR(q->vx, 0.0f, 1e-6f);
    EXPECT_NEAR(q->vy, 1.0f, 1e-6f);
}

TEST_F(Collisions, TouchingRadiiDoNotOverlap) {
    Body* a = blockBody(0, 4, 100, 100, 2);
    Body* b = blockBody(4, 4, 150, 100, 2);
    a->radius = 5.0f;
    b->radius = 5.0f;
    a->centroid = {50.0f, 50.0f};
    b->centroid = {60.0f, 50.0f};
    collideBodies();
    EXPECT_EQ(bodyCount(), 2u);
    EXPECT_EQ(a->memberCount, 4);

    // Closer than the small radius: they resolve (small counts merge).
    b->centroid = {54.0f, 50.0f};
    collideBodies();
    EXPECT_EQ(bodyCount(), 1u);
    EXPECT_EQ(bodyList()->body->memberCount, 8);
}

TEST_F(Collisions, FiftyMergesFiftyOneDissolves) {
    Body* big = blockBody(0, 50, 20, 20, 10);
    Body* small = blockBody(50, 10, 40, 20, 5);
    const float bigMass = big->mass, smallMass = small->mass;
    BodyNode* outer = nodeOf(big);
    BodyNode* inner = nodeOf(small);
    resolveBodyContact(3.0f, outer, inner);
    EXPECT_EQ(bodyCount(), 1u);
    EXPECT_EQ(bodyList()->body, big);
    EXPECT_EQ(big->memberCount, 60);
    EXPECT_FLOAT_EQ(big->mass, bigMass + smallMass);
    EXPECT_EQ(big->tail, &sim.particles[59]);
    EXPECT_TRUE(big->dirty);
    EXPECT_EQ(inner, nullptr) << "the walk moved past the absorbed body";
    int32_t links = 0;
    for (Particle* m = big->head; m; m = m->memberNext) ++links;
    EXPECT_EQ(links, 60);

    // One more member on the big side: the small body dissolves into free particles
    // that may stick again at once.
    fresh();
    big = blockBody(0, 51, 20, 20, 10);
    small = blockBody(51, 10, 40, 20, 5, {0.5f, 0.0f});
    outer = nodeOf(big);
    inner = nodeOf(small);
    resolveBodyContact(3.0f, outer, inner);
    EXPECT_EQ(bodyCount(), 1u);
    EXPECT_EQ(big->memberCount, 51);
    for (uint32_t i = 51; i < 61; ++i) {
        EXPECT_EQ(sim.particles[i].body, nullptr);
        EXPECT_EQ(sim.particles[i].holdOff, 0);
    }
}

TEST_F(Collisions, ShatterNeedsImpactAbove400AndAQuarter) {
    // m = 400 (400 members at low impact) never shatters; the big body stays.
    Body* big = blockBody(0, 1000, 0, 0, 100);
    Body* small = blockBody(1000, 400, 0, 20, 100);
    BodyNode* outer = nodeOf(big);
    BodyNode* inner = nodeOf(small);
    resolveBodyContact(30.0f, outer, inner);
    EXPECT_EQ(bodyCount(), 1u);
    EXPECT_EQ(bodyList()->body, big);
    EXPECT_EQ(sim.particles[1000].body, nullptr);

    // m = 401 against 1604: exactly a quarter, no shatter (the small one dissolves).
    fresh();
    big = blockBody(0, 1604, 0, 0, 100);
    small = blockBody(1604, 401, 0, 20, 100);
    outer = nodeOf(big);
    inner = nodeOf(small);
    resolveBodyContact(30.0f, outer, inner);
    EXPECT_EQ(bodyCount(), 1u);
    EXPECT_EQ(bodyList()->body, big);

    // m = 401 against 1000, both at rest 30 apart: both shatter with hold-off 2.
    fresh();
    big = blockBody(0, 1000, 0, 0, 100);
    small = blockBody(1000, 401, 0, 20, 100);
    outer = nodeOf(big);
    inner = nodeOf(small);
    resolveBodyContact(30.0f, outer, inner);
    EXPECT_EQ(bodyList(), nullptr);
    EXPECT_EQ(outer, nullptr);
    EXPECT_EQ(inner, nullptr);
    for (uint32_t i = 0; i < 1401; ++i) {
        ASSERT_EQ(sim.particles[i].body, nullptr) << i;
        ASSERT_EQ(sim.particles[i].holdOff, 2) << i;
    }
}

TEST_F(Collisions, FragmentHoldOffExamples) {
    Body a{}, b{};
    EXPECT_EQ(fragmentHoldOff(&a, &b, 30.0f), 2) << "both at rest";
    a.velocity = {3.0f, 0.0f};
    b.velocity = {0.0f, -2.0f};
    EXPECT_EQ(fragmentHoldOff(&a, &b, 30.0f), 6);
    EXPECT_EQ(fragmentHoldOff(&a, &b, 3.0f), 2) << "trunc(3 / 5) is below 2";
    // Half the distance caps a long hold-off; a huge quotient is clamped, not overflowed.
    a.velocity = {0.5f, 0.0f};
    b.velocity = {0.0f, 0.0f};
    EXPECT_EQ(fragmentHoldOff(&a, &b, 30.0f), 15);
    a.velocity = {1e-10f, 0.0f};
    EXPECT_EQ(fragmentHoldOff(&a, &b, 1e20f), 1000000000);
}

TEST_F(Collisions, ProbeAnswersOnlyForBoundMembersOfTheLargeBody) {
    Body small{}, large{}, third{};
    small.centroid = {50.0f, 50.0f};
    small.radius = 3.0f;
    large.centroid = {60.0f, 50.0f};
    large.radius = 8.0f;
    // Rim point (53, 50); the probe looks one cell on toward the large body: x + 1 and,
    // as the y difference is not positive, y - 1.
    Particle* q = place(0, 54.5f, 49.5f);
    EXPECT_FALSE(probeContact(&small, &large)) << "free particle";
    q->body = &third;
    EXPECT_FALSE(probeContact(&small, &large)) << "member of a third body";
    q->body = &large;
    q->holdOff = -1;
    EXPECT_FALSE(probeContact(&small, &large)) << "free member of the large body";
    q->holdOff = 0;
    EXPECT_TRUE(probeContact(&small, &large));
    // Across the wrap edge: the large body lies left across x = 0.
    small.centroid = {2.0f, 50.0f};
    large.centroid = {float(sim.wrapWidth) - 5.0f, 50.0f};
    Particle* r = place(1, float(sim.wrapWidth) - 1.5f, 49.5f);
    r->body = &large;
    EXPECT_TRUE(probeContact(&small, &large));
}

TEST_F(Collisions, SpriteHitTestStopsAtTheFirstBodyWithoutSprite) {
    Body* plain = blockBody(0, 4, 100, 100, 2);
    plain->radius = 50.0f;
    Particle* p = place(10, 101.0f, 101.0f);
    EXPECT_FALSE(spriteHitTest(p, 101.5f, 101.5f));
    EXPECT_EQ(p->body, nullptr);
}

}  // namespace
}  // namespace gx::testing
