#include <gtest/gtest.h>

#include <cmath>

#include "support/render_fixture.h"

namespace gx::testing {
namespace {

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
