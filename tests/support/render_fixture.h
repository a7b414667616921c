// A software device, a clean world, body list, sprites and error report for each
// test, the ring tables built once per program, and small builders for bodies.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "bodies/bodies.h"
#include "bodies/ring_tables.h"
#include "bodies/sprite_texels.h"
#include "bodies/sprites.h"
#include "framework/failures.h"
#include "framework/framework.h"
#include "platform/gfx/gfx.h"
#include "platform/os/message_box.h"
#include "render/collision_surfaces.h"
#include "render/frame.h"
#include "render/resources.h"
#include "render/sprite_quads.h"
#include "support/builders.h"
#include "support/rings.h"
#include "support/temp_folder.h"
#include "ui/error_report.h"
#include "universe/world.h"

namespace gx::testing {

inline void ensureRingTables() { gxtest::ensureRingTables(); }

struct Box {
    std::string text, caption;
};

class RenderTest : public ::testing::Test {
protected:
    void SetUp() override {
        home = gxtest::makeTempDir("gx_render");
        ASSERT_FALSE(home.empty());
        setenv("GLIMMERAX_HOME", home.c_str(), 1);
        frameworkResetForTests();
        resetErrorReport();
        connectErrorReport();
        boxes.clear();
        setMessageBoxSink([this](const std::string& t, const std::string& c) {
            boxes.push_back({t, c});
        });
        renderHooks() = RenderHooks{};
        errorReportSources() = ErrorReportSources{};
        resetRenderResources();
        resetCollisionSurfaces();
        resetSimulation();
        ensureRingTables();
        makeDevice(screenW, screenH);
        onDeviceCreated(device.get());
        onDeviceReset(device.get());
        resetSprites();
    }

    void TearDown() override {
        freeSprites();
        onDeviceLost();
        onDeviceDestroyed();
        resetRenderResources();
        resetCollisionSurfaces();
        resetSimulation();
        device.reset();
        setMessageBoxSink({});
        renderHooks() = RenderHooks{};
        errorReportSources() = ErrorReportSources{};
        resetErrorReport();
        setInternalErrorReporter(nullptr);
        frameworkResetForTests();
        gxtest::removeTree(home);
        unsetenv("GLIMMERAX_HOME");
    }

    void makeDevice(uint32_t w, uint32_t h) {
        gfx::PresentParameters pp;
        pp.backBufferWidth = w;
        pp.backBufferHeight = h;
        pp.windowed = true;
        device.reset();
        ASSERT_EQ(gfx::createDevice(pp, gfx::DeviceOptions{}, &device), gfx::kOk);
    }

    // The back buffer as it reads now, screenW pixels a row, low 24 bits.
    std::vector<uint32_t> screenPixels() {
        std::vector<uint32_t> out;
        gfx::SurfacePtr bb, copy;
        EXPECT_EQ(device->getBackBuffer(&bb), gfx::kOk);
        EXPECT_EQ(device->createOffscreenPlainSurface(screenW, screenH, gfx::Format::X8R8G8B8,
                                                      gfx::Pool::SystemMem, &copy),
                  gfx::kOk);
        if (!bb || !copy || gfx::failed(device->getRenderTargetData(bb, copy))) return out;
        gfx::LockedRect lr;
        EXPECT_EQ(copy->lockRect(&lr, nullptr, gfx::kLockReadOnly), gfx::kOk);
        for (uint32_t y = 0; y < screenH; ++y)
            for (uint32_t x = 0; x < screenW; ++x)
                out.push_back(static_cast<uint32_t*>(lr.bits)[size_t(y) * (lr.pitch / 4) + x] &
                              0xFFFFFFu);
        copy->unlockRect();
        return out;
    }

