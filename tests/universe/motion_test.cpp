#include <cmath>
#include <cstring>
#include <vector>

#include "universe/collisions.h"
#include "universe/pull.h"
#include "universe/pull_columns.h"
#include "world_fixture.h"

namespace gx::testing {
namespace {

class Motion : public WorldTest {
protected:
    void SetUp() override {
        startWorld(200, 150);
        makeParticles(64);
    }
};

TEST_F(Motion, HoldOffThreeBouncesTwiceThenJoins) {
    // q is a bound member of a body; p runs into q's cell three times.
    Particle* q = place(1, 51.5f, 50.5f);
    place(2, 52.5f, 50.5f);
    Body* body = makeBody({1, 2});
    Particle* p = place(0, 50.5f, 50.5f);
    p->holdOff = 3;
    for (int step = 1; step <= 3; ++step) {
        p->x = 50.5f, p->y = 50.5f;
        p->vx = 1.0f, p->vy = 0.0f;
        refileInGrid(p);
        q->vx = q->vy = 0.0f;
        moveParticle(p);
        if (step < 3) {
            EXPECT_EQ(p->body, nullptr) << "step " << step;
            EXPECT_EQ(p->holdOff, 3 - step);
            EXPECT_NE(q->vx, 0.0f) << "they exchanged momentum";
        }
    }
    EXPECT_EQ(p->body, body);
    EXPECT_EQ(body->memberCount, 3);
    // Joined one unit back along the step, in its own cell, velocity untouched.
    EXPECT_FLOAT_EQ(p->x, 50.5f);
    EXPECT_EQ(sim.grid[p->cell], p);
    EXPECT_FLOAT_EQ(p->vx, 1.0f);
}

TEST_F(Motion, FreeMemberNeverJoinsByContact) {
    Particle* q = place(1, 51.5f, 50.5f);
    place(2, 52.5f, 50.5f);
    makeBody({1, 2});
    Particle* p = place(0, 50.5f, 50.5f, 1.0f, 0.0f);
    p->holdOff = -1;
    moveParticle(p);
    EXPECT_EQ(p->body, nullptr);
    EXPECT_EQ(p->holdOff, -1) << "never counted down";
    EXPECT_NE(q->vx, 0.0f) << "it bounced instead";
}

TEST_F(Motion, OwnCellKeepsGridEntryAndGainsAcceleration) {
    Particle* p = place(0, 50.2f, 50.2f, 0.3f, 0.2f);
    p->ax = 0.1f;
    p->ay = -0.05f;
    const int32_t cell = p->cell;
    moveParticle(p);
    EXPECT_EQ(p->cell, cell);
    EXPECT_EQ(sim.grid[cell], p);
    EXPECT_FLOAT_EQ(p->vx, 0.4f);
    EXPECT_FLOAT_EQ(p->vy, 0.15f);
    EXPECT_FLOAT_EQ(p->x, 50.2f + (0.3f + 0.1f));
    EXPECT_FLOAT_EQ(p->y, 50.2f + (0.2f - 0.05f));

    // Into an empty cell: the old cell is cleared, the new one claimed.
    p->vx = 2.0f;
    p->vy = 0.0f;
    p->ax = p->ay = 0.0f;
    moveParticle(p);
    EXPECT_EQ(sim.grid[cell], nullptr);
    EXPECT_EQ(sim.grid[p->cell], p);
    EXPECT_EQ(p->cell, cellIndexOf(p->x, p->y));
}

TEST_F(Motion, FreeNeighbourBouncesWithoutAcceleration) {
    Particle* q = place(1, 51.5f, 50.5f, 0.0f, 0.0f);
    Particle* p = place(0, 50.5f, 50.5f, 1.0f, 0.0f);
    p->ax = 0.25f;
    Particle pc = *p, qc = *q;
    bounceParticles(&pc, &qc);
    moveParticle(p);
    EXPECT_EQ(p->body, nullptr);
    EXPECT_FLOAT_EQ(p->vx, pc.vx) << "the bounce alone sets the velocity";
    EXPECT_FLOAT_EQ(p->vy, pc.vy);
    EXPECT_FLOAT_EQ(p->x, 50.5f + pc.vx + 0.25f);
    EXPECT_EQ(sim.grid[q->cell], q) << "the occupant keeps its cell";
}

TEST_F(Motion, NoBodiesStraightLinesThatWrap) {
    Particle* p = place(0, float(sim.worldWidth) - 0.5f, 10.5f, 1.0f, 0.0f);
    Particle* r = place(1, 20.5f, 20.5f, 0.0f, 2.0f);
    gatherAcceleration(r);
    EXPECT_EQ(r->ax, 0.0f);
    EXPECT_EQ(r->ay, 0.0f);
    moveParticle(r);
    EXPECT_FLOAT_EQ(r->y, 22.5f);
    moveParticle(p);
    EXPECT_FLOAT_EQ(p->x, float(sim.worldWidth) + 0.5f - float(sim.wrapWidth));
    EXPECT_EQ(sim.grid[p->cell], p);
}

TEST_F(Motion, HeavyBodyAtThousandPixelsPullsWithGTimesSpeed) {
    startWorld(3000, 200);
    makeParticles(4);
    setSpeed(0.5f);
    Body* b = newBody();
    b->centroid = {1500.5f, 50.0f};
    b->mass = 4000000.0f;
    b->memberCount = 30;
    Particle* p = place(0, 500.5f, 50.0f);
    sim.bodySnapshot = bodyList();
    gatherAcceleration(p);
    EXPECT_FLOAT_EQ(p->ax, sim.gravityStrength * 0.5f);
    EXPECT_FLOAT_EQ(p->ay, 0.0f);
}

TEST_F(Motion, BodyLimitFollowsTheLastPassCount) {
    sim.processedCount = 0;
    attractBodies();
    EXPECT_EQ(sim.bodyLimit, 1);
    EXPECT_EQ(sim.sparseFlag, 1);
    sim.processedCount = 60;  // of 64 particles
    attractBodies();
    EXPECT_EQ(sim.bodyLimit, 133);
    EXPECT_EQ(sim.sparseFlag, 0);

    // With bodyLimit 1 only the first body of the list pulls.
    Body* first = newBody();
    first->centroid = {120.0f, 50.0f};
    first->mass = 1.0e6f;
    first->memberCount = 40;
    Body* second = newBody();
    second->centroid = {60.0f, 50.0f};
    second->mass = 1.0e6f;
    second->memberCount = 40;
    Particle* p = place(0, 100.5f, 50.0f);
    sim.processedCount = 9000;
    attractBodies();
    EXPECT_EQ(sim.bodyLimit, 1);
    gatherAcceleration(p);
    EXPECT_GT(p->ax, 0.0f) << "pulled right, toward the first body only";
    sim.bodyLimit = 2;
    const float onlyFirst = p->ax;
    gatherAcceleration(p);
    EXPECT_LT(p->ax, onlyFirst);

    // The bodies pulled each other, equal masses equally and oppositely.
    EXPECT_LT(first->velocity.x, 0.0f);
    EXPECT_FLOAT_EQ(first->velocity.x, -second->velocity.x);
}

}  // namespace
}  // namespace gx::testing

