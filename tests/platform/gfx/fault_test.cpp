// Injected faults and device loss surface as failed results.
#include <cstdlib>

#include "gfx_test_util.h"
#include "platform/gfx/faults.h"

namespace gx::gfx::test {
namespace {

TEST(GfxFaults, NthCreateOfAKindFails) {
    auto d = makeDevice(8, 8);
    TexturePtr t;
    SurfacePtr s;
    VertexBufferPtr vb;
    d->injectFault(FaultOp::Create, FaultResource::Texture, 2);
    EXPECT_EQ(d->createTexture(4, 4, 1, 0, Format::A8R8G8B8, Pool::Managed, &t), kOk);
    EXPECT_EQ(d->createOffscreenPlainSurface(4, 4, Format::A8R8G8B8, Pool::SystemMem, &s),
              kOk);  // other kind
    EXPECT_TRUE(failed(d->createTexture(4, 4, 1, 0, Format::A8R8G8B8, Pool::Managed, &t)));
    EXPECT_EQ(d->createTexture(4, 4, 1, 0, Format::A8R8G8B8, Pool::Managed, &t), kOk);  // once only

    d->injectFault(FaultOp::Create, FaultResource::Surface, 1);
    EXPECT_TRUE(
        failed(d->createOffscreenPlainSurface(4, 4, Format::A8R8G8B8, Pool::SystemMem, &s)));
    d->injectFault(FaultOp::Create, FaultResource::VertexBuffer, 1);
    EXPECT_TRUE(failed(d->createVertexBuffer(28, 0, kFvfScreenVertex, Pool::Managed, &vb)));
    d->injectFault(FaultOp::Create, FaultResource::RenderTarget, 1);
    EXPECT_EQ(d->createTexture(4, 4, 1, 0, Format::A8R8G8B8, Pool::Managed, &t), kOk);
    EXPECT_TRUE(
        failed(d->createTexture(4, 4, 1, kUsageRenderTarget, Format::A8R8G8B8, Pool::Default, &t)));
    d->injectFault(FaultOp::Create, FaultResource::Any, 1);
    EXPECT_TRUE(failed(d->createVertexBuffer(28, 0, kFvfScreenVertex, Pool::Managed, &vb)));
    EXPECT_EQ(d->createVertexBuffer(28, 0, kFvfScreenVertex, Pool::Managed, &vb), kOk);
}

TEST(GfxFaults, NthLockAndReadBackFail) {
    auto d = makeDevice(8, 8);
    TexturePtr t;
    d->createTexture(4, 4, 1, 0, Format::A8R8G8B8, Pool::Managed, &t);
    SurfacePtr level, plain, copy, bb;
    t->getSurfaceLevel(0, &level);
    d->createOffscreenPlainSurface(4, 4, Format::A8R8G8B8, Pool::SystemMem, &plain);
    VertexBufferPtr vb;
    d->createVertexBuffer(28, 0, kFvfScreenVertex, Pool::Managed, &vb);
    LockedRect lr;
    void* p;

    d->injectFault(FaultOp::Lock, FaultResource::Texture, 3);
    EXPECT_EQ(t->lockRect(0, &lr, nullptr, 0), kOk);
    t->unlockRect(0);
    EXPECT_EQ(plain->lockRect(&lr, nullptr, 0), kOk);  // not a texture
    plain->unlockRect();
    EXPECT_EQ(level->lockRect(&lr, nullptr, 0), kOk);
    level->unlockRect();
    EXPECT_TRUE(failed(t->lockRect(0, &lr, nullptr, 0)));
    EXPECT_EQ(t->unlockRect(0), kInvalidCall);  // the failed lock left it unlocked
    EXPECT_EQ(t->lockRect(0, &lr, nullptr, 0), kOk);
    t->unlockRect(0);

    d->injectFault(FaultOp::Lock, FaultResource::Surface, 1);
    EXPECT_TRUE(failed(plain->lockRect(&lr, nullptr, 0)));
    d->injectFault(FaultOp::Lock, FaultResource::VertexBuffer, 1);
    EXPECT_TRUE(failed(vb->lock(0, 0, &p, 0)));

    // A texture that outlives its device still honours the armed fault.
    d->injectFault(FaultOp::Lock, FaultResource::Any, 1);

    d->getBackBuffer(&bb);
    d->createOffscreenPlainSurface(8, 8, Format::X8R8G8B8, Pool::SystemMem, &copy);
    SurfacePtr shot;
    d->createOffscreenPlainSurface(8, 8, Format::A8R8G8B8, Pool::SystemMem, &shot);
    d->injectFault(FaultOp::ReadBack, FaultResource::RenderTarget, 2);
    EXPECT_EQ(d->getRenderTargetData(bb, copy), kOk);
    EXPECT_TRUE(failed(d->getRenderTargetData(bb, copy)));
    d->injectFault(FaultOp::ReadBack, FaultResource::Surface, 1);
    EXPECT_TRUE(failed(d->getFrontBufferData(0, shot)));
    d->injectFault(FaultOp::ReadBack, FaultResource::Any, 1);
    EXPECT_TRUE(failed(d->getRenderTargetData(bb, copy)));
    EXPECT_EQ(d->getRenderTargetData(bb, copy), kOk);

    bb.reset();
    d.reset();
    EXPECT_TRUE(failed(t->lockRect(0, &lr, nullptr, 0)));
    EXPECT_EQ(t->lockRect(0, &lr, nullptr, 0), kOk);
    t->unlockRect(0);

    auto e = makeDevice(8, 8);
    e->injectFault(FaultOp::Lock, FaultResource::Any, 1);
    e->clearFaults();
    TexturePtr u;
    e->createTexture(4, 4, 1, 0, Format::A8R8G8B8, Pool::Managed, &u);
    EXPECT_EQ(u->lockRect(0, &lr, nullptr, 0), kOk);
}

TEST(GfxFaults, LostDeviceIsReportedThenResettable) {
    auto d = makeDevice(8, 8);
    PresentParameters pp = d->presentParameters();
    EXPECT_EQ(d->present(), kOk);
    d->setLost(true);
    EXPECT_EQ(d->present(), kDeviceLost);
    SurfacePtr bb, copy;
    d->getBackBuffer(&bb);
    d->createOffscreenPlainSurface(8, 8, Format::X8R8G8B8, Pool::SystemMem, &copy);
    EXPECT_EQ(d->getRenderTargetData(bb, copy), kDeviceLost);
    bb.reset();
    EXPECT_EQ(d->reset(pp), kDeviceLost);  // not yet
    EXPECT_EQ(d->testCooperativeLevel(), kDeviceLost);
    EXPECT_EQ(d->testCooperativeLevel(), kDeviceNotReset);
    EXPECT_EQ(d->present(), kDeviceLost);
    EXPECT_EQ(d->reset(pp), kOk);
    EXPECT_EQ(d->testCooperativeLevel(), kOk);
    EXPECT_EQ(d->present(), kOk);

    d->setLost(true);
    d->setLost(false);  // the cause went away: a reset is still due
    EXPECT_EQ(d->testCooperativeLevel(), kDeviceNotReset);
    EXPECT_EQ(d->reset(pp), kOk);

    d->loseAtPresent(3);
    EXPECT_EQ(d->present(), kOk);
    EXPECT_EQ(d->present(), kOk);
    EXPECT_EQ(d->present(), kDeviceLost);
    EXPECT_EQ(d->testCooperativeLevel(), kDeviceLost);
    EXPECT_EQ(d->testCooperativeLevel(), kDeviceNotReset);
}

TEST(GfxFaults, ListSyntax) {
    std::vector<FaultEntry> e;
    std::string bad;
    ASSERT_TRUE(parseFaultList(
        " lock:texture:5, create:Surface:1,readback:any:3 ,lost:frame:100,lock:vb:2", &e, &bad));
    ASSERT_EQ(e.size(), 5u);
    EXPECT_EQ(e[0].op, FaultOp::Lock);
    EXPECT_EQ(e[0].resource, FaultResource::Texture);
    EXPECT_EQ(e[0].nth, 5);
    EXPECT_EQ(e[1].op, FaultOp::Create);
    EXPECT_EQ(e[1].resource, FaultResource::Surface);
    EXPECT_EQ(e[2].op, FaultOp::ReadBack);
    EXPECT_EQ(e[2].resource, FaultResource::Any);
    EXPECT_TRUE(e[3].lostAtPresent);
    EXPECT_EQ(e[3].nth, 100);
    EXPECT_EQ(e[4].resource, FaultResource::VertexBuffer);
    for (const char* wrong :
         {"lock:texture", "lock:texture:0", "lock:texture:-1", "lock:pixels:1", "drop:any:1",
          "lost:texture:4", "lock:texture:5:6", "lock:texture:x"}) {
        e.clear();
        EXPECT_FALSE(parseFaultList(std::string("create:any:1,") + wrong, &e, &bad)) << wrong;
        EXPECT_EQ(bad, wrong);
        EXPECT_EQ(e.size(), 1u) << "the good entry is kept";
    }
}

TEST(GfxFaults, EnvironmentArmsFaultsOnNewDevices) {
    setenv("GLIMMERAX_FAULTS", "lock:texture:2,lost:frame:2", 1);
    auto d = makeDevice(8, 8);
    unsetenv("GLIMMERAX_FAULTS");
    TexturePtr t;
    d->createTexture(4, 4, 1, 0, Format::A8R8G8B8, Pool::Managed, &t);
    LockedRect lr;
    EXPECT_EQ(t->lockRect(0, &lr, nullptr, 0), kOk);
    t->unlockRect(0);
    EXPECT_TRUE(failed(t->lockRect(0, &lr, nullptr, 0)));
    EXPECT_EQ(d->present(), kOk);
    EXPECT_EQ(d->present(), kDeviceLost);

    auto clean = makeDevice(8, 8);
    clean->createTexture(4, 4, 1, 0, Format::A8R8G8B8, Pool::Managed, &t);
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(t->lockRect(0, &lr, nullptr, 0), kOk);
        t->unlockRect(0);
    }
}

}  // namespace
}  // namespace gx::gfx::test
