#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "render/frame.h"
#include "render/render_fixture.h"
#include "universe/collisions.h"
#include "universe/motion.h"
#include "universe/particle_pass.h"
#include "universe/pull.h"

namespace gx::testing {
namespace {

class FrameTest : public RenderTest {
protected:
    void SetUp() override {
        RenderTest::SetUp();
        // Without the framework the world takes its height from here.
        ASSERT_TRUE(initWorldSized(screenLayout.rowPitchBytes / 4, int32_t(screenH)));
        ASSERT_EQ(screenQuad.createForPicture(screenW, screenH), gfx::kOk);
    }

    Particle* put(uint32_t i, float x, float y) {
        Particle* p = &sim.particles[i];
        p->x = x;
        p->y = y;
        refileInGrid(p);
        return p;
    }

    // Texel (x, y) of the particle image.
    uint32_t imageTexel(int x, int y) {
        gfx::LockedRect lr;
        EXPECT_EQ(ParticleImageTexture->lockRect(0, &lr, nullptr, gfx::kLockReadOnly), gfx::kOk);
        const uint32_t v = static_cast<uint32_t*>(lr.bits)[size_t(y) * size_t(lr.pitch / 4) + x];
        ParticleImageTexture->unlockRect(0);
        return v;
    }

    // Every pixel of the read-back, low 24 bits.
    std::vector<uint32_t> readback() {
        gfx::LockedRect lr;
        std::vector<uint32_t> out;
        EXPECT_EQ(CollisionReadback->lockRect(&lr, nullptr, gfx::kLockReadOnly), gfx::kOk);
        for (int y = 0; y < collisionHeight; ++y)
            for (int x = 0; x < collisionWidth; ++x)
                out.push_back(static_cast<uint32_t*>(lr.bits)[size_t(y) * (lr.pitch / 4) + x] &
                              0xFFFFFFu);
        CollisionReadback->unlockRect();
        return out;
    }

    void render() { renderFrame(device.get(), 0.0, 0.0f, nullptr); }
};

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
    gfx::SurfacePtr bb;
    ASSERT_EQ(device->getBackBuffer(&bb), gfx::kOk);
    gfx::SurfacePtr copy;
    ASSERT_EQ(device->createOffscreenPlainSurface(screenW, screenH, gfx::Format::X8R8G8B8,
                                                  gfx::Pool::SystemMem, &copy),
              gfx::kOk);
    ASSERT_EQ(device->getRenderTargetData(bb, copy), gfx::kOk);
    gfx::LockedRect lr;
    ASSERT_EQ(copy->lockRect(&lr, nullptr, gfx::kLockReadOnly), gfx::kOk);
    const uint32_t* px = static_cast<uint32_t*>(lr.bits);
    EXPECT_EQ(px[10 * (lr.pitch / 4) + 10] & 0xFFFFFFu, sim.particles[0].colour & 0xFFFFFFu);
    EXPECT_EQ(px[20 * (lr.pitch / 4) + 20] & 0xFFFFFFu, 0u);
    copy->unlockRect();
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

TEST_F(FrameTest, PassCountsFreeParticlesAndFreeMembersOnly) {
    makeParticles(6);
    put(0, 20.5f, 20.5f)->vx = 1.0f;
    put(1, 30.5f, 20.5f)->vy = 1.0f;
    put(2, 40.5f, 20.5f);
    Particle* bound = put(3, 100.5f, 70.5f);
    Particle* freeMember = put(4, 101.5f, 70.5f);
    Body* b = makeBody(101.0f, 70.5f, 3.0f, 3, 2);
    b->mass = 5.0e5f;
    bound->holdOff = 0;
    freeMember->holdOff = -1;
    freeMember->vx = 3.0f;
    put(5, 150.5f, 20.5f);
    attractBodies();
    particlePass();
    EXPECT_EQ(sim.processedCount, 5);
    EXPECT_FLOAT_EQ(sim.particles[0].x, 20.5f + 1.0f + sim.particles[0].ax);
    EXPECT_FLOAT_EQ(freeMember->x, 101.5f) << "a free member only gathers its pull";
    EXPECT_LT(freeMember->ax, 0.0f);
    EXPECT_EQ(bound->ax, 0.0f);
    EXPECT_TRUE(boxes.empty());

    // The next frame's attraction uses that count: 8000 / 5.
    attractBodies();
    EXPECT_EQ(sim.bodyLimit, 1600);
}

// The pass works the pull out a block of particles ahead; it must give what the
// one-at-a-time rule gives, bit for bit, also where a particle joins the pulling body
// mid-block (its mass and centroid change), sits on its centroid, lies more than half a
// world away, or has no finite position.
class BlockPull : public FrameTest {
protected:
    struct Outcome {
        std::vector<uint32_t> bits;  // per particle: x, y, vx, vy, ax, ay, cell, holdOff, body
        std::vector<int32_t> gridOwners;
    };

    static uint32_t bitsOf(float v) {
        uint32_t b;
        std::memcpy(&b, &v, sizeof b);
        return b;
    }

    // The rule the blocks mirror, one particle at a time.
    struct ScalarPull {
        void begin() {}
        void accelerate(Particle* p, uint32_t) { gatherAcceleration(p); }
    };

