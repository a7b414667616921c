// The world's generator, wrap rules, population lists, grid refill and gravity.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "bodies/bodies.h"
#include "support/builders.h"
#include "universe/world.h"

namespace gx {
namespace {

class WorldModel : public ::testing::Test {
protected:
    void SetUp() override {
        resetSimulation();
        initBodies();
        ASSERT_TRUE(initWorldSized(1280, 721));  // wrapWidth 1279, wrapHeight 720
    }
    void TearDown() override { resetSimulation(); }
    // n fresh free particles, none in the grid.
    void makeParticles(uint32_t n) { ASSERT_TRUE(gxtest::makeParticles(n)); }
    static void place(Particle* p, float x, float y) {
        p->x = x;
        p->y = y;
        refileInGrid(p);
    }
    static std::vector<Particle*> walk(Particle* list) {
        std::vector<Particle*> out;
        for (Particle* p = list; p && out.size() < 100; p = p->links().listPrev) out.push_back(p);
        return out;
    }
};

TEST_F(WorldModel, RandomGeneratorDrawsOneToN) {
    sim.randomSeed = 0;
    EXPECT_EQ(nextRandom(0), 0);
    EXPECT_EQ(sim.randomSeed, 0) << "n = 0 must not advance the generator";
    EXPECT_EQ(nextRandom(100), 1);
    EXPECT_EQ(sim.randomSeed, 12345);

    for (int i = 0; i < 50; ++i) EXPECT_EQ(nextRandom(1), 1);

    bool sawEight = false;
    for (int i = 0; i < 2000; ++i) {
        const int32_t r = nextRandom(8);
        ASSERT_GE(r, 1);
        ASSERT_LE(r, 8);
        sawEight |= r == 8;
    }
    EXPECT_TRUE(sawEight);
    for (int i = 0; i < 200; ++i) {
        const int32_t r = nextRandom(-5);
        ASSERT_GE(r, 1);
        ASSERT_LE(r, 5);
    }

    const int32_t before = sim.randomSeed;
    EXPECT_EQ(nextRandomReal(0.0f), 0.0f);
    EXPECT_EQ(sim.randomSeed, before);
    for (int i = 0; i < 500; ++i) {
        const float v = nextRandomReal(60.0f);
        ASSERT_GE(v, 0.0f);
        ASSERT_LE(v, 60.0f);
    }
    // The same seed gives the same sequence.
    sim.randomSeed = 777;
    const int32_t a1 = nextRandom(1000), a2 = nextRandom(1000);
    sim.randomSeed = 777;
    EXPECT_EQ(nextRandom(1000), a1);
    EXPECT_EQ(nextRandom(1000), a2);
}

TEST_F(WorldModel, WrapUsesPeriodOneLessThanBound) {
    float x = 1280.0f - 0.5f, y = 10.0f;
    EXPECT_TRUE(wrapPoint(x, y));
    EXPECT_EQ(x, 1279.5f) << "x in [W - 1, W) is in range and kept";
    x = 1280.5f;
    wrapPoint(x, y);
    EXPECT_EQ(x, 1.5f);
    x = 100.0f;
    y = 720.0f;  // H - 1
    wrapPoint(x, y);
    EXPECT_EQ(y, 0.0f);
    EXPECT_EQ(x, 100.0f);
    x = -0.5f;
    y = -3.0f;
    wrapPoint(x, y);
    EXPECT_EQ(x, 1278.5f);
    EXPECT_EQ(y, 717.0f);
}

TEST_F(WorldModel, WrapSurvivesHugeAndNonFiniteCoordinates) {
    makeParticles(2);
    Particle* p = &sim.particles[0];
    p->x = std::numeric_limits<float>::infinity();
    p->y = std::nanf("");
    p->vx = 3.0f;
    p->vy = 4.0f;
    wrapParticle(p);
    EXPECT_EQ(p->x, 0.0f);
    EXPECT_EQ(p->y, 0.0f);
    EXPECT_EQ(p->vx, 0.0f);
    EXPECT_EQ(p->vy, 0.0f);

    Particle* q = &sim.particles[1];
    q->x = 3.0e30f;
    q->y = -7.0e25f;
    q->vx = 1.0f;
    wrapParticle(q);
    EXPECT_TRUE(inRange(q->x, q->y));
    EXPECT_EQ(q->vx, 1.0f);
    refileInGrid(q);
    EXPECT_EQ(sim.grid[q->cell], q);
}

TEST_F(WorldModel, ShortestDifferenceCorrectsOnce) {
    EXPECT_EQ(sim.halfWidth, 639);
    EXPECT_EQ(shortestDx(-700.0f), 579.0f);
    EXPECT_EQ(shortestDx(639.0f), 639.0f);
    EXPECT_EQ(shortestDx(640.0f), -639.0f);
    EXPECT_EQ(shortestDx(-639.0f), -639.0f);
    // Corrected in one direction only: a second, opposite pass would give -639.5.
    EXPECT_EQ(shortestDx(-639.5f), 639.5f);
    EXPECT_EQ(shortestDx(0.0f), 0.0f);
    EXPECT_EQ(shortestDy(-400.0f), 320.0f);  // halfHeight 359, wrapHeight 720
    EXPECT_EQ(shortestDx(std::nanf("")), 0.0f);
    EXPECT_EQ(shortestDx(-std::numeric_limits<float>::infinity()), 0.0f);
    const float big = shortestDx(1.0e20f);
    EXPECT_LE(std::fabs(big), 1279.0f);
    // Single-step wrap toward a reference.
    EXPECT_EQ(stepWrapX(1277.5f, 1.0f), -1.5f);
    EXPECT_EQ(stepWrapX(2.0f, 1270.0f), 1281.0f);
    EXPECT_EQ(stepWrapX(600.0f, 10.0f), 600.0f);
}

TEST_F(WorldModel, PopulationListsAppendRemoveAndWalkBackwards) {
    makeParticles(4);
    Particle *a = &sim.particles[0], *b = &sim.particles[1], *c = &sim.particles[2],
             *d = &sim.particles[3];
    appendToLooseList(a);
    appendToLooseList(b);
    appendToLooseList(c);
    EXPECT_EQ(sim.looseList, c);
    EXPECT_EQ(walk(sim.looseList), (std::vector<Particle*>{c, b, a}));
    EXPECT_EQ(a->links().listPrev, nullptr);
    EXPECT_EQ(c->links().listNext, nullptr);

    removeFromLooseList(b);  // middle
    EXPECT_EQ(walk(sim.looseList), (std::vector<Particle*>{c, a}));
    EXPECT_EQ(b->links().listNext, nullptr);
    EXPECT_EQ(b->links().listPrev, nullptr);
    removeFromLooseList(c);  // last: the list variable steps back
    EXPECT_EQ(sim.looseList, a);
    EXPECT_EQ(a->links().listNext, nullptr);

    // Removing from a list the link is not on leaves both lists intact.
    appendToSpriteList(d);
    removeFromLooseList(d);
    EXPECT_EQ(sim.spriteList, d);
    EXPECT_EQ(sim.looseList, a);
    removeFromSpriteList(a);
    EXPECT_EQ(sim.looseList, a);

    moveToSpriteList(a);
    EXPECT_EQ(sim.looseList, nullptr);
    EXPECT_EQ(walk(sim.spriteList), (std::vector<Particle*>{a, d}));
    moveToSpriteList(a);  // already there: no self-link
    EXPECT_EQ(walk(sim.spriteList), (std::vector<Particle*>{a, d}));
    moveToLooseList(d);
    EXPECT_EQ(walk(sim.spriteList), (std::vector<Particle*>{a}));
    EXPECT_EQ(walk(sim.looseList), (std::vector<Particle*>{d}));
    removeFromLooseList(d);
    EXPECT_EQ(sim.looseList, nullptr);
    removeFromLooseList(d);  // empty list: nothing
    EXPECT_EQ(sim.looseList, nullptr);
}

TEST_F(WorldModel, MembersMoveToSpriteListAndLeaveTheGrid) {
    makeParticles(3);
    Body* body = newBody();
    ASSERT_NE(body, nullptr);
    for (uint32_t i = 0; i < 3; ++i) {
        Particle* p = &sim.particles[i];
        appendToLooseList(p);
        place(p, 10.0f + float(i), 10.0f);
        p->body = body;
        if (i) sim.particles[i - 1].memberNext = p;
    }
    body->head = &sim.particles[0];
    body->tail = &sim.particles[2];
    moveMembersToSpriteList(body);
    EXPECT_EQ(sim.looseList, nullptr);
    EXPECT_EQ(walk(sim.spriteList),
              (std::vector<Particle*>{&sim.particles[2], &sim.particles[1], &sim.particles[0]}));
    for (uint32_t i = 0; i < 3; ++i) {
        EXPECT_EQ(sim.particles[i].cell, -1);
        EXPECT_EQ(sim.grid[10 * 1280 + 10 + i], nullptr);
    }
}

TEST_F(WorldModel, RefillNeverOverwritesOccupiedCells) {
    for (int sparse = 0; sparse <= 1; ++sparse) {
        SCOPED_TRACE(sparse);
        resetSimulation();
        ASSERT_TRUE(initWorldSized(1280, 721));
        makeParticles(5);
        for (uint32_t i = 0; i < 5; ++i) appendToLooseList(&sim.particles[i]);
        Particle *owner = &sim.particles[0], *claimant = &sim.particles[1],
                 *lost = &sim.particles[2], *outside = &sim.particles[3],
                 *offList = &sim.particles[4];
        place(owner, 20.5f, 30.5f);
        claimant->x = 20.2f;
        claimant->y = 30.9f;
        claimant->cell = owner->cell;  // claims the same cell, not in the grid
        lost->x = 40.0f;
        lost->y = 41.0f;
        lost->cell = cellIndexOf(40.0f, 41.0f);  // its cell was emptied
        outside->x = -5.0f;
        outside->cell = -1;
        offList->x = 50.0f;
        offList->y = 50.0f;
        offList->cell = cellIndexOf(50.0f, 50.0f);
        removeFromLooseList(offList);

        sim.sparseFlag = sparse;
        refillGrid();
        EXPECT_EQ(sim.grid[owner->cell], owner);
        EXPECT_EQ(sim.grid[lost->cell], lost);
        EXPECT_EQ(outside->cell, -1);
        // The array walk sees every free particle; the sparse walk only the loose list.
        EXPECT_EQ(sim.grid[offList->cell], sparse ? nullptr : offList);
        int entered = 0;
        for (int32_t c = 0; c < sim.cellCount; ++c) entered += sim.grid[c] != nullptr;
        EXPECT_EQ(entered, sparse ? 2 : 3);
    }
}

TEST_F(WorldModel, RefillEntersBodyMembersButNotSpriteBodies) {
    makeParticles(2);
    Body* body = newBody();
    Particle *m = &sim.particles[0], *f = &sim.particles[1];
    m->body = body;
    body->head = body->tail = m;
    m->x = 7.0f;
    m->y = 8.0f;
    m->cell = cellIndexOf(7.0f, 8.0f);
    f->x = 7.5f;
    f->y = 8.5f;
    f->cell = m->cell;
    sim.sparseFlag = 1;
    appendToLooseList(f);
    refillGrid();
    EXPECT_EQ(sim.grid[m->cell], f) << "the free particle is entered first and keeps the cell";
    sim.grid[m->cell] = nullptr;
    removeFromLooseList(f);
    refillGrid();
    EXPECT_EQ(sim.grid[m->cell], m);
    sim.grid[m->cell] = nullptr;
    Body* spriteBody = body;
    spriteBody->group = reinterpret_cast<BodySprite*>(spriteBody);  // any non-null sprite
    refillGrid();
    EXPECT_EQ(sim.grid[m->cell], nullptr) << "sprite bodies keep their members out of the grid";
    spriteBody->group = nullptr;
}

TEST_F(WorldModel, GravityFollowsPopulationSize) {
    sim.particleCount = 0;
    setGravityForPopulation();
    EXPECT_EQ(sim.gravityStrength, 0.33362952f);
    sim.particleCount = 22974;
    setGravityForPopulation();
    EXPECT_EQ(sim.gravityStrength, 0.33362952f);
    sim.particleCount = 11487;
    setGravityForPopulation();
    EXPECT_EQ(sim.gravityStrength, 0.33362952f * 2.8f);
    sim.particleCount = 45948;
    setGravityForPopulation();
    EXPECT_EQ(sim.gravityStrength, 0.33362952f * 0.5f);
    sim.particleCount = 0;
}

TEST_F(WorldModel, SpeedAndReleaseLeaveNoDanglingState) {
    setSpeed(0.1f);
    EXPECT_EQ(sim.speedFactor, 0.1f);
    EXPECT_EQ(sim.inverseSpeed, 1.0f / 0.1f);
    setSpeed(0.0f);
    EXPECT_EQ(sim.speedFactor, 0.1f) << "a zero speed is refused";

    makeParticles(3);
    for (uint32_t i = 0; i < 3; ++i) {
        appendToLooseList(&sim.particles[i]);
        place(&sim.particles[i], float(i), 3.0f);
    }
    ASSERT_TRUE(allocateMatchSlots());
    sim.burstFrames = 9;
    releaseParticles();
    EXPECT_EQ(sim.particles, nullptr);
    EXPECT_EQ(sim.matchSlots, nullptr);
    EXPECT_EQ(sim.looseList, nullptr);
    EXPECT_EQ(sim.particleCount, 0u);
    EXPECT_EQ(sim.burstFrames, 0);
    for (int32_t c = 0; c < sim.cellCount; ++c) ASSERT_EQ(sim.grid[c], nullptr);
}

TEST_F(WorldModel, RecentreMovesParticlesCentroidsAndGrid) {
    makeParticles(2);
    Particle *free = &sim.particles[0], *member = &sim.particles[1];
    place(free, 100.0f, 100.0f);
    Body* body = newBody();
    body->centroid = {200.0f, 200.0f};
    member->body = body;
    body->head = body->tail = member;
    place(member, 201.0f, 200.0f);
    // The screen grows from 1280 x 721 to 1380 x 741.
    ASSERT_TRUE(initWorldSized(1380, 741));
    recentreWorld(1380 * 4, 1280 * 4, 721);
    EXPECT_EQ(free->x, 150.0f);
    EXPECT_EQ(free->y, 110.0f);
    EXPECT_EQ(body->centroid.x, 250.0f);
    EXPECT_EQ(body->centroid.y, 210.0f);
    EXPECT_EQ(sim.grid[cellIndexOf(150.0f, 110.0f)], free);
    EXPECT_EQ(sim.grid[cellIndexOf(251.0f, 210.0f)], member);
    EXPECT_EQ(member->cell, 210 * 1380 + 251);
}

}  // namespace
}  // namespace gx
