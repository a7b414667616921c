// The per-frame cost of one large body sprite: the whole update (turn, settle, quads)
// and the settling pass alone, on a sprite of radius 400 full of texels.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "bodies/bodies.h"
#include "bodies/ring_tables.h"
#include "bodies/sprite_texels.h"
#include "bodies/sprites.h"
#include "platform/gfx/gfx.h"
#include "render/resources.h"
#include "render/sprite_quads.h"
#include "support/rings.h"
#include "ui/ring_generator.h"
#include "universe/world.h"

namespace {

using namespace gx;

struct Scene {
    std::unique_ptr<gfx::Device> device;
    BodySprite* sprite = nullptr;
    Body* body = nullptr;
};

void buildRingTables() { gxtest::ensureRingTables(); }

// One body of radius 400 whose sprite holds a texel on every point of its disc.
Scene& scene() {
    static Scene s = [] {
        Scene sc;
        buildRingTables();
        gfx::PresentParameters pp;
        pp.backBufferWidth = 1600;
        pp.backBufferHeight = 1200;
        pp.windowed = true;
        gfx::createDevice(pp, gfx::DeviceOptions{}, &sc.device);
        onDeviceCreated(sc.device.get());
        initWorldSized(1600, 1200);
        resetBodies();
        resetSprites();
        sc.body = newBody();
        sc.body->centroid = {800.0f, 600.0f};
        sc.body->radius = 400.0f;
        sc.body->angularVelocity = 0.01f;
        sc.sprite = nextSprite();
        sc.sprite->body = sc.body;
        sc.body->group = sc.sprite;
        sim.spriteState.list.head = &sc.sprite->listNode;
        createSpriteTexture(sc.sprite, false);
        int32_t stride = 0;
        uint32_t* bits = lockSpriteTexture(sc.sprite->slot->texture, 0, &stride);
        for (int32_t i = 0; i < ringTables.ringStart[400]; ++i) {
            int32_t tx = 0, ty = 0;
            ringTexel(sc.sprite, i, &tx, &ty);
            if (texelInside(sc.sprite, tx, ty))
                bits[size_t(ty) * size_t(stride) + size_t(tx)] =
                    0xFF000000u | uint32_t(i & 0xFFFFFF);
        }
        sc.sprite->slot->texture->unlockRect(0);
        sc.sprite->reach = sc.body->radius;
        return sc;
    }();
    return s;
}

void BM_UpdateAllSprites(benchmark::State& state) {
    Scene& sc = scene();
    for (auto _ : state) {
        sc.sprite->settledRadius = 1;  // the whole disc every frame: the worst case
        updateAllSprites();
    }
}
BENCHMARK(BM_UpdateAllSprites)->Unit(benchmark::kMillisecond);

void BM_SettleSprite(benchmark::State& state) {
    Scene& sc = scene();
    for (auto _ : state) {
        sc.sprite->settledRadius = 1;
        sim.spriteState.markerFlag = !sim.spriteState.markerFlag;
        settleSprite(sc.sprite);
    }
}
BENCHMARK(BM_SettleSprite)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
