#include <gtest/gtest.h>

#include <cmath>

#include "support/render_fixture.h"

namespace gx::testing {
namespace {

class TexelsTest : public RenderTest {
protected:
    // A sprite of radius 10 (40 x 40 texture, centre 20) for body b with no texels.
    BodySprite* emptySprite(Body* b) {
        BodySprite* s = nextSprite();
        EXPECT_NE(s, nullptr);
        SpriteListNode* head = sim.spriteState.list.head;
        s->listNode.next = head;
        if (head) head->prev = &s->listNode;
        sim.spriteState.list.head = &s->listNode;
        s->body = b;
        b->group = s;
        s->angle = 0.0f;
        s->reach = b->radius;
        s->settledRadius = 1;
        EXPECT_TRUE(createSpriteTexture(s, false));
        clearTexels(s);
        return s;
    }

    static int code(int32_t i) {
        const RingPoint& pt = ringTables.ringPoints[i];
        return ringTables.directionCodes[pt.y * kRingSide + pt.x];
    }
};

constexpr int8_t kStep[11][2] = {{0, 0},  {1, 1},  {0, 1}, {-1, 1}, {-1, 0}, {-1, -1},
                                 {0, -1}, {1, -1}, {1, 0}, {1, 1},  {0, 1}};

TEST_F(TexelsTest, SettlingMovesATexelInwardOncePerPassAndABlockedOneSettlesForGood) {
    makeParticles(1);
    Body* b = makeBody(100.0f, 75.0f, 10.0f, 0, 0);
    BodySprite* s = emptySprite(b);
    sim.spriteState.markerFlag = false;
    const uint32_t m = kSpriteMarker[0], moved = kSpriteMarker[1];

    // A free texel on ring 6 takes its inward step and the other marker.
    const int32_t i = ringTables.ringStart[6];
    int32_t tx = 0, ty = 0;
    ringTexel(s, i, &tx, &ty);
    const int c = code(i);
    ASSERT_GE(c, 2);
    ASSERT_LE(c, 9);
    setTexel(s, tx, ty, m | 0x123456u);
    ASSERT_TRUE(settleSprite(s));
    EXPECT_EQ(texel(s, tx, ty), 0u);
    EXPECT_EQ(texel(s, tx - kStep[c][0], ty - kStep[c][1]), moved | 0x123456u);
    EXPECT_EQ(setTexelCount(s), 1);

    // Blocked on all three targets (which do not move themselves this pass).
    clearTexels(s);
    setTexel(s, tx, ty, m | 0xABCDEFu);
    for (int k : {c, c - 1, c + 1})
        setTexel(s, tx - kStep[k][0], ty - kStep[k][1], moved | 0x010101u);
    ASSERT_TRUE(settleSprite(s));
    EXPECT_EQ(texel(s, tx, ty), m | 0xABCDEFu);
    // Next frame the marker flips: even with its targets free it stays put.
    for (int k : {c, c - 1, c + 1}) setTexel(s, tx - kStep[k][0], ty - kStep[k][1], 0);
    sim.spriteState.markerFlag = true;
    s->settledRadius = 1;
    ASSERT_TRUE(settleSprite(s));
    EXPECT_EQ(texel(s, tx, ty), m | 0xABCDEFu);
}

TEST_F(TexelsTest, SettlingTracksTheFullDiscAndTheOuterRing) {
    makeParticles(1);
    Body* b = makeBody(100.0f, 75.0f, 10.0f, 0, 0);
    BodySprite* s = emptySprite(b);
    // Rings 1 to 3 full with settled texels, then one texel on ring 7.
    for (int32_t i = 0; i < ringTables.ringStart[4]; ++i) {
        int32_t tx = 0, ty = 0;
        ringTexel(s, i, &tx, &ty);
        setTexel(s, tx, ty, kSpriteMarker[1] | 0x0000FFu);
    }
    int32_t ox = 0, oy = 0;
    ringTexel(s, ringTables.ringStart[7], &ox, &oy);
    setTexel(s, ox, oy, kSpriteMarker[1] | 0x00FF00u);
    sim.spriteState.markerFlag = false;  // texels marked 0xFE do not move this pass
    b->radius = 12.0f;
    ASSERT_TRUE(settleSprite(s));
    EXPECT_EQ(s->settledRadius, 3);  // ringStart[3] lies below the first empty point
    EXPECT_FLOAT_EQ(b->radius, 8.0f);
    EXPECT_FLOAT_EQ(s->reach, 8.0f);
}

TEST_F(TexelsTest, HitTestStampsAtTheCurrentPosition) {
    makeParticles(8);
    Body* b = makeBody(100.0f, 75.0f, 10.0f, 0, 0);
    BodySprite* s = emptySprite(b);
    setTexel(s, 30, 20, kSpriteMarker[0] | 0x777777u);  // world (110, 75)
    ASSERT_TRUE(lockAllSprites());

    Particle* p = &sim.particles[0];
    p->x = 108.5f;
    p->y = 75.5f;
    refileInGrid(p);
    // Empty texel ahead: no hit, nothing changes.
    EXPECT_FALSE(particleHitsSprite(s, p, 109.5f, 75.5f));
    EXPECT_EQ(p->body, nullptr);
    EXPECT_EQ(p->links().listId, kOnLooseList);
    // Set texel ahead: stamped where it stands now.
    EXPECT_TRUE(particleHitsSprite(s, p, 110.5f, 75.5f));
    EXPECT_EQ(p->body, b);
    EXPECT_EQ(p->links().listId, kOnSpriteList);
    EXPECT_EQ(p->cell, -1);
    EXPECT_EQ(b->tail, p);
    EXPECT_EQ(b->memberCount, 1);

    // Ahead outside the texture counts as a hit when the particle itself is on it.
    Particle* q = &sim.particles[1];
    q->x = 100.5f;
    q->y = 94.5f;
    EXPECT_TRUE(particleHitsSprite(s, q, 100.5f, 140.0f));
    EXPECT_EQ(q->body, b);
    // Both outside: no hit, the particle goes on.
    Particle* r = &sim.particles[2];
    r->x = 160.0f;
    r->y = 75.0f;
    EXPECT_FALSE(particleHitsSprite(s, r, 161.0f, 75.0f));
    EXPECT_EQ(r->body, nullptr);
    // Standing on a taken texel: joins the extra list, not the member list.
    Particle* t = &sim.particles[3];
    t->x = 108.7f;
    t->y = 75.2f;
    EXPECT_TRUE(particleHitsSprite(s, t, 110.5f, 75.5f));
    EXPECT_EQ(t->body, b);
    EXPECT_EQ(extras(s), std::vector<Particle*>{t});
    EXPECT_EQ(b->memberCount, 2);
    EXPECT_EQ(b->tail, q);
    unlockAllSprites();
    EXPECT_EQ(texel(s, 28, 20), p->colour);
    EXPECT_EQ(s->lockedBits, nullptr);
}

TEST_F(TexelsTest, StampingNearTheRimWidensTheReach) {
    makeParticles(2);
    Body* b = makeBody(100.0f, 75.0f, 10.0f, 0, 0);
    BodySprite* s = emptySprite(b);
    ASSERT_TRUE(lockAllSprites());
    Particle* p = &sim.particles[0];
    p->x = 100.0f;
    p->y = 88.0f;  // distance 13 from the centre
    EXPECT_TRUE(stampParticle(s, p));
    EXPECT_FLOAT_EQ(s->reach, 16.0f);
    unlockAllSprites();
}

TEST_F(TexelsTest, ContactTestLooksAtTheOtherBodysNearestPoint) {
    makeParticles(1);
    Body* a = makeBody(100.0f, 75.0f, 10.0f, 0, 0);
    BodySprite* s = emptySprite(a);
    Body* other = makeBody(100.0f, 95.0f, 12.0f, 0, 0);
    setTexel(s, 20, 28, kSpriteMarker[0] | 0x111111u);  // world (100, 83): other's rim
    ASSERT_TRUE(lockAllSprites());
    EXPECT_TRUE(bodyTouchesSprite(s, other));
    other->radius = 10.0f;  // nearest point (100, 85): empty texel
    EXPECT_FALSE(bodyTouchesSprite(s, other));
    other->radius = 60.0f;  // beyond the texture
    EXPECT_FALSE(bodyTouchesSprite(s, other));
    unlockAllSprites();
}

TEST_F(TexelsTest, RecentringShiftsTowardsTheMassWithADeadZoneAndAClamp) {
    makeParticles(1);
    Body* b = makeBody(100.0f, 75.0f, 10.0f, 0, 0);
    BodySprite* s = emptySprite(b);

    // Offsets of 5 texels or less change nothing.
    setTexel(s, 20, 15, kSpriteMarker[0] | 0x222222u);
    ASSERT_TRUE(recentreSprite(s));
    EXPECT_EQ(texel(s, 20, 15), kSpriteMarker[0] | 0x222222u);
    EXPECT_FLOAT_EQ(b->radius, 10.0f);
    EXPECT_FLOAT_EQ(b->centroid.y, 75.0f);
    EXPECT_EQ(s->settledRadius, 1);

    // An offset of 15 on radius 10 is clamped to 9; the radius grows by 10 and the
    // texture with it (0.9 * 20 < 20), and the body moves so the picture stays.
    clearTexels(s);
    setTexel(s, 20, 5, kSpriteMarker[0] | 0x333333u);
    ASSERT_TRUE(recentreSprite(s));
    EXPECT_FLOAT_EQ(b->radius, 20.0f);
    EXPECT_EQ(s->width, 80);
    EXPECT_EQ(setTexelCount(s), 1);
    EXPECT_EQ(texel(s, 40, 34), kSpriteMarker[0] | 0x333333u);
    EXPECT_NEAR(b->centroid.x, 100.0f, 1e-4);
    EXPECT_NEAR(b->centroid.y, 66.0f, 1e-4);
    EXPECT_EQ(s->settledRadius, 0);

    // No set texel: nothing happens.
    clearTexels(s);
    ASSERT_TRUE(recentreSprite(s));
    EXPECT_FLOAT_EQ(b->radius, 20.0f);
}

TEST_F(TexelsTest, RecentringNeverOverwritesATexel) {
    makeParticles(1);
    Body* b = makeBody(100.0f, 75.0f, 19.0f, 0, 0);
    BodySprite* s = emptySprite(b);
    ASSERT_EQ(s->width, 76);
    const int c = s->width / 2;
    // A column above the centre makes the mass (shift 11 down); two texels far below,
    // outside the counted rings, cannot move: one would leave the texture, and the
    // other would land on it.
    for (int y = c - 14; y <= c - 8; ++y) setTexel(s, c, y, kSpriteMarker[0] | uint32_t(y));
    setTexel(s, c, 70, kSpriteMarker[0] | 0x7070u);
    setTexel(s, c, 59, kSpriteMarker[0] | 0x5959u);
    ASSERT_TRUE(recentreSprite(s));
    EXPECT_EQ(setTexelCount(s), 9);
    for (int y = c - 14; y <= c - 8; ++y)
        EXPECT_EQ(texel(s, c, y + 11), kSpriteMarker[0] | uint32_t(y));
    EXPECT_EQ(texel(s, c, 70), kSpriteMarker[0] | 0x7070u);
    EXPECT_EQ(texel(s, c, 59), kSpriteMarker[0] | 0x5959u);
    EXPECT_FLOAT_EQ(b->radius, 31.0f);
}

TEST_F(TexelsTest, DissolvingPairsTexelsWithMembersAndPlacesTheRest) {
    makeParticles(6);
    Body* b = makeBody(100.0f, 75.0f, 10.0f, 0, 4);
    BodySprite* s = emptySprite(b);
    s->angle = 1.5707964f;  // a quarter turn
    s->settledRadius = 2;
    // Two texels: the ring walk meets (21, 20) (ring 1) before (20, 25) (ring 5).
    setTexel(s, 21, 20, kSpriteMarker[1] | 0x0000AAu);
    setTexel(s, 20, 25, kSpriteMarker[0] | 0x00BB00u);
    // Two particles waiting on the extra list.
    for (int i : {4, 5}) {
        sim.particles[i].body = b;
        sim.particles[i].memberNext = s->extraHead;
        s->extraHead = &sim.particles[i];
        if (!s->extraTail) s->extraTail = &sim.particles[i];
        s->extraCount += 1;
    }
    for (int i = 0; i < 6; ++i) moveToSpriteList(&sim.particles[i]);

    dissolveSprite(s);
    // First member: texel (21, 20), relative (1, 0), turned a quarter: (0, -1).
    EXPECT_EQ(sim.particles[0].colour, 0xFF0000AAu);
    EXPECT_NEAR(sim.particles[0].x, 100.0f, 1e-4);
    EXPECT_NEAR(sim.particles[0].y, 74.0f, 1e-4);
    EXPECT_FLOAT_EQ(sim.particles[0].polarRadius, 1.0f);
    EXPECT_NEAR(sim.particles[0].polarAngle, 3.1415927f, 1e-5);
    EXPECT_EQ(sim.particles[0].cell, 74 * sim.worldWidth + 100);
    EXPECT_EQ(sim.grid[74 * sim.worldWidth + 100], &sim.particles[0]);
    // Second member: texel (20, 25), relative (0, 5), turned: (5, 0).
    EXPECT_EQ(sim.particles[1].colour, 0xFF00BB00u);
    EXPECT_NEAR(sim.particles[1].x, 105.0f, 1e-4);
    EXPECT_NEAR(sim.particles[1].y, 75.0f, 1e-4);
    // Members 2 and 3 found no texel; then the extras: ring points 0, 1, ... of the
    // settled disc, starting again after ringStart[2] of them.
    const int32_t limit = ringTables.ringStart[2];
    ASSERT_GE(limit, 3);
    const Particle* placed[4] = {&sim.particles[2], &sim.particles[3], &sim.particles[5],
                                 &sim.particles[4]};
    for (int k = 0; k < 4; ++k) {
        const RingPoint& pt = ringTables.ringPoints[k % limit];
        EXPECT_FLOAT_EQ(placed[k]->x, 100.0f + float(pt.x - 800)) << k;
        EXPECT_FLOAT_EQ(placed[k]->y, 75.0f + float(pt.y - 800)) << k;
        EXPECT_EQ(placed[k]->polarRadius, 0.0f);
    }
    for (int i = 0; i < 6; ++i) EXPECT_EQ(sim.particles[i].links().listId, kOnLooseList) << i;
    EXPECT_EQ(members(b),
              (std::vector<Particle*>{&sim.particles[0], &sim.particles[1], &sim.particles[2],
                                      &sim.particles[3], &sim.particles[5], &sim.particles[4]}));
    EXPECT_EQ(b->memberCount, 6);
    EXPECT_EQ(b->tail, &sim.particles[4]);
    EXPECT_EQ(s->extraHead, nullptr);
    EXPECT_EQ(s->extraCount, 0);
}

TEST_F(TexelsTest, DissolvingMoreTexelsThanMembersDropsTheSurplus) {
    makeParticles(1);
    Body* b = makeBody(100.0f, 75.0f, 10.0f, 0, 1);
    BodySprite* s = emptySprite(b);
    setTexel(s, 20, 21, kSpriteMarker[0] | 0x0A0B0Cu);
    setTexel(s, 20, 23, kSpriteMarker[0] | 0x0D0E0Fu);
    setTexel(s, 20, 26, kSpriteMarker[0] | 0x010203u);
    moveToSpriteList(&sim.particles[0]);
    dissolveSprite(s);
    EXPECT_EQ(sim.particles[0].colour, 0xFF0A0B0Cu);
    EXPECT_EQ(members(b), std::vector<Particle*>{&sim.particles[0]});
    EXPECT_EQ(b->memberCount, 1);
    EXPECT_EQ(sim.particleCount, 1u);
}

TEST_F(TexelsTest, FrameUpdateTurnsGrowsAndCountsDown) {
    makeParticles(1);
    Body* b = makeBody(100.0f, 75.0f, 10.0f, 0, 0);
    BodySprite* s = emptySprite(b);
    setTexel(s, 20, 20, kSpriteMarker[0] | 0x444444u);
    b->angularVelocity = 0.5f;
    sim.speedFactor = 2.0f;
    s->angle = 2.5f;
    s->reach = 19.0f;  // differs from the radius: both take the larger
    s->settleCountdown = 3;
    const bool flag = sim.spriteState.markerFlag;
    updateAllSprites();
    EXPECT_NE(sim.spriteState.markerFlag, flag);
    EXPECT_NEAR(s->angle, 3.5f - 6.2831855f, 1e-5);
    EXPECT_EQ(s->settleCountdown, 2);
    EXPECT_EQ(s->width, 76);  // 19 > 0.9 * 20: grown with the copy
    EXPECT_EQ(setTexelCount(s), 1);
    sim.speedFactor = 1.0f;
}

TEST_F(TexelsTest, LockFailuresEndInTheErrorReport) {
    makeParticles(2);
    Body* b = makeBody(100.0f, 75.0f, 10.0f, 0, 1);
    BodySprite* s = emptySprite(b);
    struct Case {
        const char* message;
        std::function<bool()> run;
    };
    const Case cases[] = {
        {"Internal error - Failed to lock texture1.", [&] { return settleSprite(s); }},
        {"Internal error - Failed to lock texture2.", [&] { return recentreSprite(s); }},
        {"Internal error - Failed to initialise texture.", [&] { return initialStamp(s); }},
        {"Internal error - Failed to build texture.",
         [&] {
             dissolveSprite(s);
             return false;
         }},
    };
    for (const Case& c : cases) {
        resetErrorReport();
        frameworkResetForTests();
        boxes.clear();
        device->injectFault(gfx::FaultOp::Lock, gfx::FaultResource::Texture, 1);
        EXPECT_FALSE(c.run()) << c.message;
        EXPECT_NE(report().find(std::string("\n") + c.message + "\n"), std::string::npos)
            << c.message;
        EXPECT_EQ(boxes.size(), 1u) << c.message;
        EXPECT_EQ(getExitCode(), 1) << c.message;
        device->clearFaults();
    }
    device->injectFault(gfx::FaultOp::Lock, gfx::FaultResource::Texture, 1);
    EXPECT_FALSE(lockAllSprites());
    device->clearFaults();
}

}  // namespace
}  // namespace gx::testing
