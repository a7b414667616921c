// Pools, lock rules, reset, loss, present and the capability record of the software device.
#include <cstdlib>

#include "gfx_test_util.h"

namespace gx::gfx::test {
namespace {

TEST(GfxPools, ResetRefusedWhileDefaultPoolResourcesLive) {
    auto d = makeDevice(64, 48);
    PresentParameters pp = d->presentParameters();
    TexturePtr rtTex;
    ASSERT_EQ(
        d->createTexture(64, 48, 1, kUsageRenderTarget, Format::X8R8G8B8, Pool::Default, &rtTex),
        kOk);
    SurfacePtr plain;
    ASSERT_EQ(d->createOffscreenPlainSurface(8, 8, Format::A8R8G8B8, Pool::Default, &plain), kOk);
    VertexBufferPtr vb;
    ASSERT_EQ(d->createVertexBuffer(672, 0, kFvfScreenVertex, Pool::Default, &vb), kOk);

    EXPECT_EQ(d->reset(pp), kInvalidCall);
    EXPECT_EQ(d->testCooperativeLevel(),
              kDeviceNotReset);  // a failed reset leaves the device waiting
    rtTex.reset();
    EXPECT_EQ(d->reset(pp), kInvalidCall);
    plain.reset();
    EXPECT_EQ(d->reset(pp), kInvalidCall);
    vb.reset();
    EXPECT_EQ(d->reset(pp), kOk);
    EXPECT_EQ(d->testCooperativeLevel(), kOk);

    // A level surface keeps its texture's memory, and so the count, alive.
    ASSERT_EQ(
        d->createTexture(16, 16, 1, kUsageRenderTarget, Format::X8R8G8B8, Pool::Default, &rtTex),
        kOk);
    SurfacePtr level;
    rtTex->getSurfaceLevel(0, &level);
    rtTex.reset();
    EXPECT_EQ(d->reset(pp), kInvalidCall);
    level.reset();
    EXPECT_EQ(d->reset(pp), kOk);

    // So does a back buffer held across the reset.
    SurfacePtr bb;
    d->getBackBuffer(&bb);
    EXPECT_EQ(d->reset(pp), kInvalidCall);
    bb.reset();
    EXPECT_EQ(d->reset(pp), kOk);
}

TEST(GfxPools, ManagedAndSystemMemoryResourcesSurviveResetAndDevice) {
    auto d = makeDevice(64, 48);
    TexturePtr managed;
    ASSERT_EQ(d->createTexture(4, 4, 1, 0, Format::A8R8G8B8, Pool::Managed, &managed), kOk);
    SurfacePtr sys;
    ASSERT_EQ(d->createOffscreenPlainSurface(4, 4, Format::X8R8G8B8, Pool::SystemMem, &sys), kOk);
    VertexBufferPtr vb;
    ASSERT_EQ(d->createVertexBuffer(28, 0, kFvfScreenVertex, Pool::Managed, &vb), kOk);
    LockedRect lr;
    ASSERT_EQ(managed->lockRect(0, &lr, nullptr, 0), kOk);
    static_cast<uint32_t*>(lr.bits)[5] = 0x12345678u;
    managed->unlockRect(0);
    void* p;
    ASSERT_EQ(vb->lock(0, 0, &p, 0), kOk);
    static_cast<uint8_t*>(p)[27] = 99;
    vb->unlock();

    PresentParameters pp = d->presentParameters();
    pp.backBufferWidth = 80;
    pp.backBufferHeight = 20;
    ASSERT_EQ(d->reset(pp), kOk);
    SurfacePtr bb;
    d->getBackBuffer(&bb);
    SurfaceDesc desc;
    bb->getDesc(&desc);
    EXPECT_EQ(desc.width, 80u);
    EXPECT_EQ(desc.height, 20u);
    EXPECT_EQ(desc.format, Format::X8R8G8B8);
    EXPECT_EQ(desc.usage, kUsageRenderTarget);
    bb.reset();

    d.reset();  // the device goes; its resources stay usable
    ASSERT_EQ(managed->lockRect(0, &lr, nullptr, kLockReadOnly), kOk);
    EXPECT_EQ(static_cast<uint32_t*>(lr.bits)[5], 0x12345678u);
    managed->unlockRect(0);
    ASSERT_EQ(vb->lock(27, 1, &p, 0), kOk);
    EXPECT_EQ(*static_cast<uint8_t*>(p), 99);
    vb->unlock();
    ASSERT_EQ(sys->lockRect(&lr, nullptr, 0), kOk);
    sys->unlockRect();
}

TEST(GfxPools, ResetRestoresDefaultStatesAndTheBackBufferTarget) {
    auto d = makeDevice(8, 8);
    setDefaultStates(*d);
    ASSERT_EQ(d->reset(d->presentParameters()), kOk);
    // The vertex format is forgotten: drawing needs it set again.
    auto tex = makeTexture(*d, 1, 1, {0xFFFFFFFFu});
    VertexBufferPtr vb;
    d->createVertexBuffer(168, 0, kFvfScreenVertex, Pool::Managed, &vb);
    d->setStreamSource(0, vb, 0, 28);
    d->beginScene();
    EXPECT_EQ(d->drawPrimitive(PrimitiveType::TriangleList, 0, 2), kInvalidCall);
    d->endScene();
    SurfacePtr rt, bb;
    d->getRenderTarget(0, &rt);
    d->getBackBuffer(&bb);
    EXPECT_EQ(rt, bb);
}

TEST(GfxLocks, RulesOfDirect3D) {
    auto d = makeDevice(16, 16);
    // Render targets and default-pool textures are not lockable; read them back instead.
    TexturePtr rtTex, defTex;
    ASSERT_EQ(
        d->createTexture(8, 8, 1, kUsageRenderTarget, Format::A8R8G8B8, Pool::Default, &rtTex),
        kOk);
    ASSERT_EQ(d->createTexture(8, 8, 1, 0, Format::A8R8G8B8, Pool::Default, &defTex), kOk);
    LockedRect lr;
    EXPECT_EQ(rtTex->lockRect(0, &lr, nullptr, 0), kInvalidCall);
    EXPECT_EQ(defTex->lockRect(0, &lr, nullptr, 0), kInvalidCall);
    SurfacePtr bb;
    d->getBackBuffer(&bb);
    EXPECT_EQ(bb->lockRect(&lr, nullptr, kLockReadOnly), kInvalidCall);
    // Render targets live in the default pool only.
    TexturePtr t;
    EXPECT_EQ(d->createTexture(8, 8, 1, kUsageRenderTarget, Format::A8R8G8B8, Pool::Managed, &t),
              kInvalidCall);
    SurfacePtr s;
    EXPECT_EQ(d->createOffscreenPlainSurface(8, 8, Format::A8R8G8B8, Pool::Managed, &s),
              kInvalidCall);

    // A locked level cannot be locked again, through the texture or its surface.
    TexturePtr m;
    ASSERT_EQ(d->createTexture(8, 4, 1, 0, Format::A8R8G8B8, Pool::Managed, &m), kOk);
    SurfacePtr level;
    m->getSurfaceLevel(0, &level);
    ASSERT_EQ(m->lockRect(0, &lr, nullptr, 0), kOk);
    EXPECT_EQ(lr.pitch, 32);
    void* whole = lr.bits;
    LockedRect again;
    EXPECT_EQ(m->lockRect(0, &again, nullptr, 0), kInvalidCall);
    EXPECT_EQ(level->lockRect(&again, nullptr, 0), kInvalidCall);
    // Drawing from a locked texture is refused.
    setDefaultStates(*d);
    EXPECT_EQ(draw(*d, m, rectQuad(0, 0, 8, 8, 0xFFFFFFFFu)), kInvalidCall);
    EXPECT_EQ(m->unlockRect(0), kOk);
    EXPECT_EQ(m->unlockRect(0), kInvalidCall);
    EXPECT_EQ(m->lockRect(1, &lr, nullptr, 0), kInvalidCall);

    // A rectangle lock points at its corner with the surface's pitch.
    Rect r{2, 1, 5, 3};
    ASSERT_EQ(level->lockRect(&lr, &r, 0), kOk);
    EXPECT_EQ(lr.bits, static_cast<uint8_t*>(whole) + 1 * 32 + 2 * 4);
    level->unlockRect();
    Rect outside{2, 1, 9, 3};
    EXPECT_EQ(level->lockRect(&lr, &outside, 0), kInvalidCall);

    // Vertex buffers lock by byte range, nested locks allowed.
    VertexBufferPtr vb;
    ASSERT_EQ(d->createVertexBuffer(672, 0, kFvfScreenVertex, Pool::Managed, &vb), kOk);
    void* p;
    EXPECT_EQ(vb->lock(0, 168, &p, 0), kOk);
    EXPECT_EQ(vb->lock(504, 168, &p, 0), kOk);
    EXPECT_EQ(vb->lock(600, 100, &p, 0), kInvalidCall);
    EXPECT_EQ(vb->unlock(), kOk);
    EXPECT_EQ(vb->unlock(), kOk);
    EXPECT_EQ(vb->unlock(), kInvalidCall);

    // System-memory textures cannot be drawn from.
    TexturePtr sysTex;
    ASSERT_EQ(d->createTexture(8, 8, 1, 0, Format::A8R8G8B8, Pool::SystemMem, &sysTex), kOk);
    EXPECT_EQ(d->setTexture(0, sysTex), kInvalidCall);
}

TEST(GfxLocks, ReadBackNeedsMatchingSystemMemorySurface) {
    auto d = makeDevice(16, 12);
    SurfacePtr bb, ok, small, wrongFormat, defaultPool;
    d->getBackBuffer(&bb);
    d->createOffscreenPlainSurface(16, 12, Format::X8R8G8B8, Pool::SystemMem, &ok);
    d->createOffscreenPlainSurface(8, 12, Format::X8R8G8B8, Pool::SystemMem, &small);
    d->createOffscreenPlainSurface(16, 12, Format::A8R8G8B8, Pool::SystemMem, &wrongFormat);
    d->createOffscreenPlainSurface(16, 12, Format::X8R8G8B8, Pool::Default, &defaultPool);
    EXPECT_EQ(d->getRenderTargetData(bb, ok), kOk);
    EXPECT_EQ(d->getRenderTargetData(bb, small), kInvalidCall);
    EXPECT_EQ(d->getRenderTargetData(bb, wrongFormat), kInvalidCall);
    EXPECT_EQ(d->getRenderTargetData(bb, defaultPool), kInvalidCall);
    EXPECT_EQ(d->getRenderTargetData(ok, ok), kInvalidCall);  // not a render target
    LockedRect lr;
    ok->lockRect(&lr, nullptr, 0);
    EXPECT_EQ(d->getRenderTargetData(bb, ok), kInvalidCall);  // destination locked
    ok->unlockRect();
    // Only render targets can be made current.
    EXPECT_EQ(d->setRenderTarget(0, ok), kInvalidCall);
    EXPECT_EQ(d->setRenderTarget(0, nullptr), kInvalidCall);
}

TEST(GfxSizes, PowerOfTwoModeAndMaximumSize) {
    DeviceOptions o;
    o.powerOfTwoOnly = true;
    o.maxTextureSize = 2048;
    auto d = makeDevice(1366, 768, o);
    TexturePtr t;
    ASSERT_EQ(
        d->createTexture(1366, 768, 1, kUsageRenderTarget, Format::X8R8G8B8, Pool::Default, &t),
        kOk);
    SurfaceDesc desc;
    t->getLevelDesc(0, &desc);
    EXPECT_EQ(desc.width, 2048u);
    EXPECT_EQ(desc.height, 1024u);
    ASSERT_EQ(d->createTexture(128, 128, 1, 0, Format::A8R8G8B8, Pool::Managed, &t), kOk);
    t->getLevelDesc(0, &desc);
    EXPECT_EQ(desc.width, 128u);
    EXPECT_EQ(d->createTexture(2049, 4, 1, 0, Format::A8R8G8B8, Pool::Managed, &t), kInvalidCall);
    Caps caps;
    d->getDeviceCaps(&caps);
    EXPECT_EQ(caps.TextureCaps & 0x2, 0x2u);
    EXPECT_EQ(caps.MaxTextureWidth, 2048u);
    EXPECT_EQ(caps.MaxTextureHeight, 2048u);
    // Plain surfaces and the back buffer keep their size.
    SurfacePtr s;
    ASSERT_EQ(d->createOffscreenPlainSurface(1366, 768, Format::X8R8G8B8, Pool::SystemMem, &s),
              kOk);
    s->getDesc(&desc);
    EXPECT_EQ(desc.width, 1366u);

    DeviceOptions plain;
    plain.maxTextureSize = 1600;
    auto e = makeDevice(64, 64, plain);
    ASSERT_EQ(e->createTexture(1366, 768, 1, 0, Format::A8R8G8B8, Pool::Managed, &t), kOk);
    t->getLevelDesc(0, &desc);
    EXPECT_EQ(desc.width, 1366u);
    EXPECT_EQ(e->createTexture(1600, 1600, 1, 0, Format::A8R8G8B8, Pool::Managed, &t), kOk);
    EXPECT_EQ(e->createTexture(1601, 10, 1, 0, Format::A8R8G8B8, Pool::Managed, &t), kInvalidCall);
    e->getDeviceCaps(&caps);
    EXPECT_EQ(caps.TextureCaps & 0x2, 0u);
}

TEST(GfxCaps, RecordDescribesWhatTheDeviceDoes) {
    auto d = makeDevice(8, 8);
    Caps caps;
    ASSERT_EQ(d->getDeviceCaps(&caps), kOk);
    for (uint32_t bit :
         {kBlendCapsOne, kBlendCapsSrcAlpha, kBlendCapsInvSrcAlpha, kBlendCapsInvDestColor}) {
        EXPECT_TRUE(caps.SrcBlendCaps & bit);
        EXPECT_TRUE(caps.DestBlendCaps & bit);
    }
    EXPECT_EQ(caps.TextureOpCaps, kTexOpCapsDisable | 0x2u | 0x4u | kTexOpCapsModulate);
    EXPECT_EQ(caps.MaxTextureWidth, 8192u);
    EXPECT_EQ(caps.MaxSimultaneousTextures, 1u);
    DisplayMode mode;
    ASSERT_EQ(d->getDisplayMode(&mode), kOk);
    EXPECT_EQ(mode.width, 1600u);
    EXPECT_EQ(mode.height, 1200u);
}

TEST(GfxPresent, FrontBufferHoldsThePresentedFrame) {
    auto d = makeDevice(5, 3);
    EXPECT_TRUE(d->frontBuffer().empty());
    ASSERT_EQ(d->clear(kClearTarget, 0x00ABCDEFu, 1, 0), kOk);
    ASSERT_EQ(d->present(), kOk);
    ASSERT_EQ(d->frontBuffer().size(), 15u);
    EXPECT_EQ(d->frontBuffer()[14], 0xFFABCDEFu);
    d->clear(kClearTarget, 0x00111111u, 1, 0);
    EXPECT_EQ(d->frontBuffer()[0], 0xFFABCDEFu);  // not until the next present
    SurfacePtr shot;
    ASSERT_EQ(d->createOffscreenPlainSurface(5, 3, Format::A8R8G8B8, Pool::SystemMem, &shot), kOk);
    ASSERT_EQ(d->getFrontBufferData(0, shot), kOk);
    LockedRect lr;
    shot->lockRect(&lr, nullptr, kLockReadOnly);
    EXPECT_EQ(static_cast<uint32_t*>(lr.bits)[7], 0xFFABCDEFu);
    shot->unlockRect();
}

TEST(GfxPresent, ATargetGetsTheFrameOnceFramedAndPointSampled) {
    // A 4 x 2 frame of unique pixels, over a clear colour in the right half's lower row.
    auto d = makeDevice(4, 2);
    setDefaultStates(*d);
    ASSERT_EQ(d->clear(kClearTarget, 0x00123456u, 1, 0), kOk);
    auto tex = makeTexture(*d, 3, 1, {0xFF0000FFu, 0xFF00FF00u, 0xFFFF0000u});
    ASSERT_EQ(draw(*d, tex, rectQuad(0, 0, 3, 1, 0xFFFFFFFFu)), kOk);
    const uint32_t frame[8] = {0xFF0000FFu, 0xFF00FF00u, 0xFFFF0000u, 0xFF123456u,
                               0xFF123456u, 0xFF123456u, 0xFF123456u, 0xFF123456u};
    const uint32_t junk = 0x5A5A5A5Au;

    // Same size, inside a wider buffer whose row pitch is longer still.
    std::vector<uint32_t> shown(10 * 4, junk);
    PresentTarget t;
    t.pixels = shown.data();
    t.pitch = 10;
    t.width = 8;
    t.height = 4;
    t.frame = Rect{2, 1, 6, 3};
    ASSERT_EQ(d->present(&t), kOk);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 10; ++x) {
            uint32_t want = x >= 8                                 ? junk
                            : (x >= 2 && x < 6 && y >= 1 && y < 3) ? frame[(y - 1) * 4 + x - 2]
                                                                   : 0xFF000000u;
            EXPECT_EQ(shown[size_t(y) * 10 + x], want) << x << "," << y;
        }
    EXPECT_TRUE(d->frontBuffer().empty()) << "a present into a target made a copy of its own";

