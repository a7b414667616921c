#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "render/frame.h"
#include "support/render_fixture.h"

namespace gx::testing {
namespace {

class LargeScreen : public FrameTest {
protected:
    LargeScreen() {
        screenW = 1600;
        screenH = 1200;
    }
};

TEST_F(LargeScreen, ScaleFactorsMapTheScreenCentreToPixel64) {
    EXPECT_EQ(collisionWidth, 128);
    EXPECT_EQ(collisionHeight, 128);
    EXPECT_FLOAT_EQ(collisionScaleX, 0.08f);
    EXPECT_NEAR(collisionScaleY, 0.10667f, 1e-5f);
    EXPECT_EQ(spriteLayerWidth, 1600);
    EXPECT_EQ(spriteLayerHeight, 1200);

    gfx::LockedRect lr;
    ASSERT_EQ(CollisionReadback->lockRect(&lr, nullptr, 0), gfx::kOk);
    uint32_t* px = static_cast<uint32_t*>(lr.bits);
    const int stride = lr.pitch / 4;
    px[64 * stride + 64] = 0xFF123456u;
    px[127 * stride + 127] = 0xFF654321u;
    CollisionReadback->unlockRect();

    ASSERT_TRUE(lockCollisionView());
    EXPECT_EQ(collisionSample(800.0f, 600.0f), 0xFF123456u);
    // A position just inside the far edge stays inside the buffer.
    EXPECT_EQ(collisionSample(1599.9999f, 1198.9999f), 0xFF654321u);
    EXPECT_EQ(collisionSample(std::nanf(""), 600.0f), px[64 * stride] | 0u);
    unlockCollisionView();
    EXPECT_EQ(sim.collisionView.bits, nullptr);
    EXPECT_EQ(collisionSample(800.0f, 600.0f), 0u) << "outside a pass nothing is read";
}

TEST_F(FrameTest, NoSpritesLeaveTheReadBackBlackAndParticlesShow) {
    makeParticles(3);
    put(0, 10.5f, 10.5f);
    put(1, 150.5f, 100.5f);
    render();
    for (uint32_t v : readback()) ASSERT_EQ(v, 0u);
    EXPECT_FALSE(readbackPaused);
    EXPECT_EQ(imageTexel(10, 10), sim.particles[0].colour);
    EXPECT_EQ(imageTexel(150, 100), sim.particles[1].colour);
    EXPECT_EQ(imageTexel(11, 10), 0u);
    EXPECT_TRUE(boxes.empty());
    // On screen the particle shows over black.
    const std::vector<uint32_t> px = screenPixels();
    ASSERT_EQ(px.size(), size_t(screenW) * screenH);
    EXPECT_EQ(px[10 * screenW + 10], sim.particles[0].colour & 0xFFFFFFu);
    EXPECT_EQ(px[20 * screenW + 20], 0u);
}

TEST_F(FrameTest, SharedCellShowsTheLowerIndexAndCellMinusOneNever) {
    makeParticles(3);
    Particle* a = put(0, 40.5f, 30.5f);
    Particle* b = put(1, 40.2f, 30.7f);
    b->cell = a->cell;  // two particles claim one cell
    Particle* c = put(2, 60.5f, 30.5f);
    c->cell = -1;
    sim.sparseFlag = 0;
    render();
    EXPECT_EQ(imageTexel(40, 30), a->colour);
    EXPECT_EQ(imageTexel(60, 30), 0u);
    // Sparse: the loose list is walked from its last link back to its first.
    sim.sparseFlag = 1;
    render();
    EXPECT_EQ(imageTexel(40, 30), a->colour);
    removeFromLooseList(a);
    render();
    EXPECT_EQ(imageTexel(40, 30), b->colour) << "only listed particles are drawn";
}

// The sparse image keeps its walk of the loose list between frames; it must follow every
// change of the list's order and every particle's move.
TEST_F(FrameTest, SparseImageFollowsListChangesAndMoves) {
    makeParticles(3);
    Particle* a = put(0, 40.5f, 30.5f);
    Particle* b = put(1, 40.2f, 30.7f);
    b->cell = a->cell;
    Particle* c = put(2, 60.5f, 30.5f);
    sim.sparseFlag = 1;
    for (int frame = 0; frame < 2; ++frame) {
        render();
        EXPECT_EQ(imageTexel(40, 30), a->colour) << "the first link is written last";
        EXPECT_EQ(imageTexel(60, 30), c->colour);
    }
    // a becomes the last link: b is now written last.
    removeFromLooseList(a);
    appendToLooseList(a);
    render();
    EXPECT_EQ(imageTexel(40, 30), b->colour);
    // The same list again, but c moved: its old texel is clear, its new one set.
    put(2, 70.5f, 31.5f);
    render();
    EXPECT_EQ(imageTexel(60, 30), 0u);
    EXPECT_EQ(imageTexel(70, 31), c->colour);
    EXPECT_EQ(imageTexel(40, 30), b->colour);
}

// Each frame clears only what the last one wrote; after particles move, leave the grid,
// share cells, or the image is made again, it must still equal an image drawn afresh.
TEST_F(FrameTest, ImageMatchesAFreshDrawingFrameAfterFrame) {
    constexpr uint32_t kCount = 300;
    makeParticles(kCount);
    uint32_t seed = 99;
    auto next = [&seed](uint32_t n) {
        seed = seed * 1664525u + 1013904223u;
        return (seed >> 8) % n;
    };
    auto expected = [&]() {
        std::vector<uint32_t> image(size_t(screenW) * screenH, 0u);
        auto draw = [&](const Particle& p) {
            if (p.cell < 0 || p.cell >= sim.cellCount) return;
            const int32_t row = p.cell / sim.worldWidth, col = p.cell % sim.worldWidth;
            if (col < int32_t(screenW) && row < int32_t(screenH))
                image[size_t(row) * screenW + col] = p.colour;
        };
        if (sim.sparseFlag == 1) {
            for (const Particle* p = sim.looseList; p; p = p->links().listPrev) draw(*p);
        } else {
            for (uint32_t i = kCount; i-- > 0;) draw(sim.particles[i]);
        }
        return image;
    };
    auto actual = [&]() {
        gfx::LockedRect lr;
        std::vector<uint32_t> image(size_t(screenW) * screenH);
        EXPECT_EQ(ParticleImageTexture->lockRect(0, &lr, nullptr, gfx::kLockReadOnly), gfx::kOk);
        for (uint32_t y = 0; y < screenH; ++y)
            for (uint32_t x = 0; x < screenW; ++x)
                image[size_t(y) * screenW + x] =
                    static_cast<uint32_t*>(lr.bits)[size_t(y) * (lr.pitch / 4) + x];
        ParticleImageTexture->unlockRect(0);
        return image;
    };
    for (uint32_t i = 0; i < kCount; ++i)
        put(i, float(next(screenW)) + 0.5f, float(next(screenH)) + 0.5f);
    // Filled on the caller's thread, then beside the sprite layer on the helper thread.
    struct Restore {
        ImageFill fill = particleImageFill;
        ~Restore() { particleImageFill = fill; }
    } restore;
    for (int frame = 0; frame < 16; ++frame) {
        particleImageFill = frame >= 8 ? ImageFill::Beside : ImageFill::Inline;
        sim.sparseFlag = frame % 3 == 2 ? 1 : 0;
        if (frame % 8 == 5) {
            ASSERT_EQ(onDeviceReset(device.get()), gfx::kOk);  // a new image
        }
        render();
        ASSERT_EQ(actual(), expected()) << "frame " << frame;
        for (uint32_t k = 0; k < kCount / 3; ++k) {
            Particle* p = &sim.particles[next(kCount)];
            if (k % 10 == 0) takeOutOfGrid(p);
            else if (k % 10 == 1) p->cell = sim.particles[next(kCount)].cell;  // a shared cell
            else
                put(uint32_t(p - sim.particles), float(next(screenW)) + 0.5f,
                    float(next(screenH)) + 0.5f);
        }
    }
}

TEST_F(FrameTest, FailedReadBackHoldsThePhaseUntilOneSucceeds) {
    device->injectFault(gfx::FaultOp::ReadBack, gfx::FaultResource::Any, 1);
    render();
    EXPECT_TRUE(readbackPaused);
    EXPECT_TRUE(phasePaused(false));
    EXPECT_TRUE(boxes.empty()) << "not an error";
    render();
    EXPECT_FALSE(readbackPaused);
    EXPECT_FALSE(phasePaused(false));
    EXPECT_TRUE(phasePaused(true)) << "the user's own pause survives a good read-back";
}

TEST_F(FrameTest, CaptureTurnsThePictureIntoParticles) {
    // A 40 x 30 picture: white with a dark column, drawn at (80, 60).
    gfx::TexturePtr tex;
    ASSERT_EQ(device->createTexture(40, 30, 1, 0, gfx::Format::A8R8G8B8, gfx::Pool::Managed, &tex),
              gfx::kOk);
    gfx::LockedRect lr;
    ASSERT_EQ(tex->lockRect(0, &lr, nullptr, 0), gfx::kOk);
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 40; ++x)
            static_cast<uint32_t*>(lr.bits)[y * (lr.pitch / 4) + x] =
                x == 5 ? 0xFF101010u : 0xFFFFFFFFu;
    tex->unlockRect(0);
    renderHooks().loadedPicture = [tex]() { return LoadedPicture{tex, 40, 30}; };
    ASSERT_EQ(screenQuad.createForPicture(), gfx::kOk);
    ASSERT_EQ(screenQuad.setRect(80, 60, 120, 90, 0xFFFFFFFFu), gfx::kOk);
    ASSERT_EQ(capturePicture(), gfx::kOk);
    EXPECT_EQ(sim.particleCount, 39u * 30u);
    EXPECT_EQ(sim.particles[0].links().homeX, 80);
    EXPECT_EQ(sim.particles[0].links().homeY, 60);
    EXPECT_FLOAT_EQ(sim.particles[0].mass, 289.0f);
    EXPECT_NE(bodyList(), nullptr);
    // The device can draw again afterwards.
    EXPECT_EQ(device->beginScene(), gfx::kOk);
    device->endScene();
}

}  // namespace
}  // namespace gx::testing
