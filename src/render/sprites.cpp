#include "render/sprites.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

#include "bodies/bodies.h"
#include "bodies/ring_tables.h"
#include "platform/os/message_box.h"
#include "render/resources.h"
#include "render/sprite_texels.h"
#include "ui/error_report.h"
#include "universe/world.h"

namespace gx {

SpriteState spriteState;

namespace {

constexpr int kVerticesPerSlot = 24;
constexpr uint32_t kSlotBytes = kVerticesPerSlot * sizeof(ScreenVertex);  // 672
constexpr float kMaxSpriteRadius = 797.0f;

// Corner offsets of the quad's six vertices from the sprite angle, with their u, v.
struct Corner {
    float offset, u, v;
};
constexpr Corner kCorners[6] = {
    {3.9269910f, 0, 0}, {0.78539819f, 1, 1}, {5.4977875f, 0, 1},
    {3.9269910f, 0, 0}, {2.3561945f, 1, 0}, {0.78539819f, 1, 1},
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
    if (!device || gfx::failed(device->createVertexBuffer(SpriteBlock::kBufferBytes, 0,
                                                          gfx::kFvfScreenVertex, gfx::Pool::Managed,
                                                          &block->vertexBuffer))) {
        block->vertexBuffer.reset();
        internalError("Internal error - Failed to create all buffers.");
    }
    return block;
}

SpritePoolBlock* newPoolBlock() {
    SpritePoolBlock* block = new (std::nothrow) SpritePoolBlock();
    if (!block) return nullptr;
    for (BodySprite& s : block->records) {
        s.listNode.owner = &s;
        s.slot = nextSlot();
        if (!s.slot) {
            delete block;
            return nullptr;
        }
    }
    return block;
}

void unlinkNode(SpriteListNode* n) {
    if (n->prev) n->prev->next = n->next;
    else spriteState.list.head = n->next;
    if (n->next) n->next->prev = n->prev;
    n->prev = n->next = nullptr;
}

void insertBefore(SpriteListNode* n, SpriteListNode* before) {
    n->next = before;
    n->prev = before->prev;
    if (before->prev) before->prev->next = n;
    else spriteState.list.head = n;
    before->prev = n;
}

void insertAfter(SpriteListNode* n, SpriteListNode* after) {
    n->prev = after;
    n->next = after->next;
    if (after->next) after->next->prev = n;
    after->next = n;
}

bool writeSlot(BodySprite* s, const ScreenVertex* vertices, uint32_t count, const char* failure) {
    void* data = nullptr;
    const gfx::VertexBufferPtr& vb = s->slot->vertexBuffer;
    if (!vb || gfx::failed(vb->lock(uint32_t(s->slot->firstVertex) * sizeof(ScreenVertex),
                                    kSlotBytes, &data, 0)) ||
        !data) {
        internalError(failure);
        return false;
    }
    std::memcpy(data, vertices, count * sizeof(ScreenVertex));
    vb->unlock();
    return true;
}

void startSprite(BodySprite* s, Body* b) {
    s->angle = -(b->angularVelocity * speedFactor);
    s->settledRadius = 1;
    s->extraCount = 0;
    s->extraHead = s->extraTail = nullptr;
    s->halfDiagonal = 0;
    s->reach = b->radius;
    if (!createSpriteTexture(s, false)) return;
    moveMembersToSpriteList(b);
    initialStamp(s);
}

}  // namespace

// ---- Pools ----

SpriteSlot* nextSlot() {
    SpriteBlock* block = spriteState.blocks;
    if (!block || block->usedSlots >= SpriteBlock::kSlots) {
        block = newSpriteBlock();
        if (!block) {
            reportOutOfMemory();
            return nullptr;
        }
        block->next = spriteState.blocks;
        spriteState.blocks = block;
    }
    SpriteSlot* slot = &block->slots[block->usedSlots++];
    slot->firstVertex = block->nextFirstVertex;
    slot->vertexBuffer = block->vertexBuffer;
    block->nextFirstVertex += kVerticesPerSlot;
    return slot;
}

BodySprite* nextSprite() {
    SpritePoolBlock* block = spriteState.pool;
    if (!block || block->usedRecords >= SpritePoolBlock::kRecords) {
        block = newPoolBlock();
        if (!block) {
            reportOutOfMemory();
            return nullptr;
        }
        block->next = spriteState.pool;
        spriteState.pool = block;
    }
    return &block->records[block->usedRecords++];
}

void freeSprites() {
    for (SpriteListNode* n = spriteState.list.head; n; n = n->next)
        if (n->owner->slot) n->owner->slot->texture.reset();
    spriteState.list.head = nullptr;
    while (SpritePoolBlock* p = spriteState.pool) {
        spriteState.pool = p->next;
        delete p;
    }
    while (SpriteBlock* b = spriteState.blocks) {
        spriteState.blocks = b->next;
        b->vertexBuffer.reset();
        delete b;
    }
}

void resetSprites() {
    freeSprites();
    spriteState.markerFlag = false;
    SpriteBlock* block = newSpriteBlock();
    if (!block) {
        reportOutOfMemory();
        return;
    }
    spriteState.blocks = block;
    spriteState.pool = newPoolBlock();
    if (!spriteState.pool) reportOutOfMemory();
}

BodySprite* firstAttachedSprite() {
    SpriteListNode* n = spriteState.list.head;
    return (n && n->owner->body) ? n->owner : nullptr;
}

BodySprite* nextAttachedSprite(BodySprite* s) {
    SpriteListNode* n = s->listNode.next;
    return (n && n->owner->body) ? n->owner : nullptr;
}

// ---- Attaching and detaching ----

void attachSprite(BodyNode* node) {
    if (!node || !node->body) return;
    Body* b = node->body;

    // A free sprite keeps its slot and texture for the next body; else a new record.
    BodySprite* s = nullptr;
    for (SpriteListNode* n = spriteState.list.head; n; n = n->next)
        if (!n->owner->body) {
            s = n->owner;
            break;
        }
    bool fresh = !s;
    if (fresh) {
        s = nextSprite();
        if (!s) return;
    }

    // Only members that lie inside the body's disc go into the texture.
    const int radius = int(b->radius);
    Particle* previous = nullptr;
    for (Particle* link = b->head; link;) {
        Particle* next = link->memberNext;
        Vec2 d = shortestDiff({link->x - b->centroid.x, link->y - b->centroid.y});
        if (link->holdOff == -1 || int(length(d)) >= radius) {
            // A body that drops to one member is dissolved and unlinked: nothing to attach.
            if (!removeMember(link, node, previous)) return;
        } else {
            previous = link;
        }
        link = next;
    }

    if (fresh) {
        // Attached sprites lead the list.
        SpriteListNode* head = spriteState.list.head;
        if (head) insertBefore(&s->listNode, head);
        else spriteState.list.head = &s->listNode;
    }

    b->radius += 30.0f;
    if (b->radius >= kMaxSpriteRadius) b->radius = kMaxSpriteRadius;
    s->body = b;
    startSprite(s, b);
    b->group = s;
}

void detachSprite(BodySprite* s) {
    if (!s || !s->body) return;
    Body* b = s->body;
    dissolveSprite(s);
    s->body = nullptr;

    // Keep free sprites behind every attached one.
    SpriteListNode* n = &s->listNode;
    SpriteListNode* firstFree = n->next;
    while (firstFree && firstFree->owner->body) firstFree = firstFree->next;
    if (n->next && firstFree != n->next) {
        if (firstFree) {
            unlinkNode(n);
            insertBefore(n, firstFree);
        } else {
            SpriteListNode* last = n->next;
            while (last->next) last = last->next;
            unlinkNode(n);
            insertAfter(n, last);
        }
    }
    b->group = nullptr;
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
    const float w = float(worldWidth), h = float(wrapHeight);
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

    return writeSlot(s, v, uint32_t(6 * s->quadCount), "Internal error - Failed to lock vertex buffer.");
}

}  // namespace gx
