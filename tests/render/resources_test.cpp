#include <gtest/gtest.h>

#include "support/render_fixture.h"

namespace gx::testing {
namespace {

class ResourcesTest : public RenderTest {
protected:
    static gfx::Caps fullCaps() {
        gfx::Caps c{};
        c.SrcBlendCaps = gfx::kBlendCapsInvDestColor | gfx::kBlendCapsSrcAlpha;
        c.DestBlendCaps = gfx::kBlendCapsOne | gfx::kBlendCapsInvSrcAlpha;
        c.TextureOpCaps = gfx::kTexOpCapsModulate | gfx::kTexOpCapsDisable;
        return c;
    }

    // Lost, device reset to a new size, reset callback: the framework's order.
    void resize(uint32_t w, uint32_t h) {
        onDeviceLost();
        gfx::PresentParameters pp = device->presentParameters();
        pp.backBufferWidth = w;
        pp.backBufferHeight = h;
        ASSERT_EQ(device->reset(pp), gfx::kOk);
        onDeviceReset(device.get());
    }
};

TEST_F(ResourcesTest, CapabilityCheckNamesTheLastMissingCapability) {
    EXPECT_TRUE(checkDeviceCaps(fullCaps()));
    EXPECT_TRUE(boxes.empty());

    gfx::Caps c = fullCaps();
    c.SrcBlendCaps &= ~gfx::kBlendCapsSrcAlpha;
    c.TextureOpCaps &= ~gfx::kTexOpCapsModulate;
    EXPECT_FALSE(checkDeviceCaps(c));
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text,
              "Your graphics card does not have the capabilities needed: D3DTOP_MODULATE.");
    EXPECT_EQ(boxes[0].caption, "Glimmerax");
    EXPECT_TRUE(RenderSuppressed);  // shutdown was asked for
    EXPECT_EQ(getExitCode(), 0);
    EXPECT_EQ(report(), "");  // not an internal error

    boxes.clear();
    gfx::Caps none{};
    EXPECT_FALSE(checkDeviceCaps(none));
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_NE(boxes[0].text.find("D3DTOP_DISABLE."), std::string::npos);

