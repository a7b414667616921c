// The sprites' slots, textures and quads.
#include "render/sprite_quads.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

#include "bodies/bodies.h"
#include "bodies/ring_tables.h"
#include "bodies/sprite_surfaces.h"
#include "bodies/sprite_texels.h"
#include "framework/failures.h"
#include "render/collision_surfaces.h"
#include "render/resources.h"
#include "universe/world.h"

namespace gx {

namespace {

SpriteBlock* spriteBlocks = nullptr;  // current block at the head

constexpr int kVerticesPerSlot = 24;
constexpr uint32_t kSlotBytes = kVerticesPerSlot * sizeof(ScreenVertex);  // 672

// Corner offsets of the quad's six vertices from the sprite angle, with their u, v.
struct Corner {
    float offset, u, v;
};
constexpr Corner kCorners[6] = {
    {3.9269910f, 0, 0}, {0.78539819f, 1, 1}, {5.4977875f, 0, 1},
    {3.9269910f, 0, 0}, {2.3561945f, 1, 0},  {0.78539819f, 1, 1},
};

float correctHalfOpen(float a) {
    if (a > kPi) return a - kTwoPi;
    if (a <= -kPi) return a + kTwoPi;
    return a;
}

SpriteBlock* newSpriteBlock() {
    SpriteBlock* block = new (std::nothrow) SpriteBlock();
    if (!block) return nullptr;
    gfx::Device* device = screenLayout.device;
    if (!device ||
        gfx::failed(device->createVertexBuffer(SpriteBlock::kBufferBytes, 0, gfx::kFvfScreenVertex,
                                               gfx::Pool::Managed, &block->vertexBuffer))) {
        block->vertexBuffer.reset();
        internalError("Internal error - Failed to create all buffers.");
    }
    return block;
}

bool writeSlot(BodySprite* s, const ScreenVertex* vertices, uint32_t count, const char* failure) {
    void* data = nullptr;
    const gfx::VertexBufferPtr& vb = s->slot->vertexBuffer;
    if (!vb ||
        gfx::failed(vb->lock(uint32_t(s->slot->firstVertex) * sizeof(ScreenVertex), kSlotBytes,
                             &data, 0)) ||
        !data) {
        internalError(failure);
        return false;
    }
    std::memcpy(data, vertices, count * sizeof(ScreenVertex));
    vb->unlock();
    return true;
}

// A fresh set of slots, the first block made at once.
bool startSpriteSlots() {
    freeSpriteSlots();
    SpriteBlock* block = newSpriteBlock();
    if (!block) {
        reportOutOfMemory();
        return false;
    }
    spriteBlocks = block;
    return true;
}

}  // namespace

void connectSpriteSurfaces() {
    SpriteSurfaces& s = spriteSurfaces();
    s.startSlots = startSpriteSlots;
    s.freeSlots = freeSpriteSlots;
    s.nextSlot = nextSlot;
    s.createTexture = createSpriteTexture;
    s.buildQuads = buildSpriteQuads;
    s.lockReadback = lockCollisionReadback;
    s.unlockReadback = unlockCollisionReadback;
}

// ---- Slots ----

SpriteSlot* nextSlot() {
    SpriteBlock* block = spriteBlocks;
    if (!block || block->usedSlots >= SpriteBlock::kSlots) {
        block = newSpriteBlock();
        if (!block) {
            reportOutOfMemory();
            return nullptr;
        }
        block->next = spriteBlocks;
        spriteBlocks = block;
    }
    SpriteSlot* slot = &block->slots[block->usedSlots++];
    slot->firstVertex = block->nextFirstVertex;
    slot->vertexBuffer = block->vertexBuffer;
    block->nextFirstVertex += kVerticesPerSlot;
    return slot;
}

SpriteBlock* currentSpriteBlock() { return spriteBlocks; }

void freeSpriteSlots() {
    while (SpriteBlock* b = spriteBlocks) {
        spriteBlocks = b->next;
        b->vertexBuffer.reset();
        delete b;
    }
}

// ---- Texture and quads ----

bool createSpriteTexture(BodySprite* s, bool copy) {
    Body* b = s->body;
    SpriteSlot* slot = s->slot;
    const float diameter = 2.0f * b->radius;
    const float wanted = (2.0f * diameter + 0.5f > 1600.0f) ? 799.5f : std::max(20.0f, diameter);

    if (!slot->texture || s->halfSide < wanted) {
        s->halfSide = wanted;
        const uint32_t side = uint32_t(2.0f * s->halfSide + 0.5f);
        gfx::TexturePtr old = std::move(slot->texture);
        slot->texture.reset();
        const int32_t oldWidth = s->width, oldHeight = s->height;
        const float oldCentreX = s->centreX, oldCentreY = s->centreY;

        gfx::TexturePtr fresh;
        gfx::Device* device = screenLayout.device;
        if (device && gfx::failed(device->createTexture(side, side, 1, 0, gfx::Format::A8R8G8B8,
                                                        gfx::Pool::Managed, &fresh)))
            fresh.reset();
        int32_t stride = 0;
        uint32_t* bits = fresh ? lockSpriteTexture(fresh, 0, &stride) : nullptr;
        if (!bits) {
            slot->texture = std::move(old);
            internalError("Internal error - Failed to create texture2");
            return false;
        }
        gfx::SurfaceDesc desc;
        fresh->getLevelDesc(0, &desc);
        s->width = int32_t(desc.width);
        s->height = int32_t(desc.height);
        s->centreX = float(s->width) * 0.5f;
        s->centreY = float(s->height) * 0.5f;
        for (int32_t y = 0; y < s->height; ++y)
            std::memset(bits + size_t(y) * size_t(stride), 0, size_t(s->width) * 4);

        if (old && copy) {
            int32_t oldStride = 0;
            uint32_t* oldBits = lockSpriteTexture(old, 0, &oldStride);
            if (!oldBits) {
                fresh->unlockRect(0);
                slot->texture = std::move(old);
                s->width = oldWidth;
                s->height = oldHeight;
                s->centreX = oldCentreX;
                s->centreY = oldCentreY;
                internalError("Internal error - Failed to create texture1");
                return false;
            }
            const int32_t ox = int32_t(oldCentreX), oy = int32_t(oldCentreY);
            const int32_t sx = (s->width - oldWidth) / 2, sy = (s->height - oldHeight) / 2;
            // The old texture's ring walk: bounded by the old texture, not the new one.
            BodySprite oldView = *s;
            oldView.width = oldWidth;
            oldView.height = oldHeight;
            oldView.centreX = oldCentreX;
            oldView.centreY = oldCentreY;
            const float ring = std::min(std::max(20.0f, b->radius), 1599.0f);
            const int32_t end = spriteRingEnd(&oldView, int32_t(ring));
            const RingPoint* points = ringTables.ringPoints;
            for (int32_t i = 0; i < end; ++i) {
                const int32_t x = points[i].x - kRingCentre + ox;
                const int32_t y = points[i].y - kRingCentre + oy;
                if (x < 0 || x >= oldWidth || y < 0 || y >= oldHeight) continue;
                const uint32_t texel = oldBits[size_t(y) * size_t(oldStride) + size_t(x)];
                if (!texel) continue;
                const int32_t nx = x + sx, ny = y + sy;
                if (texelInside(s, nx, ny)) bits[size_t(ny) * size_t(stride) + size_t(nx)] = texel;
            }
            old->unlockRect(0);
        }
        old.reset();
        fresh->unlockRect(0);
        slot->texture = std::move(fresh);
    }

    // An axis-aligned square of the texture's side around the centroid.
    const float half = float(s->width) * 0.5f;
    const float x0 = b->centroid.x - half, y0 = b->centroid.y - half;
    const float x1 = b->centroid.x + half, y1 = b->centroid.y + half;
    ScreenVertex image[kVerticesPerSlot] = {};
    const float xs[6] = {x0, x1, x0, x0, x1, x1}, ys[6] = {y0, y1, y1, y0, y0, y1};
    for (int k = 0; k < 6; ++k)
        image[k] = {xs[k], ys[k], 0.0f, 1.0f, 0xFFFFFFFFu, kCorners[k].u, kCorners[k].v};
    s->halfDiagonal = float(s->width) / std::sqrt(2.0f);
    if (!writeSlot(s, image, kVerticesPerSlot, "Internal error - Failed to lock texture buffer."))
        return false;
    return buildSpriteQuads(s);
}

bool buildSpriteQuads(BodySprite* s) {
    Body* b = s->body;
    ScreenVertex v[kVerticesPerSlot];
    for (int k = 0; k < 6; ++k) {
        const Vec2 u = directionOf(correctHalfOpen(s->angle + kCorners[k].offset));
        v[k] = {u.x * s->halfDiagonal + b->centroid.x,
                u.y * s->halfDiagonal + b->centroid.y,
                0.0f,
                1.0f,
                0xFFFFFFFFu,
                kCorners[k].u,
                kCorners[k].v};
    }
    s->quadCount = 1;

    // Copies on the opposite edges: x wraps by the world width, y by its period.
    const float w = float(sim.worldWidth), h = float(sim.wrapHeight);
    const float cx = b->centroid.x, cy = b->centroid.y, r = b->radius;
    const int shiftX = (w < cx + r) ? -1 : (cx - r < 0.0f) ? 1 : 0;
    const int shiftY = (h < cy + r) ? -1 : (cy - r < 0.0f) ? 1 : 0;
    auto addCopy = [&](float dx, float dy) {
        ScreenVertex* q = v + 6 * s->quadCount;
        for (int k = 0; k < 6; ++k) {
            q[k] = v[k];
            q[k].x += dx;
            q[k].y += dy;
        }
        ++s->quadCount;
    };
    if (shiftX) addCopy(float(shiftX) * w, 0.0f);
    if (shiftY) addCopy(0.0f, float(shiftY) * h);
    if (shiftX && shiftY) addCopy(float(shiftX) * w, float(shiftY) * h);

    return writeSlot(s, v, uint32_t(6 * s->quadCount),
                     "Internal error - Failed to lock vertex buffer.");
}

}  // namespace gx