namespace gx::testing {
namespace {

// The four-at-a-time attraction must give every body the velocity the pair-by-pair walk
// gives, bit for bit: near and far (wrapping) pairs, coincident centroids, zero masses,
// centroids off the world and non-finite ones that take the scalar rule.
class AttractionPaths : public WorldTest {
protected:
    void SetUp() override { startWorld(1280, 720); }
};

TEST_F(AttractionPaths, ColumnsMatchTheLinksBitForBit) {
    uint32_t seed = 12345;
    auto next = [&seed]() {
        seed = seed * 1664525u + 1013904223u;
        return float(seed >> 8) / float(1u << 24);
    };
    for (int scene = 0; scene < 40; ++scene) {
        resetBodies();
        const int n = 1 + scene * 3;
        for (int k = 0; k < n; ++k) {
            Body* b = newBody();
            b->centroid = {next() * 1279.0f, next() * 719.0f};
            b->mass = next() < 0.1f ? 0.0f : next() * 5.0e5f;
            b->velocity = {next() - 0.5f, next() - 0.5f};
            b->memberCount = 30;
        }
        // Special pairs in some scenes: a twin centroid, one far off the world, a NaN.
        BodyNode* node = bodyList();
        if (scene % 4 == 1 && n > 2) node->next->body->centroid = node->body->centroid;
        if (scene % 4 == 2 && n > 3) node->next->next->body->centroid.x = 5000.0f;
        if (scene % 4 == 3 && n > 5) node->next->next->body->centroid.y = NAN;

        std::vector<Vec2> before;
        for (BodyNode* m = bodyList(); m; m = m->next) before.push_back(m->body->velocity);
        attractPairsByLinks(sim.gravityStrength);
        std::vector<Vec2> byLinks;
        size_t k = 0;
        for (BodyNode* m = bodyList(); m; m = m->next, ++k) {
            byLinks.push_back(m->body->velocity);
            m->body->velocity = before[k];
        }
        ASSERT_TRUE(attractPairsByColumns(sim.gravityStrength));
        k = 0;
        for (BodyNode* m = bodyList(); m; m = m->next, ++k) {
            const Vec2 v = m->body->velocity;
            EXPECT_EQ(std::memcmp(&v, &byLinks[k], sizeof v), 0)
                << "scene " << scene << " body " << k << ": " << v.x << "," << v.y << " vs "
                << byLinks[k].x << "," << byLinks[k].y;
        }
    }
}

}  // namespace
}  // namespace gx::testing