    // Our software device has everything the saver needs.
    gfx::Caps own{};
    ASSERT_EQ(device->getDeviceCaps(&own), gfx::kOk);
    boxes.clear();
    EXPECT_TRUE(checkDeviceCaps(own));
}

TEST_F(ResourcesTest, ResetMeasuresTheScreenAndKeepsTheWorldCentred) {
    // The first reset (in SetUp) saw a zero layout and an empty world.
    EXPECT_EQ(screenLayout.device, device.get());
    EXPECT_EQ(screenLayout.rowPitchBytes, int(screenW) * 4);
    EXPECT_EQ(screenLayout.height, int(screenH));
    EXPECT_EQ(screenLayout.imageBytes, int(screenW * screenH) * 4);
    EXPECT_EQ(sim.worldWidth, int(screenW));
    EXPECT_EQ(sim.wrapHeight, int(screenH) - 1);
    ASSERT_NE(ScreenCaptureSurface, nullptr);
    ASSERT_NE(ParticleImageTexture, nullptr);
    gfx::SurfaceDesc d;
    ParticleImageTexture->getLevelDesc(0, &d);
    EXPECT_EQ(d.width, screenW);
    EXPECT_EQ(d.format, gfx::Format::A8R8G8B8);
    EXPECT_EQ(d.pool, gfx::Pool::Managed);
    EXPECT_NE(SpriteLayerTexture, nullptr);  // the collision buffers came last
    EXPECT_NE(CollisionReadback, nullptr);

    int moves = 0, mdx = 0, mdy = 0;
    renderHooks().moveWindUpRect = [&](int dx, int dy) { ++moves, mdx = dx, mdy = dy; };
    gfx::Device* pictureDevice = nullptr;
    renderHooks().setPictureDevice = [&](gfx::Device* d) { pictureDevice = d; };

    makeParticles(1);
    sim.particles[0].x = 50.0f;
    sim.particles[0].y = 40.0f;
    refileInGrid(&sim.particles[0]);
    resize(260, 190);  // grows by 60 x 40: everything moves by half of it
    EXPECT_EQ(moves, 1);
    EXPECT_EQ(mdx, 30);
    EXPECT_EQ(mdy, 20);
    EXPECT_EQ(pictureDevice, device.get());
    EXPECT_FLOAT_EQ(sim.particles[0].x, 80.0f);
    EXPECT_FLOAT_EQ(sim.particles[0].y, 60.0f);
    EXPECT_EQ(sim.worldWidth, 260);
    EXPECT_EQ(screenLayout.rowPitchBytes, 260 * 4);
    EXPECT_EQ(screenLayout.height, 190);
    EXPECT_EQ(sim.grid[60 * 260 + 80], &sim.particles[0]);

    // A resize to the same size moves nothing.
    resize(260, 190);
    EXPECT_EQ(mdx, 0);
    EXPECT_EQ(mdy, 0);
    EXPECT_FLOAT_EQ(sim.particles[0].x, 80.0f);

    // A reset from a zero layout (the first of a run) shifts by half the screen; the
    // world is empty then, so nothing moves.
    releaseParticles();
    resetRenderResources();
    onDeviceCreated(device.get());
    onDeviceLost();
    onDeviceReset(device.get());
    EXPECT_EQ(mdx, 130);
    EXPECT_EQ(mdy, 95);
    EXPECT_EQ(sim.particleCount, 0u);
    EXPECT_EQ(report(), "");

    // measure() takes the same numbers from the capture surface.
    screenLayout.rowPitchBytes = 0;
    EXPECT_EQ(screenLayout.measure(), gfx::kOk);
    EXPECT_EQ(screenLayout.rowPitchBytes, 260 * 4);
    EXPECT_EQ(sim.worldWidth, 260);
}

TEST_F(ResourcesTest, ManagedSpriteTexturesSurviveALostDevice) {
    makeParticles(3);
    for (uint32_t i = 0; i < 3; ++i) {
        sim.particles[i].x = 100.0f + float(i);
        sim.particles[i].y = 75.0f;
    }
    Body* b = makeBody(100.0f, 75.0f, 8.0f, 0, 3);
    attachSprite(nodeOfBody(b));
    BodySprite* s = b->group;
    ASSERT_NE(s, nullptr);
    gfx::TexturePtr spriteTexture = s->slot->texture;
    const int c = s->width / 2;
    const uint32_t before = texel(s, c, c);
    ASSERT_NE(before, 0u);
    gfx::SurfacePtr capture = ScreenCaptureSurface;
    gfx::TexturePtr image = ParticleImageTexture;
    std::weak_ptr<gfx::Texture> layer = SpriteLayerTexture;

    resize(screenW, screenH);
    EXPECT_EQ(s->slot->texture, spriteTexture);
    EXPECT_EQ(texel(s, c, c), before);
    EXPECT_NE(ScreenCaptureSurface, capture);  // system memory: rebuilt every reset
    EXPECT_TRUE(layer.expired());              // default pool: released and rebuilt
    EXPECT_NE(SpriteLayerTexture, nullptr);
    EXPECT_NE(ParticleImageTexture, image);  // re-created, never leaked
    EXPECT_EQ(report(), "");

    // Sprites stay usable after the reset.
    ASSERT_TRUE(lockAllSprites());
    unlockAllSprites();
    updateAllSprites();
    EXPECT_EQ(report(), "");
}

TEST_F(ResourcesTest, PictureQuadIsCentredAndFadesIn) {
    // No picture yet: the reset left no buffer, and setRect quietly succeeds.
    EXPECT_EQ(screenQuad.vertexBuffer, nullptr);
    EXPECT_EQ(screenQuad.setRect(0, 0, 10, 10, 0xFFFFFFFFu), gfx::kOk);
    EXPECT_EQ(report(), "");

    gfx::TexturePtr picture;
    ASSERT_EQ(
        device->createTexture(20, 10, 1, 0, gfx::Format::A8R8G8B8, gfx::Pool::Managed, &picture),
        gfx::kOk);
    {
        gfx::LockedRect lr;
        ASSERT_EQ(picture->lockRect(0, &lr, nullptr, 0), gfx::kOk);
        for (int y = 0; y < 10; ++y)
            for (int x = 0; x < 20; ++x)
                static_cast<uint32_t*>(lr.bits)[y * (lr.pitch / 4) + x] = 0xFFFF0000u;
        picture->unlockRect(0);
    }
    renderHooks().loadedPicture = [&] { return LoadedPicture{picture, 20, 10}; };
    ASSERT_EQ(screenQuad.createForPicture(), gfx::kOk);
    ASSERT_NE(screenQuad.vertexBuffer, nullptr);
    EXPECT_EQ(screenQuad.vertexBuffer->size(), 672u);
    void* data = nullptr;
    ASSERT_EQ(screenQuad.vertexBuffer->lock(0, 168, &data, gfx::kLockReadOnly), gfx::kOk);
    ScreenVertex v[6];
    std::memcpy(v, data, sizeof v);
    screenQuad.vertexBuffer->unlock();
    EXPECT_FLOAT_EQ(v[0].x, 90.0f);
    EXPECT_FLOAT_EQ(v[0].y, 70.0f);
    EXPECT_FLOAT_EQ(v[1].x, 110.0f);
    EXPECT_FLOAT_EQ(v[1].y, 80.0f);
    EXPECT_FLOAT_EQ(v[2].x, 90.0f);
    EXPECT_FLOAT_EQ(v[2].v, 1.0f);
    EXPECT_FLOAT_EQ(v[4].u, 1.0f);
    EXPECT_FLOAT_EQ(v[4].v, 0.0f);
    for (const ScreenVertex& x : v) {
        EXPECT_EQ(x.colour, 0x00FFFFFFu);
        EXPECT_EQ(x.rhw, 1.0f);
        EXPECT_EQ(x.z, 0.0f);
    }

    // Fully faded in, the picture lands in the middle of the screen.
    ASSERT_EQ(screenQuad.setRect(90, 70, 110, 80, 0xFFFFFFFFu), gfx::kOk);
    screenQuad.drawTextured(nullptr);
    {
        const std::vector<uint32_t> px = screenPixels();
        ASSERT_EQ(px.size(), size_t(screenW) * screenH);
        EXPECT_EQ(px[75 * screenW + 100], 0xFF0000u);
        EXPECT_EQ(px[75 * screenW + 50], 0u);
    }

    // A reset with a picture loaded re-creates the quad; destroying releases it.
    resize(screenW, screenH);
    EXPECT_NE(screenQuad.vertexBuffer, nullptr);
    bool released = false;
    renderHooks().releasePictureResources = [&] { released = true; };
    onDeviceLost();
    onDeviceDestroyed();
    EXPECT_TRUE(released);
    EXPECT_EQ(screenQuad.vertexBuffer, nullptr);
    EXPECT_EQ(ScreenCaptureSurface, nullptr);
    EXPECT_EQ(ParticleImageTexture, nullptr);
    EXPECT_EQ(CollisionReadback, nullptr);
}

struct ResetFault {
    gfx::FaultOp op;
    gfx::FaultResource resource;
    const char* message;
};

TEST_F(ResourcesTest, EveryResetFailureEndsInTheErrorReport) {
    const ResetFault faults[] = {
        {gfx::FaultOp::Create, gfx::FaultResource::Surface,
         "Internal error - Failed to create surface1"},
        {gfx::FaultOp::Create, gfx::FaultResource::Texture,
         "Internal error - Failed to create collision surface1.5"},
        {gfx::FaultOp::Lock, gfx::FaultResource::Surface,
         "Internal error - Failed to get render target."},
    };
    for (const ResetFault& f : faults) {
        resetErrorReport();
        frameworkResetForTests();
        boxes.clear();
        std::filesystem::remove(home + "/error.log");
        onDeviceLost();
        device->injectFault(f.op, f.resource, 1);
        EXPECT_EQ(onDeviceReset(device.get()), gfx::kOk) << f.message;  // never fails the framework
        device->clearFaults();
        const std::string text = report();
        EXPECT_NE(text.find(std::string("\n") + f.message + "\n"), std::string::npos) << f.message;
        EXPECT_EQ(boxes.size(), 1u) << f.message;  // the follow-up failure stays silent
        EXPECT_EQ(getExitCode(), 1) << f.message;
    }
}

TEST_F(ResourcesTest, QuadAndMeasureFailuresEndInTheErrorReport) {
    renderHooks().loadedPicture = [] { return LoadedPicture{nullptr, 8, 8}; };
    device->injectFault(gfx::FaultOp::Create, gfx::FaultResource::VertexBuffer, 1);
    EXPECT_EQ(screenQuad.createForPicture(), gfx::kFail);
    EXPECT_NE(report().find("\nInternal error - Failed to create buffer.\n"), std::string::npos);

    resetErrorReport();
    device->clearFaults();
    ASSERT_EQ(screenQuad.createForPicture(), gfx::kOk);
    device->injectFault(gfx::FaultOp::Lock, gfx::FaultResource::VertexBuffer, 1);
    EXPECT_EQ(screenQuad.setRect(0, 0, 1, 1, 0), gfx::kFail);
    EXPECT_NE(report().find("\nInternal error - Failed to render1.\n"), std::string::npos);

    resetErrorReport();
    device->clearFaults();
    device->injectFault(gfx::FaultOp::Lock, gfx::FaultResource::Surface, 1);
    EXPECT_EQ(screenLayout.measure(), gfx::kFail);
    EXPECT_NE(report().find("\nInternal error - Failed to create buffers.\n"), std::string::npos);

    resetErrorReport();
    device->clearFaults();
    ScreenQuad orphan;
    EXPECT_EQ(orphan.createForPicture(4, 4), gfx::kFail);
    EXPECT_NE(report().find("\nInternal error - Uninitialised1\n"), std::string::npos);
}

}  // namespace
}  // namespace gx::testing
