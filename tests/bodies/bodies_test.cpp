// Bodies: measuring across the wrap edge, motion, sorting, pulling, regrouping, the
// sprite threshold, shrinking to one member and dissolving.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "bodies/bodies.h"
#include "support/builders.h"
#include "universe/membership.h"
#include "universe/world.h"

namespace gx {
namespace {

std::vector<BodyNode*> handedOver;
void recordHandOver(BodyNode* node) { handedOver.push_back(node); }

class BodiesTest : public ::testing::Test {
protected:
    void SetUp() override {
        handedOver.clear();
        restart(1280, 721);  // wrapWidth 1279, halfWidth 639
    }
    void TearDown() override { resetSimulation(); }
    // A clean state with a world of w x h, hand-overs recorded.
    void restart(int32_t w, int32_t h) {
        resetSimulation();
        resetBodies();
        setSpriteAttachHook(recordHandOver);
        ASSERT_TRUE(initWorldSized(w, h));
    }
    void makeParticles(uint32_t n) { ASSERT_TRUE(gxtest::makeParticles(n)); }
    static void place(Particle* p, float x, float y) {
        p->x = x;
        p->y = y;
        refileInGrid(p);
    }
    // A body over the given particles, linked in order; centroid and radius as given.
    static Body* bodyOf(const std::vector<Particle*>& members, Vec2 centroid, float radius) {
        Body* b = gxtest::bodyOver(members);
        b->centroid = centroid;
        b->radius = radius;
        return b;
    }
    static std::vector<Body*> order() {
        std::vector<Body*> out;
        for (BodyNode* n = bodyList(); n; n = n->next) out.push_back(n->body);
        return out;
    }
};

TEST_F(BodiesTest, MemberAcrossTheWrapEdgeMeasuresSmall) {
    makeParticles(2);
    Particle *right = &sim.particles[0], *left = &sim.particles[1];
    place(right, 1277.5f, 50.0f);
    place(left, 2.0f, 50.0f);
    Body* b = bodyOf({right, left}, {1.0f, 50.0f}, 2.0f);
    measureMember(right);
    EXPECT_FLOAT_EQ(right->polarRadius, 2.5f);
    EXPECT_FLOAT_EQ(right->polarAngle, -kPi / 2.0f);
    measureMember(left);
    EXPECT_FLOAT_EQ(left->polarRadius, 1.0f);

    // recentreFull writes the wrapped position back and centres between them.
    recentreFull(b);
    EXPECT_EQ(right->x, 1277.5f - 1279.0f);
    EXPECT_FLOAT_EQ(b->centroid.x, (-1.5f + 2.0f) * 0.5f);
    EXPECT_EQ(b->radius, 2.0f);
}

TEST_F(BodiesTest, NewPairIsMeasuredAtRadiusTwo) {
    makeParticles(2);
    Particle *q = &sim.particles[0], *p = &sim.particles[1];
    place(q, 100.0f, 100.0f);
    place(p, 101.0f, 100.0f);
    q->vx = 2.0f;
    q->mass = 100.0f;
    p->vx = -1.0f;
    p->mass = 300.0f;
    pairParticles(q, p);
    ASSERT_NE(q->body, nullptr);
    Body* b = q->body;
    EXPECT_EQ(p->body, b);
    EXPECT_EQ(b->radius, 2.0f);
    EXPECT_EQ(b->head, q);
    EXPECT_EQ(b->tail, p);
    EXPECT_EQ(b->memberCount, 2);
    EXPECT_FLOAT_EQ(b->centroid.x, 100.5f);
    EXPECT_FLOAT_EQ(b->velocity.x, (100.0f * 2.0f - 300.0f) / 400.0f);
    EXPECT_EQ(b->mass, 400.0f);
    EXPECT_FLOAT_EQ(q->polarRadius, 0.5f);
    EXPECT_EQ(bodyList()->body, b);
}

TEST_F(BodiesTest, AdvanceWrapsCentroidByWidthLessOne) {
    makeParticles(2);
    place(&sim.particles[0], 0.0f, 100.0f);
    place(&sim.particles[1], 1.0f, 100.0f);
    Body* b = bodyOf({&sim.particles[0], &sim.particles[1]}, {0.5f, 100.0f}, 2.0f);
    b->velocity = {-1.0f, 0.0f};
    advanceBodies();
    EXPECT_EQ(b->centroid.x, 1278.5f);
    EXPECT_EQ(b->centroid.y, 100.0f);
    // Bound members keep their offsets around the moved centroid.
    EXPECT_FLOAT_EQ(sim.particles[0].x, 1278.0f);
    EXPECT_FLOAT_EQ(sim.particles[1].x, 1279.0f);
    EXPECT_EQ(b->sortKey, 2);
    EXPECT_EQ(b->looseCount, 0);
}

TEST_F(BodiesTest, AdvanceTurnsBoundMembersBySpin) {
    makeParticles(2);
    place(&sim.particles[0], 110.0f, 100.0f);
    place(&sim.particles[1], 90.0f, 100.0f);
    Body* b = bodyOf({&sim.particles[0], &sim.particles[1]}, {100.0f, 100.0f}, 10.0f);
    b->spin = 10.0f * (kPi / 2.0f);  // a quarter turn per frame at radius 10
    advanceBodies();
    EXPECT_NEAR(sim.particles[0].x, 100.0f, 1e-4f);
    EXPECT_NEAR(sim.particles[0].y, 90.0f, 1e-4f);
    EXPECT_NEAR(sim.particles[1].y, 110.0f, 1e-4f);
    EXPECT_EQ(b->radius, 10.0f);
    EXPECT_EQ(b->looseCount, 2) << "members at the rim count as loose";
}

TEST_F(BodiesTest, SortIsDescendingAndKeepsEqualKeysInOrder) {
    Body* a = newBody();
    Body* b = newBody();
    Body* c = newBody();
    Body* d = newBody();
    a->sortKey = 3;
    b->sortKey = 5;
    c->sortKey = 5;
    d->sortKey = 1;
    sortBodies();
    EXPECT_EQ(order(), (std::vector<Body*>{b, c, a, d}));
    Body* e = newBody();  // the list's end is still known after sorting
    EXPECT_EQ(order().back(), e);
    for (BodyNode* n = bodyList(); n && n->next; n = n->next) EXPECT_EQ(n->next->prev, n);

    unlinkNode(nodeOfBody(c));
    EXPECT_EQ(order(), (std::vector<Body*>{b, a, d, e}));
    BodyNode* head = bodyList();
    unlinkNode(head);
    EXPECT_EQ(bodyList()->body, a);
    EXPECT_FALSE(nodeLinked(head));
    unlinkNode(head);  // twice: harmless
    EXPECT_EQ(bodyCount(), 3u);
}

TEST_F(BodiesTest, PullFallsBackToSingleAxisSteps) {
    makeParticles(4);
    Particle *m = &sim.particles[0], *other = &sim.particles[1], *diag = &sim.particles[2],
             *xOnly = &sim.particles[3];
    place(m, 5.5f, 5.5f);
    place(other, 20.0f, 20.0f);
    Body* b = bodyOf({m, other}, {10.5f, 10.5f}, 10.0f);
    place(diag, 6.5f, 6.5f);  // blocks the diagonal step
    pullMembers();
    EXPECT_FLOAT_EQ(m->x, 5.5f + std::sqrt(0.5f));
    EXPECT_EQ(m->y, 5.5f);
    EXPECT_EQ(sim.grid[m->cell], m);
    EXPECT_EQ(sim.grid[cellIndexOf(5.5f, 5.5f)], nullptr) << "the old cell is given up";

    // Now block the x step as well: the member moves along y alone.
    place(m, 5.5f, 5.5f);
    place(xOnly, 6.5f, 5.5f);
    pullMembers();
    EXPECT_EQ(m->x, 5.5f);
    EXPECT_FLOAT_EQ(m->y, 5.5f + std::sqrt(0.5f));

    // All three blocked: it stays; a free member is never pulled.
    place(m, 5.5f, 5.5f);
    place(other, 5.5f, 6.5f);
    pullMembers();
    EXPECT_EQ(m->x, 5.5f);
    EXPECT_EQ(m->y, 5.5f);
    other->holdOff = -1;
    place(other, 30.0f, 30.0f);
    pullMembers();
    EXPECT_EQ(other->x, 30.0f);
    (void)b;
}

TEST_F(BodiesTest, ClumpScanPeriodFollowsSpeed) {
    makeParticles(20);
    setSpeed(1.0f);
    clumpScan(8, 20);  // frame 0: empty world
    for (uint32_t i = 0; i < 20; ++i) place(&sim.particles[i], float(i % 8), float(i / 8));
    clumpScan(8, 20);
    EXPECT_EQ(bodyCount(), 1u) << "speed 1.0 scans every frame";

    resetBodies();
    for (uint32_t i = 0; i < 20; ++i) {
        sim.particles[i] = Particle{};
        sim.particles[i].links().memberSelf = &sim.particles[i];
        sim.particles[i].cell = -1;
        sim.particles[i].mass = 200.0f;
    }
    restart(1280, 721);
    makeParticles(20);
    setSpeed(0.1f);
    clumpScan(8, 20);  // frame 0 scans the empty world
    for (uint32_t i = 0; i < 20; ++i) place(&sim.particles[i], float(i % 8), float(i / 8));
    for (int f = 1; f < 10; ++f) {
        clumpScan(8, 20);
        ASSERT_EQ(bodyList(), nullptr) << "frame " << f;
    }
    clumpScan(8, 20);  // frame 10
    EXPECT_EQ(bodyCount(), 1u);
    EXPECT_EQ(clumpFrameCounter(), 11u);
    resetBodies();
    EXPECT_EQ(clumpFrameCounter(), 0u);
}

TEST_F(BodiesTest, ClumpScanNeedsTwentyAndGathersTheWholeTile) {
    makeParticles(26);
    // 19 in the first tile, plus one just outside it.
    for (uint32_t i = 0; i < 19; ++i) place(&sim.particles[i], float(i % 8), float(i / 8));
    place(&sim.particles[19], 8.0f, 0.0f);
    clumpScan(8, 20);
    EXPECT_EQ(bodyList(), nullptr);

    // 25 inside (one beyond the twentieth and more), plus the outsider in the next tile.
    for (uint32_t i = 20; i < 26; ++i) place(&sim.particles[i], float(i % 8), float(i / 8));
    clumpScan(8, 20);
    ASSERT_EQ(bodyCount(), 1u);
    Body* b = bodyList()->body;
    EXPECT_EQ(b->memberCount, 25);
    EXPECT_EQ(sim.particles[19].body, nullptr);
    int linked = 0;
    for (Particle* m = b->head; m; m = m->memberNext) ++linked;
    EXPECT_EQ(linked, 25);
    // The seed is the first particle in column-major order: (0, 0).
    EXPECT_EQ(b->head, &sim.particles[8])
        << "paired first: the second particle found, then the seed";
    EXPECT_EQ(sim.particles[0].body, b);
}

TEST_F(BodiesTest, ClumpScanCoversANarrowLastTile) {
    restart(37, 20);  // 37 = 4 * 8 + 5, wrapHeight 19 = 2 * 8 + 3
    makeParticles(15);
    for (uint32_t i = 0; i < 15; ++i)
        place(&sim.particles[i], 32.0f + float(i % 5), 16.0f + float(i / 5));
    clumpScan(8, 15);
    ASSERT_EQ(bodyCount(), 1u);
    EXPECT_EQ(bodyList()->body->memberCount, 15);
}

TEST_F(BodiesTest, SpriteHandOverNeedsMoreThanFiveHundredBoundMembers) {
    for (int extra = 0; extra <= 1; ++extra) {
        SCOPED_TRACE(extra);
        handedOver.clear();
        restart(1280, 721);
        // 505 + extra members, five of them free members that stay inside.
        const uint32_t n = 505 + uint32_t(extra);
        makeParticles(n);
        std::vector<Particle*> members;
        for (uint32_t i = 0; i < n; ++i) {
            place(&sim.particles[i], 300.0f + float(i % 30), 300.0f + float(i / 30));
            members.push_back(&sim.particles[i]);
        }
        for (uint32_t i = 0; i < 5; ++i) sim.particles[i * 40].holdOff = -1;
        Body* b = bodyOf(members, {315.0f, 308.0f}, 100.0f);
        b->radiusHold = 3;  // keeps the radius at 100: no bound member counts as loose
        advanceBodies();
        EXPECT_EQ(b->looseCount, 5);
        EXPECT_EQ(b->memberCount - b->looseCount, 500 + extra);
        EXPECT_EQ(handedOver.size(), size_t(extra));
        if (extra) {
            EXPECT_EQ(handedOver[0]->body, b);
        }
        EXPECT_EQ(b->radiusHold, 2);
        EXPECT_EQ(b->radius, 100.0f);
    }
}

TEST_F(BodiesTest, FreeMemberBindsWhereItsNextCellHoldsABoundMember) {
    makeParticles(3);
    Particle *bound = &sim.particles[0], *centre = &sim.particles[1], *freeM = &sim.particles[2];
    place(bound, 104.2f, 100.2f);
    place(centre, 98.0f, 100.0f);
    place(freeM, 103.5f, 100.5f);
    Body* b = bodyOf({bound, centre, freeM}, {100.0f, 100.0f}, 10.0f);
    freeM->holdOff = -1;
    freeM->vx = 1.0f;
    advanceBodies();
    EXPECT_EQ(freeM->holdOff, 0);
    EXPECT_FLOAT_EQ(freeM->x, 103.5f) << "placed on its circle, not moved by its velocity";
    EXPECT_EQ(b->looseCount, 0);

    // With nobody ahead it keeps falling: velocity gains the acceleration first.
    place(bound, 120.0f, 130.0f);
    bound->holdOff = -1;  // far outside: leaves the body
    freeM->holdOff = -1;
    freeM->ax = 0.5f;
    advanceBodies();
    EXPECT_EQ(bound->body, nullptr);
    EXPECT_EQ(freeM->vx, 1.5f);
    EXPECT_FLOAT_EQ(freeM->x, 105.0f);
    EXPECT_EQ(b->looseCount, 1);
    EXPECT_EQ(b->memberCount, 2);
    EXPECT_EQ(sim.grid[freeM->cell], freeM);
}

TEST_F(BodiesTest, FreeMemberLeavingDropsTheBodyToNothing) {
    makeParticles(2);
    Particle *stay = &sim.particles[0], *leave = &sim.particles[1];
    place(stay, 100.0f, 100.0f);
    place(leave, 104.0f, 100.0f);
    Body* b = bodyOf({stay, leave}, {101.0f, 100.0f}, 2.0f);
    leave->holdOff = -1;
    leave->vx = 1.0f;
    advanceBodies();
    EXPECT_EQ(bodyList(), nullptr);
    EXPECT_EQ(b->memberCount, 0);
    for (Particle* p : {stay, leave}) {
        EXPECT_EQ(p->body, nullptr);
        EXPECT_EQ(p->memberNext, nullptr);
        EXPECT_EQ(p->holdOff, 0);
        EXPECT_EQ(sim.grid[p->cell], p);
    }
}

TEST_F(BodiesTest, RemovingOneOfManyKeepsTheListConsistent) {
    makeParticles(4);
    std::vector<Particle*> ms;
    for (uint32_t i = 0; i < 4; ++i) {
        place(&sim.particles[i], 50.0f + float(i), 50.0f);
        ms.push_back(&sim.particles[i]);
    }
    Body* b = bodyOf(ms, {51.5f, 50.0f}, 3.0f);
    BodyNode* node = nodeOfBody(b);
    EXPECT_TRUE(removeMember(ms[3], node, ms[2]));  // the tail
    EXPECT_EQ(b->tail, ms[2]);
    EXPECT_EQ(ms[2]->memberNext, nullptr);
    EXPECT_TRUE(removeMember(ms[0], node, nullptr));  // the head
    EXPECT_EQ(b->head, ms[1]);
    EXPECT_EQ(b->memberCount, 2);
    EXPECT_FALSE(removeMember(ms[1], node, nullptr));
    EXPECT_EQ(bodyList(), nullptr);
    EXPECT_EQ(ms[2]->body, nullptr);
}

TEST_F(BodiesTest, DissolveSendsMembersAlongTheirOrbit) {
    makeParticles(3);
    place(&sim.particles[0], 110.0f, 100.0f);
    place(&sim.particles[1], 100.0f, 105.0f);
    place(&sim.particles[2], 95.0f, 100.0f);
    Body* b =
        bodyOf({&sim.particles[0], &sim.particles[1], &sim.particles[2]}, {100.0f, 100.0f}, 10.0f);
    b->velocity = {0.5f, -0.25f};
    b->spin = 1.0f;  // angular velocity 0.1 rad at radius 10
    BodyNode* node = nodeOfBody(b);
    EXPECT_EQ(dissolveBody(node, 7), node);
    EXPECT_FALSE(nodeLinked(node));
    EXPECT_EQ(bodyList(), nullptr);
    const double w = 0.1;
    for (uint32_t i = 0; i < 3; ++i) {
        Particle* p = &sim.particles[i];
        const double dx = p->x - 100.0, dy = p->y - 100.0;
        const double r = std::hypot(dx, dy), a = std::atan2(dx, dy) + w;
        const double ex = 0.5 + (100.0 + std::sin(a) * r - p->x);
        const double ey = -0.25 + (100.0 + std::cos(a) * r - p->y);
        EXPECT_NEAR(p->vx, ex, 1e-4) << i;
        EXPECT_NEAR(p->vy, ey, 1e-4) << i;
        EXPECT_EQ(p->holdOff, 7);
        EXPECT_EQ(p->body, nullptr);
        EXPECT_EQ(p->memberNext, nullptr);
        EXPECT_EQ(sim.grid[p->cell], p);
    }
    // The member on +x turning by +w about the (sin, cos) convention moves toward -y.
    EXPECT_LT(sim.particles[0].vy, -0.25f);
}

TEST_F(BodiesTest, AbsorbAndRecentreAcrossTheEdge) {
    makeParticles(4);
    place(&sim.particles[0], 5.0f, 40.0f);
    place(&sim.particles[1], 5.0f, 42.0f);
    place(&sim.particles[2], 1275.0f, 40.0f);
    place(&sim.particles[3], 1275.0f, 42.0f);
    Body* a = bodyOf({&sim.particles[0], &sim.particles[1]}, {5.0f, 41.0f}, 2.0f);
    Body* b = bodyOf({&sim.particles[2], &sim.particles[3]}, {1275.0f, 41.0f}, 2.0f);
    absorbCentroid(a, b);
    EXPECT_EQ(a->dirty, 1);
    EXPECT_FLOAT_EQ(a->centroid.x, (5.0f * 2.0f + (1275.0f - 1279.0f) * 2.0f) / 4.0f);
    // The caller splices b's members onto a; they still name b until the recentre.
    a->tail->memberNext = b->head;
    a->tail = b->tail;
    a->memberCount += b->memberCount;
    unlinkNode(nodeOfBody(b));
    recentreDirtyBodies();
    EXPECT_EQ(a->dirty, 0);
    EXPECT_EQ(sim.particles[2].body, a);
    EXPECT_EQ(sim.particles[2].x, 1275.0f - 1279.0f);
    EXPECT_FLOAT_EQ(a->centroid.x, 0.5f);
}

TEST_F(BodiesTest, ClassifyAndTransferSpin) {
    makeParticles(3);
    Particle *seed = &sim.particles[0], *other = &sim.particles[1], *incoming = &sim.particles[2];
    place(seed, 200.0f, 200.0f);
    place(other, 201.0f, 200.0f);
    pairParticles(other, seed);
    Body* b = seed->body;
    ASSERT_NE(b, nullptr);

    // Inside the radius and moving outward: bound; moving inward: a free member.
    incoming->x = 201.5f;
    incoming->y = 200.0f;
    incoming->vx = 1.0f;
    attachToBodyUnmeasured(b, incoming);
    EXPECT_EQ(incoming->holdOff, 0);
    incoming->vx = -1.0f;
    classifyNewMember(incoming);
    EXPECT_EQ(incoming->holdOff, -1);
    EXPECT_EQ(b->memberCount, 3);
    EXPECT_EQ(b->tail, incoming);

    // Head-on arrival: no spin, the whole velocity comes back; a grazing one spins.
    Body* c = newBody();
    c->centroid = {500.0f, 500.0f};
    c->radius = 10.0f;
    c->mass = 1000.0f;
    Vec2 back = transferSpin(c, {490.0f, 500.0f}, {2.0f, 0.0f}, 100.0f);
    EXPECT_FLOAT_EQ(back.x, 2.0f);
    EXPECT_NEAR(c->spin, 0.0f, 1e-6f);
    back = transferSpin(c, {490.0f, 500.0f}, {0.0f, 2.0f}, 100.0f);
    EXPECT_NEAR(back.y, 0.0f, 1e-6f);
    EXPECT_NE(c->spin, 0.0f);
    EXPECT_FLOAT_EQ(c->angularVelocity, c->spin / 10.0f);
    c->mass = 0.0f;
    transferSpin(c, {490.0f, 500.0f}, {0.0f, 2.0f}, 100.0f);
    EXPECT_TRUE(std::isfinite(c->spin));
}

TEST_F(BodiesTest, PairJoinsACoveringBody) {
    makeParticles(4);
    place(&sim.particles[0], 50.0f, 50.0f);
    place(&sim.particles[1], 51.0f, 50.0f);
    Body* b = bodyOf({&sim.particles[0], &sim.particles[1]}, {50.5f, 50.0f}, 10.0f);
    place(&sim.particles[2], 53.0f, 50.0f);
    place(&sim.particles[3], 54.0f, 50.0f);
    pairParticles(&sim.particles[2], &sim.particles[3]);
    EXPECT_EQ(bodyCount(), 1u);
    EXPECT_EQ(b->memberCount, 4);
    EXPECT_EQ(b->tail, &sim.particles[3]);
    EXPECT_EQ(sim.particles[2].body, b);
    EXPECT_FLOAT_EQ(b->mass, 800.0f);
}

}  // namespace
}  // namespace gx
