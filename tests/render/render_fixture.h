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
#include "render/resources.h"
#include "render/sprite_quads.h"
#include "support/rings.h"
#include "ui/error_report.h"
#include "ui/ring_generator.h"
#include "universe/world.h"

namespace gx::testing {

inline void ensureRingTables() { gxtest::ensureRingTables(); }

struct Box {
    std::string text, caption;
};

class RenderTest : public ::testing::Test {
protected:
    void SetUp() override {
        char name[] = "/tmp/gx_render_XXXXXX";
        const char* made = mkdtemp(name);
        ASSERT_NE(made, nullptr);
        home = made;
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
        std::error_code ec;
        std::filesystem::remove_all(home, ec);
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

    // The error report of this test, empty when none was written.
    std::string report() const {
        std::ifstream in(home + "/error.log");
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    // n free particles, every one on the loose list and out of the grid.
    void makeParticles(uint32_t n) {
        ASSERT_TRUE(allocateParticles(n));
        sim.particleCount = n;
        for (uint32_t i = 0; i < n; ++i) {
            Particle* p = &sim.particles[i];
            p->mass = 100.0f;
            p->cell = -1;
            p->links().listSelf = p;
            p->colour = 0xFF000000u | (0x010203u * (i + 1));
            appendToLooseList(p);
        }
    }

    // A body at (cx, cy) of the given radius whose members are particles [first, first + n).
    Body* makeBody(float cx, float cy, float radius, uint32_t first, uint32_t n) {
        Body* b = newBody();
        EXPECT_NE(b, nullptr);
        b->centroid = {cx, cy};
        b->radius = radius;
        for (uint32_t i = first; i < first + n; ++i) {
            Particle* p = &sim.particles[i];
            p->links().memberSelf = p;
            p->body = b;
            p->memberNext = nullptr;
            if (b->tail) b->tail->memberNext = p;
            else b->head = p;
            b->tail = p;
            b->memberCount += 1;
            b->mass += p->mass;
        }
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

}  // namespace gx::testing
