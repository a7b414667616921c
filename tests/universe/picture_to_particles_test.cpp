#include <cmath>

#include "universe/membership.h"
#include "world_fixture.h"

namespace gx::testing {
namespace {

class PictureToParticles : public WorldTest {
protected:
    // Builds the population from an image on a world as wide as the image's rows.
    void capture(const std::vector<uint32_t>& px, int32_t rowPixels, int32_t rows, int32_t bbW,
                 float left = 0, float top = 0, float right = 0, float bottom = 0) {
        startWorld(rowPixels, rows);
        sim.pictureLeft = left;
        sim.pictureTop = top;
        sim.pictureRight = right;
        sim.pictureBottom = bottom;
        countBrightPixels(imageOf(px, rowPixels, rows, bbW, rows));
    }

    // Member count per body in list order, and which particles stayed free.
    std::vector<int32_t> bodySizes() const {
        std::vector<int32_t> sizes;
        for (BodyNode* n = bodyList(); n; n = n->next) sizes.push_back(n->body->memberCount);
        return sizes;
    }
    std::vector<uint32_t> freeParticles() const {
        std::vector<uint32_t> out;
        for (uint32_t i = 0; i < sim.particleCount; ++i)
            if (!sim.particles[i].body) out.push_back(i);
        return out;
    }
};

TEST_F(PictureToParticles, BrightThresholdIgnoresAlphaAndNeedsOneChannelAbove0x20) {
    EXPECT_FALSE(isBrightPixel(0x00202020u));
    EXPECT_FALSE(isBrightPixel(0xFF000000u));
    EXPECT_FALSE(isBrightPixel(0xFF202020u));
    EXPECT_TRUE(isBrightPixel(0x00212020u));
    EXPECT_TRUE(isBrightPixel(0x00202120u));
    EXPECT_TRUE(isBrightPixel(0x00202021u));

    // Through the whole conversion: only the three bright pixels become particles,
    // with opaque colours and their picture positions.
    std::vector<uint32_t> px = {0x00202020u, 0x00212020u, 0xFF000000u,
                                0x00202120u, 0x00202021u, 0xFF202020u};
    capture(px, 3, 2, 3);
    ASSERT_EQ(sim.particleCount, 3u);
    EXPECT_EQ(sim.particles[0].colour, 0xFF212020u);
    EXPECT_EQ(sim.particles[0].links().pictureColour, 0xFF212020u);
    EXPECT_EQ(sim.particles[1].links().homeX, 0);
    EXPECT_EQ(sim.particles[1].links().homeY, 1);
    EXPECT_EQ(sim.particles[2].links().originX, 1);
    EXPECT_FLOAT_EQ(sim.particles[2].x, 1.0f);
    EXPECT_FLOAT_EQ(sim.particles[2].y, 1.0f);
}

TEST_F(PictureToParticles, MassFollowsBrightnessThroughTheElementTable) {
    EXPECT_FLOAT_EQ(massOfColour(0xFFFFFFFFu), 289.0f);
    EXPECT_EQ(elementRowOf(0x00FFFFFEu), 35);
    EXPECT_FLOAT_EQ(massOfColour(0x00FFFFFEu), 288.0f);
    EXPECT_EQ(elementRowOf(0x00210000u), 1);
    EXPECT_FLOAT_EQ(massOfColour(0x00210000u), 200.59f);
    EXPECT_EQ(elementRowOf(0x00000000u), 0);

    // The burst lasts 20 frames at speed 1.
    std::vector<uint32_t> px = solidImage(9, 9, 0x00000000u);
    px[4 * 9 + 4] = 0x00FFFFFFu;
    px[4 * 9 + 8] = 0x00FFFFFEu;
    capture(px, 9, 9, 8);
    ASSERT_EQ(sim.particleCount, 1u);  // column 8 lies beyond the back buffer
    EXPECT_FLOAT_EQ(sim.particles[0].mass, 289.0f);
    EXPECT_EQ(sim.burstFrames, 20);
}

TEST_F(PictureToParticles, CentreIsStillAndOthersBurstOutward) {
    std::vector<uint32_t> px = solidImage(10, 10, 0);
    px[5 * 10 + 5] = 0x00FFFFFFu;  // the centre of a 10 x 10 back buffer
    px[5 * 10 + 9] = 0x00FFFFFFu;  // to its right
    startWorld(10, 10);
    setSpeed(0.1f);
    countBrightPixels(imageOf(px, 10, 10, 10, 10));
    ASSERT_EQ(sim.particleCount, 2u);
    EXPECT_EQ(sim.particles[0].vx, 0.0f);
    EXPECT_EQ(sim.particles[0].vy, 0.0f);
    EXPECT_FLOAT_EQ(sim.particles[1].vx, 10.0f);
    EXPECT_FLOAT_EQ(sim.particles[1].vy, 0.0f);
    EXPECT_EQ(sim.burstFrames, 200);
}

TEST_F(PictureToParticles, ColumnsBeyondTheBackBufferMakeNoParticle) {
    // Rows of 8 pixels on a back buffer 6 wide: columns 6 and 7 are counted for the
    // allocation but never become particles.
    std::vector<uint32_t> px = solidImage(8, 4, 0x00FF0000u);
    capture(px, 8, 4, 6);
    EXPECT_EQ(sim.particleCount, 24u);
    for (uint32_t i = 0; i < sim.particleCount; ++i) EXPECT_LT(sim.particles[i].links().homeX, 6);
    // The spare records lie beyond the count and are never linked.
    for (const Particle* p = sim.looseList; p; p = p->links().listPrev)
        EXPECT_LT(p - sim.particles, std::ptrdiff_t(sim.particleCount));
}

TEST_F(PictureToParticles, TheSameImageCracksTheSameWay) {
    // A varied bright picture filling the picture rectangle.
    const int32_t w = 120, h = 90;
    std::vector<uint32_t> px(size_t(w) * h);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) px[size_t(y) * w + x] = 0x00404040u + uint32_t(x * 3 + y);
    auto run = [&](const std::vector<uint32_t>& image) {
        capture(image, w, h, w, 10, 10, 110, 80);
        return std::make_pair(bodySizes(), freeParticles());
    };
    const auto first = run(px);
    const int32_t seedFirst = sim.randomSeed;
    const auto second = run(px);
    EXPECT_EQ(first, second);
    EXPECT_GT(first.first.size(), 1u) << "the cracks split the picture into several bodies";
    EXPECT_FALSE(first.second.empty()) << "particles on a crack stay free";