    Outcome run(bool blocks, uint32_t seed) {
        sim.bodySnapshot = nullptr;
        resetBodies();
        constexpr uint32_t n = 3000;
        makeParticles(n);
        auto next = [&seed]() {
            seed = seed * 1664525u + 1013904223u;
            return float(seed >> 8) / float(1u << 24);
        };
        const float w = float(sim.worldWidth), h = float(sim.wrapHeight);
        const float cx = 0.3f * w, cy = 0.4f * h;
        for (uint32_t i = 0; i < 40; ++i)
            put(i, cx + 8.0f * (next() - 0.5f), cy + 8.0f * (next() - 0.5f));
        Body* heavy = makeBody(cx, cy, 6.0f, 0, 40);
        heavy->mass = 4.0e5f;
        for (uint32_t i = 0; i < 40; i += 3) sim.particles[i].holdOff = -1;  // free members
        for (uint32_t i = 40; i < n; ++i) {
            // Many start near the body, so joins come in the middle of blocks.
            const bool near = i % 3 == 0;
            Particle* p = put(i, near ? cx + 30.0f * (next() - 0.5f) : next() * (w - 1.0f),
                              near ? cy + 30.0f * (next() - 0.5f) : next() * (h - 1.0f));
            p->vx = 6.0f * (next() - 0.5f);
            p->vy = 6.0f * (next() - 0.5f);
            p->holdOff = int32_t(next() * 3.0f);
        }
        put(45, cx, cy);  // on the centroid
        sim.particles[77].x = NAN;
        sim.particles[78].y = INFINITY;
        sim.processedCount = 10000;  // the last pass's count: one body pulls
        attractBodies();
        EXPECT_EQ(sim.bodyLimit, 1);
        if (blocks) {
            particlePass();
        } else {
            ScalarPull scalar;
            particlePassWith(scalar);
        }

        Outcome o;
        std::vector<const Body*> bodies;
        for (BodyNode* node = bodyList(); node; node = node->next) bodies.push_back(node->body);
        for (uint32_t i = 0; i < n; ++i) {
            const Particle& p = sim.particles[i];
            int32_t body = -1;
            for (size_t k = 0; k < bodies.size(); ++k)
                if (bodies[k] == p.body) body = int32_t(k);
            for (float v : {p.x, p.y, p.vx, p.vy, p.ax, p.ay}) o.bits.push_back(bitsOf(v));
            o.bits.push_back(uint32_t(p.cell));
            o.bits.push_back(uint32_t(p.holdOff));
            o.bits.push_back(uint32_t(body));
        }
        for (const Body* b : bodies)
            for (float v : {b->centroid.x, b->centroid.y, b->mass}) o.bits.push_back(bitsOf(v));
        for (int32_t c = 0; c < sim.cellCount; ++c)
            if (sim.grid[c])
                o.gridOwners.push_back(c),
                    o.gridOwners.push_back(int32_t(sim.grid[c] - sim.particles));
        return o;
    }
};

TEST_F(BlockPull, MatchesTheOneAtATimeRuleBitForBit) {
    for (uint32_t seed : {1u, 2u, 3u}) {
        const Outcome one = run(false, seed);
        const Outcome blocks = run(true, seed);
        ASSERT_EQ(one.bits.size(), blocks.bits.size());
        size_t differing = 0;
        for (size_t k = 0; k < one.bits.size(); ++k) differing += one.bits[k] != blocks.bits[k];
        EXPECT_EQ(differing, 0u) << "seed " << seed;
        EXPECT_EQ(one.gridOwners, blocks.gridOwners) << "seed " << seed;
    }
}

TEST_F(FrameTest, ReadBackLockFailureReportsAndSkipsThePass) {
    makeParticles(1);
    put(0, 20.5f, 20.5f)->vx = 1.0f;
    device->injectFault(gfx::FaultOp::Lock, gfx::FaultResource::Surface, 1);
    particlePass();
    EXPECT_FLOAT_EQ(sim.particles[0].x, 20.5f);
    EXPECT_NE(report().find("Internal error - Failed to process collision."), std::string::npos);
}

TEST_F(FrameTest, FreeMemberNeverSamplesTheReadBack) {
    makeParticles(4);
    Body* b = makeBody(100.0f, 75.0f, 10.0f, 0, 0);
    BodySprite* s = nextSprite();
    ASSERT_NE(s, nullptr);
    sim.spriteState.list.head = &s->listNode;
    s->body = b;
    b->group = s;
    s->reach = b->radius;
    s->settledRadius = 1;
    ASSERT_TRUE(createSpriteTexture(s, false));
    clearTexels(s);
    setTexel(s, 29, 20, kSpriteMarker[0] | 0x777777u);  // world (109.5, 75.5)
    ASSERT_TRUE(lockAllSprites());
    // A read-back that shows a sprite everywhere.
    static const uint32_t lit[1] = {0xFFFFFFFFu};
    sim.collisionView.bits = lit;
    sim.collisionView.width = sim.collisionView.height = sim.collisionView.stride = 1;

    Particle* joiner = put(1, 108.5f, 75.5f);
    joiner->vx = 1.0f;
    moveParticle(joiner);
    EXPECT_EQ(joiner->body, b) << "the sprite took it in";
    EXPECT_FLOAT_EQ(joiner->x, 108.5f);

    Particle* member = put(2, 108.5f, 75.5f);
    member->vx = 1.0f;
    member->holdOff = -1;
    moveParticle(member);
    EXPECT_EQ(member->body, nullptr);
    EXPECT_FLOAT_EQ(member->x, 109.5f);
    sim.collisionView = CollisionView{};
    unlockAllSprites();
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
