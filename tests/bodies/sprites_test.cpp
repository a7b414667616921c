#include <gtest/gtest.h>

#include <cmath>

#include "support/render_fixture.h"

namespace gx::testing {
namespace {

TEST_F(SpritesTest, AttachingPrunesEnlargesAndStampsTheMembers) {
    makeParticles(8);
    for (uint32_t i = 0; i < 5; ++i) {
        sim.particles[i].x = 100.0f + float(i);
        sim.particles[i].y = 75.0f;
    }
    sim.particles[3].holdOff = -1;  // a free member leaves
    sim.particles[4].x = 112.0f;    // beyond the radius: leaves
    sim.particles[2].x = 100.0f;    // same pixel as member 0: waits on the extra list
    Body* b = makeBody(100.0f, 75.0f, 10.0f, 0, 5);
    BodyNode* node = nodeOfBody(b);
    ASSERT_NE(node, nullptr);
    attachSprite(node);

    BodySprite* s = b->group;
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->body, b);
    EXPECT_FLOAT_EQ(b->radius, 40.0f);
    EXPECT_EQ(sim.particles[3].body, nullptr);
    EXPECT_EQ(sim.particles[4].body, nullptr);
    EXPECT_EQ(members(b), (std::vector<Particle*>{&sim.particles[0], &sim.particles[1]}));
    EXPECT_EQ(b->memberCount, 2);
    EXPECT_EQ(b->tail, &sim.particles[1]);
    EXPECT_EQ(extras(s), std::vector<Particle*>{&sim.particles[2]});
    EXPECT_EQ(s->extraCount, 1);
    EXPECT_EQ(sim.particles[2].body, b);
    for (int i : {0, 1, 2}) {
        EXPECT_EQ(sim.particles[i].links().listId, kOnSpriteList) << i;
        EXPECT_EQ(sim.particles[i].cell, -1) << i;
    }
    const int c = s->width / 2;
    EXPECT_EQ(texel(s, c, c), sim.particles[0].colour);
    EXPECT_EQ(texel(s, c + 1, c), sim.particles[1].colour);
    EXPECT_EQ(setTexelCount(s), 2);
    EXPECT_EQ(s->settledRadius, 1);
    EXPECT_FLOAT_EQ(s->reach, 40.0f);

    // A body already near the limit stops at 797.
    Body* big = packedBody(100.0f, 75.0f, 780.0f, 5, 3);
    attachSprite(nodeOfBody(big));
    EXPECT_FLOAT_EQ(big->radius, 797.0f);
    ASSERT_NE(big->group, nullptr);
    EXPECT_EQ(big->group->width, 1599);
}

TEST_F(SpritesTest, FreedSpritesMoveBehindTheAttachedOnes) {
    makeParticles(12);
    Body* a = packedBody(40.0f, 40.0f, 8.0f, 0, 3);
    Body* b = packedBody(100.0f, 40.0f, 8.0f, 3, 3);
    Body* c = packedBody(160.0f, 40.0f, 8.0f, 6, 3);
    attachSprite(nodeOfBody(a));
    attachSprite(nodeOfBody(b));
    attachSprite(nodeOfBody(c));
    BodySprite *sa = a->group, *sb = b->group, *sc = c->group;
    ASSERT_TRUE(sa && sb && sc);
    EXPECT_EQ(listOrder(), (std::vector<BodySprite*>{sc, sb, sa}));

    detachSprite(sb);  // in the middle: goes behind the last attached one
    EXPECT_EQ(b->group, nullptr);
    EXPECT_EQ(sb->body, nullptr);
    EXPECT_EQ(listOrder(), (std::vector<BodySprite*>{sc, sa, sb}));
    detachSprite(sc);  // goes in front of the first free one
    EXPECT_EQ(listOrder(), (std::vector<BodySprite*>{sa, sc, sb}));
    detachSprite(sa);  // already followed by a free sprite: stays
    EXPECT_EQ(listOrder(), (std::vector<BodySprite*>{sa, sc, sb}));
    EXPECT_EQ(firstAttachedSprite(), nullptr);

    // The first free sprite is reused with its slot and texture.
    gfx::TexturePtr kept = sa->slot->texture;
    Body* d = packedBody(100.0f, 100.0f, 8.0f, 9, 3);
    attachSprite(nodeOfBody(d));
    EXPECT_EQ(d->group, sa);
    EXPECT_EQ(sa->slot->texture, kept);
    EXPECT_EQ(firstAttachedSprite(), sa);
    EXPECT_EQ(nextAttachedSprite(sa), nullptr);
}

}  // namespace
}  // namespace gx::testing
