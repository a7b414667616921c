#include <gtest/gtest.h>

#include <cmath>

#include "render_fixture.h"

namespace gx::testing {
namespace {

class SpritesTest : public RenderTest {
protected:
    // A sprite handed to body b without stamping (texture and quads only).
    BodySprite* spriteFor(Body* b) {
        BodySprite* s = nextSprite();
        EXPECT_NE(s, nullptr);
        s->body = b;
        b->group = s;
        return s;
    }

    // A body of n members packed around (cx, cy).
    Body* packedBody(float cx, float cy, float radius, uint32_t first, uint32_t n) {
        for (uint32_t i = first; i < first + n; ++i) {
            sim.particles[i].x = cx + float(int(i - first) % 5) - 2.0f;
            sim.particles[i].y = cy + float(int(i - first) / 5) - 1.0f;
        }
        return makeBody(cx, cy, radius, first, n);
    }

    std::vector<BodySprite*> listOrder() {
        std::vector<BodySprite*> out;
        for (SpriteListNode* n = sim.spriteState.list.head; n && out.size() < 100; n = n->next)
            out.push_back(n->owner);
        return out;
    }
};

TEST_F(SpritesTest, TextureSizeFollowsTheRadiusAndGrowsWithItsTexels) {
    makeParticles(1);
    Body* small = makeBody(100, 75, 10.0f, 0, 0);
    BodySprite* s = spriteFor(small);
    ASSERT_TRUE(createSpriteTexture(s, false));
    EXPECT_EQ(s->width, 40);
    EXPECT_EQ(s->height, 40);
    EXPECT_FLOAT_EQ(s->halfSide, 20.0f);
    EXPECT_FLOAT_EQ(s->centreX, 20.0f);
    EXPECT_NEAR(s->halfDiagonal, 40.0f / std::sqrt(2.0f), 1e-4);

    // A set texel keeps its place relative to the centre when the texture grows.
    setTexel(s, 23, 20, 0xFF112233u);
    gfx::TexturePtr before = s->slot->texture;
    small->radius = 30.0f;
    ASSERT_TRUE(createSpriteTexture(s, true));
    EXPECT_NE(s->slot->texture, before);
    EXPECT_EQ(s->width, 120);
    EXPECT_EQ(texel(s, 63, 60), 0xFF112233u);
    EXPECT_EQ(setTexelCount(s), 1);

    // A smaller need keeps the texture; without the copy flag the grown texture is empty.
    gfx::TexturePtr grown = s->slot->texture;
    small->radius = 5.0f;
    ASSERT_TRUE(createSpriteTexture(s, false));
    EXPECT_EQ(s->slot->texture, grown);
    small->radius = 60.0f;
    ASSERT_TRUE(createSpriteTexture(s, false));
    EXPECT_EQ(s->width, 240);
    EXPECT_EQ(setTexelCount(s), 0);

    Body* large = makeBody(100, 75, 400.0f, 0, 0);
    BodySprite* l = spriteFor(large);
    ASSERT_TRUE(createSpriteTexture(l, false));
    EXPECT_FLOAT_EQ(l->halfSide, 799.5f);
    EXPECT_EQ(l->width, 1599);
    EXPECT_EQ(l->height, 1599);
}

TEST_F(SpritesTest, QuadsTurnWithTheBodyAndWrapAcrossEdges) {
    makeParticles(1);
    // Crossing the right and the bottom edge: the body and three copies.
    Body* b = makeBody(190.0f, 140.0f, 20.0f, 0, 0);
    BodySprite* s = spriteFor(b);
    ASSERT_TRUE(createSpriteTexture(s, false));
    s->angle = 0.0f;
    s->halfDiagonal = 10.0f;
    ASSERT_TRUE(buildSpriteQuads(s));
    EXPECT_EQ(s->quadCount, 4);
    std::vector<ScreenVertex> v = slotVertices(s);
    const float h = 10.0f * std::sin(0.78539819f);
    EXPECT_NEAR(v[0].x, 190.0f - h, 1e-3);
    EXPECT_NEAR(v[0].y, 140.0f - h, 1e-3);
    EXPECT_NEAR(v[1].x, 190.0f + h, 1e-3);
    EXPECT_NEAR(v[1].y, 140.0f + h, 1e-3);
    EXPECT_NEAR(v[4].x, 190.0f + h, 1e-3);
    EXPECT_NEAR(v[4].y, 140.0f - h, 1e-3);
    EXPECT_EQ(v[4].u, 1.0f);
    EXPECT_EQ(v[4].v, 0.0f);
    EXPECT_EQ(v[0].colour, 0xFFFFFFFFu);
    const float W = float(sim.worldWidth), H = float(sim.wrapHeight);
    for (int k = 0; k < 6; ++k) {
        EXPECT_FLOAT_EQ(v[6 + k].x, v[k].x - W);
        EXPECT_FLOAT_EQ(v[6 + k].y, v[k].y);
        EXPECT_FLOAT_EQ(v[12 + k].x, v[k].x);
        EXPECT_FLOAT_EQ(v[12 + k].y, v[k].y - H);
        EXPECT_FLOAT_EQ(v[18 + k].x, v[k].x - W);
        EXPECT_FLOAT_EQ(v[18 + k].y, v[k].y - H);
    }

    // A quarter turn carries vertex 0 (u, v = 0, 0) to the lower left corner.
    s->angle = 1.5707964f;
    ASSERT_TRUE(buildSpriteQuads(s));
    v = slotVertices(s);
    EXPECT_NEAR(v[0].x, 190.0f - h, 1e-3);
    EXPECT_NEAR(v[0].y, 140.0f + h, 1e-3);

    // Left edge only: one copy moved by +W; the middle: no copy.
    b->centroid = {5.0f, 75.0f};
    ASSERT_TRUE(buildSpriteQuads(s));
    EXPECT_EQ(s->quadCount, 2);
    v = slotVertices(s);
    EXPECT_FLOAT_EQ(v[6].x, v[0].x + W);
    b->centroid = {100.0f, 75.0f};
    ASSERT_TRUE(buildSpriteQuads(s));
    EXPECT_EQ(s->quadCount, 1);
}

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

TEST_F(SpritesTest, PoolsHandOutSlotsInVertexOrder) {
    SpriteSlot* first = nextSlot();
    SpriteSlot* second = nextSlot();
    ASSERT_TRUE(first && second);
    EXPECT_EQ(second->firstVertex, first->firstVertex + 24);
    EXPECT_EQ(second->vertexBuffer, first->vertexBuffer);
    EXPECT_EQ(first->vertexBuffer->size(), 0xFFF00u);
    // The first pool block took 13,107 slots: the ninth sprite block is current.
    int blocks = 0;
    for (SpriteBlock* b = currentSpriteBlock(); b; b = b->next) ++blocks;
    EXPECT_EQ(blocks, 9);
    EXPECT_EQ(currentSpriteBlock()->usedSlots, 13107u - 8u * 1560u + 2u);
    freeSprites();
    EXPECT_EQ(currentSpriteBlock(), nullptr);
    EXPECT_EQ(sim.spriteState.pool, nullptr);
    EXPECT_EQ(sim.spriteState.list.head, nullptr);
}

TEST_F(SpritesTest, DeviceFailuresEndInTheErrorReport) {
    makeParticles(4);
    Body* b = makeBody(100.0f, 75.0f, 10.0f, 0, 0);
    BodySprite* s = spriteFor(b);
    device->injectFault(gfx::FaultOp::Create, gfx::FaultResource::Texture, 1);
    EXPECT_FALSE(createSpriteTexture(s, false));
    EXPECT_NE(report().find("\nInternal error - Failed to create texture2\n"), std::string::npos);
    EXPECT_EQ(getExitCode(), 1);
    ASSERT_EQ(boxes.size(), 1u);

    struct Case {
        gfx::FaultResource resource;
        int nth;
        bool copy;
        const char* message;
    };
    const Case cases[] = {
        {gfx::FaultResource::Texture, 2, true, "Internal error - Failed to create texture1"},
        {gfx::FaultResource::VertexBuffer, 1, false,
         "Internal error - Failed to lock texture buffer."},
        {gfx::FaultResource::VertexBuffer, 2, false,
         "Internal error - Failed to lock vertex buffer."},
    };
    for (const Case& c : cases) {
        resetErrorReport();
        std::filesystem::remove(home + "/error.log");
        device->clearFaults();
        b->radius = 10.0f;
        ASSERT_TRUE(createSpriteTexture(s, false));
        b->radius = c.copy ? 30.0f : 10.0f;
        s->halfSide = c.copy ? s->halfSide : 0.0f;  // grow without a copy
        device->injectFault(gfx::FaultOp::Lock, c.resource, c.nth);
        EXPECT_FALSE(createSpriteTexture(s, c.copy)) << c.message;
        EXPECT_NE(report().find(std::string("\n") + c.message + "\n"), std::string::npos)
            << c.message;
        EXPECT_NE(s->slot->texture, nullptr) << c.message;
    }

    // A sprite block whose vertex buffer cannot be made is reported and still used.
    resetErrorReport();
    device->clearFaults();
    device->injectFault(gfx::FaultOp::Create, gfx::FaultResource::VertexBuffer, 1);
    resetSprites();
    EXPECT_NE(report().find("\nInternal error - Failed to create all buffers.\n"),
              std::string::npos);
    ASSERT_NE(sim.spriteState.pool, nullptr);
    EXPECT_NE(nextSprite(), nullptr);
}

}  // namespace
}  // namespace gx::testing