    // The error report of this test, empty when none was written.
    std::string report() const {
        std::ifstream in(home + "/error.log");
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    // n free particles, every one on the loose list and out of the grid.
    void makeParticles(uint32_t n) {
        gxtest::ParticleSetup setup;
        setup.mass = 100.0f;
        setup.onLooseList = true;
        setup.colourOf = [](uint32_t i) { return 0xFF000000u | (0x010203u * (i + 1)); };
        ASSERT_TRUE(gxtest::makeParticles(n, setup));
    }

    // A body at (cx, cy) of the given radius whose members are particles [first, first + n).
    Body* makeBody(float cx, float cy, float radius, uint32_t first, uint32_t n) {
        Body* b = newBody();
        EXPECT_NE(b, nullptr);
        if (!b) return nullptr;
        b->centroid = {cx, cy};
        b->radius = radius;
        for (uint32_t i = first; i < first + n; ++i) gxtest::appendMember(b, &sim.particles[i]);
        return b;
    }

    static std::vector<Particle*> members(const Body* b) {
        std::vector<Particle*> out;
        for (Particle* p = b->head; p && out.size() < 100000; p = p->memberNext) out.push_back(p);
        return out;
    }

    static std::vector<Particle*> extras(const BodySprite* s) {
        std::vector<Particle*> out;
        for (Particle* p = s->extraHead; p && out.size() < 100000; p = p->memberNext)
            out.push_back(p);
        return out;
    }

    // Texel (x, y) of a sprite's texture, read through a lock of its own.
    static uint32_t texel(const BodySprite* s, int x, int y) {
        int32_t stride = 0;
        uint32_t* bits = lockSpriteTexture(s->slot->texture, gfx::kLockReadOnly, &stride);
        EXPECT_NE(bits, nullptr);
        if (!bits) return 0xDEADBEEF;
        uint32_t v = bits[size_t(y) * size_t(stride) + size_t(x)];
        s->slot->texture->unlockRect(0);
        return v;
    }

    static void setTexel(BodySprite* s, int x, int y, uint32_t v) {
        int32_t stride = 0;
        uint32_t* bits = lockSpriteTexture(s->slot->texture, 0, &stride);
        ASSERT_NE(bits, nullptr);
        bits[size_t(y) * size_t(stride) + size_t(x)] = v;
        s->slot->texture->unlockRect(0);
    }

    static void clearTexels(BodySprite* s) {
        int32_t stride = 0;
        uint32_t* bits = lockSpriteTexture(s->slot->texture, 0, &stride);
        ASSERT_NE(bits, nullptr);
        for (int y = 0; y < s->height; ++y)
            for (int x = 0; x < s->width; ++x) bits[size_t(y) * size_t(stride) + size_t(x)] = 0;
        s->slot->texture->unlockRect(0);
    }

    static int setTexelCount(const BodySprite* s) {
        int32_t stride = 0;
        uint32_t* bits = lockSpriteTexture(s->slot->texture, gfx::kLockReadOnly, &stride);
        if (!bits) return -1;
        int n = 0;
        for (int y = 0; y < s->height; ++y)
            for (int x = 0; x < s->width; ++x)
                n += bits[size_t(y) * size_t(stride) + size_t(x)] != 0;
        s->slot->texture->unlockRect(0);
        return n;
    }

    // The vertices of a sprite's slot.
    static std::vector<ScreenVertex> slotVertices(const BodySprite* s) {
        void* data = nullptr;
        std::vector<ScreenVertex> out(24);
        const gfx::VertexBufferPtr& vb = s->slot->vertexBuffer;
        EXPECT_EQ(vb->lock(uint32_t(s->slot->firstVertex) * 28, 672, &data, gfx::kLockReadOnly),
                  gfx::kOk);
        if (data) std::memcpy(out.data(), data, 672);
        vb->unlock();
        return out;
    }

    uint32_t screenW = 200, screenH = 150;
    std::string home;
    std::unique_ptr<gfx::Device> device;
    std::vector<Box> boxes;
};

// The renderer's screen as a frame sees it: a world as wide as the capture surface's rows
// and the picture quad, for tests of frames and of the particle pass.
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

// Sprites without the simulation: records handed to bodies, bodies packed around a point.
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

}  // namespace gx::testing