    // Another colour sum seeds the generator differently and cracks differently.
    std::vector<uint32_t> other = px;
    other[0] += 1;
    const auto third = run(other);
    EXPECT_NE(sim.randomSeed, seedFirst);
    EXPECT_NE(first, third);
}

TEST_F(PictureToParticles, LargeConnectedRegionEndsInOneBody) {
    // 30 x 30 touching particles, away from the (empty) picture rectangle so no crack
    // crosses them: the fill recurses 500 deep, continues through its work list, and
    // the whole region becomes one body.
    const int32_t w = 60, h = 50;
    std::vector<uint32_t> px = solidImage(w, h, 0);
    for (int32_t y = 10; y < 40; ++y)
        for (int32_t x = 20; x < 50; ++x) px[size_t(y) * w + x] = 0x00C08040u;
    capture(px, w, h, w);
    ASSERT_EQ(sim.particleCount, 900u);
    ASSERT_EQ(bodyCount(), 1u);
    Body* b = bodyList()->body;
    EXPECT_EQ(b->memberCount, 900);
    int32_t walked = 0;
    for (Particle* m = b->head; m; m = m->memberNext) {
        EXPECT_EQ(m->body, b);
        ++walked;
    }
    EXPECT_EQ(walked, 900);
    EXPECT_NEAR(b->mass, 900.0f * massOfColour(0x00C08040u), 1.0f);
    // Measured before its radius grows, the body is not yet a sprite; it gets its
    // burst velocity away from the centre and its grid cells are all filled again.
    EXPECT_EQ(b->group, nullptr);
    EXPECT_NEAR(b->centroid.x, 34.5f, 1e-3f);
    EXPECT_NEAR(b->centroid.y, 24.5f, 1e-3f);
    const Vec2 out = unit({34.5f - float(sim.halfWidth), 24.5f - float(sim.halfHeight)});
    EXPECT_NEAR(b->velocity.x, 10.0f * out.x, 1e-4f);
    EXPECT_NEAR(b->velocity.y, 10.0f * out.y, 1e-4f);
    EXPECT_GE(b->spin, -30.0f);
    EXPECT_LE(b->spin, 30.0f);
    for (uint32_t i = 0; i < sim.particleCount; ++i)
        EXPECT_EQ(sim.grid[sim.particles[i].cell], &sim.particles[i]);
}

TEST_F(PictureToParticles, DarkPictureGivesAnEmptyPopulation) {
    std::vector<uint32_t> px = solidImage(40, 30, 0x00202020u);
    capture(px, 40, 30, 40);
    EXPECT_EQ(sim.particleCount, 0u);
    EXPECT_NE(sim.particles, nullptr) << "an empty population still has its spare record";
    EXPECT_NE(sim.matchSlots, nullptr);
    EXPECT_EQ(bodyList(), nullptr);
    EXPECT_EQ(sim.gravityStrength, kBaseGravity);
    EXPECT_EQ(sim.burstFrames, 0);
    EXPECT_EQ(sim.looseList, nullptr);
}

TEST_F(PictureToParticles, LonelyParticleStaysFreeAndKeepsItsCell) {
    std::vector<uint32_t> px = solidImage(20, 20, 0);
    px[3 * 20 + 3] = 0x00FFFFFFu;
    px[10 * 20 + 10] = 0x00FFFFFFu;
    px[10 * 20 + 11] = 0x00FFFFFFu;
    capture(px, 20, 20, 20);
    ASSERT_EQ(sim.particleCount, 3u);
    EXPECT_EQ(sim.particles[0].body, nullptr);
    EXPECT_EQ(sim.grid[sim.particles[0].cell], &sim.particles[0]);
    ASSERT_NE(sim.particles[1].body, nullptr);
    EXPECT_EQ(sim.particles[1].body, sim.particles[2].body);
    EXPECT_EQ(sim.particles[1].body->memberCount, 2);
    EXPECT_FLOAT_EQ(sim.particles[1].body->mass, 578.0f);
}

}  // namespace
}  // namespace gx::testing