    // Twice the size: every pixel becomes a 2 x 2 block, nothing blended.
    shown.assign(8 * 4, junk);
    t.pitch = 8;
    t.frame = Rect{0, 0, 8, 4};
    ASSERT_EQ(d->present(&t), kOk);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 8; ++x)
            EXPECT_EQ(shown[size_t(y) * 8 + x], frame[(y / 2) * 4 + x / 2]) << x << "," << y;

    // A frame reaching past the buffer is cut at its edges, never written beyond.
    shown.assign(8 * 4, junk);
    t.frame = Rect{-4, 2, 4, 6};
    ASSERT_EQ(d->present(&t), kOk);
    EXPECT_EQ(shown[0], 0xFF000000u);
    EXPECT_EQ(shown[2 * 8 + 0], frame[2]);  // the frame's left half is cut away
    EXPECT_EQ(shown[2 * 8 + 3], frame[3]);
    EXPECT_EQ(shown[2 * 8 + 4], 0xFF000000u);
    EXPECT_EQ(shown[3 * 8 + 3], frame[3]);
}

TEST(GfxPresent, ABackBufferInTheWindowsMemoryIsShownWithoutACopy) {
    auto d = makeDevice(4, 2);
    setDefaultStates(*d);
    std::vector<uint32_t> shown(8, 0x5A5A5A5Au);
    ASSERT_EQ(d->clear(kClearTarget, 0x00123456u, 1, 0), kOk);
    auto tex = makeTexture(*d, 1, 1, {0xFF00FF00u});
    ASSERT_EQ(draw(*d, tex, rectQuad(0, 0, 1, 1, 0xFFFFFFFFu)), kOk);
    // Handed over mid-frame: what was drawn comes along.
    ASSERT_EQ(d->shareBackBuffer(shown.data()), kOk);
    EXPECT_EQ(d->backBufferPixels(), shown.data());
    ASSERT_EQ(draw(*d, tex, rectQuad(3, 1, 4, 2, 0xFFFFFFFFu)), kOk);
    PresentTarget t;
    t.pixels = shown.data();
    t.pitch = 4;
    t.width = 4;
    t.height = 2;
    t.frame = Rect{0, 0, 4, 2};
    ASSERT_EQ(d->present(&t), kOk);
    // The pending clear is written where nothing was drawn; the draws are where they were.
    EXPECT_EQ(shown[0], 0xFF00FF00u);
    EXPECT_EQ(shown[7], 0xFF00FF00u);
    for (int i : {1, 2, 3, 4, 5, 6}) EXPECT_EQ(shown[size_t(i)] & 0xFFFFFFu, 0x123456u) << i;
    // Given back, the device keeps the frame in memory of its own.
    ASSERT_EQ(d->shareBackBuffer(nullptr), kOk);
    EXPECT_NE(d->backBufferPixels(), shown.data());
    std::fill(shown.begin(), shown.end(), 0u);
    EXPECT_EQ(readBackBuffer(*d)[7], 0xFF00FF00u);
    // A reset also leaves the window's memory alone.
    ASSERT_EQ(d->shareBackBuffer(shown.data()), kOk);
    ASSERT_EQ(d->reset(d->presentParameters()), kOk);
    EXPECT_NE(d->backBufferPixels(), shown.data());
}

TEST(GfxClear, ClearingOnlyWhatWasDrawnLeavesAWholeClear) {
    auto d = makeDevice(50, 40);
    setDefaultStates(*d);
    auto tex = makeTexture(*d, 1, 1, {0xFFFFFFFFu});
    d->clear(kClearTarget, 0, 1, 0);
    draw(*d, tex, rectQuad(3, 4, 20, 30, 0xFFFFFFFFu));
    d->clear(kClearTarget, 0, 1, 0);
    draw(*d, tex, rectQuad(30, 1, 45, 6, 0xFFFFFFFFu));
    d->clear(kClearTarget, 0, 1, 0);
    for (uint32_t p : readBackBuffer(*d)) ASSERT_EQ(p, 0xFF000000u);
    // Another colour clears everything.
    draw(*d, tex, rectQuad(30, 1, 45, 6, 0xFFFFFFFFu));
    d->clear(kClearTarget, 0x00204060u, 1, 0);
    for (uint32_t p : readBackBuffer(*d)) ASSERT_EQ(p, 0xFF204060u);
    EXPECT_EQ(d->clear(kClearTarget | 0x2, 0, 1, 0), kInvalidCall);  // no depth buffer
}

TEST(GfxScene, DrawingNeedsASceneAndTheScreenVertexFormat) {
    auto d = makeDevice(8, 8);
    EXPECT_EQ(d->endScene(), kInvalidCall);
    EXPECT_EQ(d->beginScene(), kOk);
    EXPECT_EQ(d->beginScene(), kInvalidCall);
    EXPECT_EQ(d->endScene(), kOk);
    EXPECT_EQ(d->setFVF(0x142), kInvalidCall);
    VertexBufferPtr vb;
    d->createVertexBuffer(168, 0, kFvfScreenVertex, Pool::Managed, &vb);
    EXPECT_EQ(d->setStreamSource(0, vb, 0, 32), kInvalidCall);
    ASSERT_EQ(d->setStreamSource(0, vb, 0, 28), kOk);
    d->setFVF(kFvfScreenVertex);
    EXPECT_EQ(d->drawPrimitive(PrimitiveType::TriangleList, 0, 2),
              kInvalidCall);  // outside a scene
    d->beginScene();
    EXPECT_EQ(d->drawPrimitive(PrimitiveType::TriangleList, 0, 2), kOk);
    EXPECT_EQ(d->drawPrimitive(PrimitiveType::TriangleList, 1, 2),
              kInvalidCall);  // past the buffer
    d->endScene();
}

}  // namespace
}  // namespace gx::gfx::test
