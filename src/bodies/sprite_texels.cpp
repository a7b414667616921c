// A sprite's texels are its particles: stamping them in, letting them flow inward,
// re-centring the texture on its mass, the exact collision tests, and turning the
// texels back into particles.
#include "bodies/sprite_texels.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "bodies/bodies.h"
#include "bodies/ring_tables.h"
#include "bodies/sprite_surfaces.h"
#include "framework/failures.h"
#include "universe/membership.h"
#include "universe/picture_to_particles.h"
#include "universe/world.h"

namespace gx {

namespace {

constexpr uint32_t kColourBits = 0x00FFFFFFu;
constexpr uint32_t kMarkerBits = 0xFF000000u;

// Inward steps, indexed by direction code and padded so that c - 1 and c + 1 exist.
constexpr int8_t kSteps[11][2] = {{0, 0},  {1, 1},  {0, 1}, {-1, 1}, {-1, 0}, {-1, -1},
                                  {0, -1}, {1, -1}, {1, 0}, {1, 1},  {0, 1}};

float correctHalfOpen(float a) {
    if (a > kPi) return a - kTwoPi;
    if (a <= -kPi) return a + kTwoPi;
    return a;
}

// Float to texel coordinate by truncation; NaN and far values give -1 (outside).
int32_t toTexel(float f, int32_t size) {
    if (!(f > -1.0f && f < float(size))) return -1;
    return int32_t(f);
}

// A radius as a ring number: truncated, NaN as 0, never past the table.
int32_t ringOf(float radius) {
    if (!(radius > 0.0f)) return 0;
    return radius < float(kRingCount - 1) ? int32_t(radius) : kRingCount - 1;
}

uint32_t& texelAt(BodySprite* s, uint32_t* bits, int32_t tx, int32_t ty) {
    return bits[size_t(ty) * size_t(s->lockedStride) + size_t(tx)];
}

// Takes p out of its body's member list when it is the tail just appended.
void dropAppendedTail(Body* b, Particle* previousTail) {
    if (previousTail) previousTail->memberNext = nullptr;
    else b->head = nullptr;
    b->tail = previousTail;
    b->memberCount -= 1;
}

void pushExtra(BodySprite* s, Particle* p) {
    p->memberNext = s->extraHead;
    s->extraHead = p;
    if (!s->extraTail) s->extraTail = p;
    s->extraCount += 1;
}

// Places a particle on the k-th ring point around the body centre, unrotated.
void placeOnRing(BodySprite* s, Body* b, Particle* p, int32_t k) {
    int32_t tx = 0, ty = 0;
    ringTexel(s, k, &tx, &ty);
    p->x = b->centroid.x + float(tx - s->width / 2);
    p->y = b->centroid.y + float(ty - s->height / 2);
    p->polarRadius = 0.0f;
    p->polarAngle = 0.0f;
    wrapPoint(p->x, p->y);
}

}  // namespace

// ---- Shared helpers ----

uint32_t* lockSpriteTexture(const gfx::TexturePtr& texture, uint32_t flags, int32_t* stride) {
    if (!texture) return nullptr;
    gfx::LockedRect lr;
    if (gfx::failed(texture->lockRect(0, &lr, nullptr, flags)) || !lr.bits) return nullptr;
    *stride = lr.pitch / 4;
    return static_cast<uint32_t*>(lr.bits);
}

int32_t spriteRingEnd(const BodySprite* s, int32_t r) {
    if (!ringTables.ringStart || !ringTables.ringPoints) return 0;
    // Beyond the ring through the texture's farthest corner no point can hit a texel.
    const int32_t cx = int32_t(s->centreX), cy = int32_t(s->centreY);
    const int32_t fx = std::max(cx, s->width - 1 - cx), fy = std::max(cy, s->height - 1 - cy);
    const int32_t cover = int32_t(std::sqrt(float(fx) * float(fx) + float(fy) * float(fy))) + 3;
    r = std::clamp(std::min(r, cover), 0, kRingCount - 1);
    return ringTables.ringStart[r];
}

void ringTexel(const BodySprite* s, int32_t i, int32_t* tx, int32_t* ty) {
    const RingPoint& pt = ringTables.ringPoints[i];
    *tx = pt.x - kRingCentre + int32_t(s->centreX);
    *ty = pt.y - kRingCentre + int32_t(s->centreY);
}

bool mapToTexel(const BodySprite* s, float x, float y, int32_t* tx, int32_t* ty, float* d) {
    const Body* b = s->body;
    const Vec2 v = shortestDiff({x - b->centroid.x, y - b->centroid.y});
    const float dist = length(v);
    const float phi = correctHalfOpen(angleOf(v.x, v.y) - s->angle);
    const Vec2 u = directionOf(phi);
    *tx = toTexel(u.x * dist + s->centreX, s->width);
    *ty = toTexel(u.y * dist + s->centreY, s->height);
    if (d) *d = dist;
    return texelInside(s, *tx, *ty);
}

// ---- Locking for the particle pass ----

bool lockAllSprites() {
    for (BodySprite* s = firstAttachedSprite(); s; s = nextAttachedSprite(s)) {
        if (s->lockedBits) continue;
        s->lockedBits = lockSpriteTexture(s->slot->texture, 0, &s->lockedStride);
        if (!s->lockedBits) return false;
    }
    return true;
}

void unlockAllSprites() {
    for (BodySprite* s = firstAttachedSprite(); s; s = nextAttachedSprite(s)) {
        if (!s->lockedBits) continue;
        s->slot->texture->unlockRect(0);
        s->lockedBits = nullptr;
    }
}

// ---- Stamping ----

bool initialStamp(BodySprite* s) {
    Body* b = s->body;
    uint32_t* bits = lockSpriteTexture(s->slot->texture, 0, &s->lockedStride);
    if (!bits) {
        internalError("Internal error - Failed to initialise texture.");
        return false;
    }
    for (int32_t y = 0; y < s->height; ++y)
        std::memset(bits + size_t(y) * size_t(s->lockedStride), 0, size_t(s->width) * 4);

    // Unrotated: the sprite starts at angle 0 after its first turn.
    const float cx = float(s->width / 2), cy = float(s->height / 2);
    Particle* previous = nullptr;
    for (Particle* p = b->head; p;) {
        Particle* next = p->memberNext;
        const Vec2 v = shortestDiff({p->x - b->centroid.x, p->y - b->centroid.y});
        const int32_t tx = toTexel(cx + v.x, s->width), ty = toTexel(cy + v.y, s->height);
        if (texelInside(s, tx, ty) && texelAt(s, bits, tx, ty) == 0) {
            texelAt(s, bits, tx, ty) = p->colour | kMarkerBits;
            previous = p;
        } else {
            // Taken (or outside): the particle waits on the extra list.
            if (previous) previous->memberNext = next;
            else b->head = next;
            if (b->tail == p) b->tail = previous;
            b->memberCount -= 1;
            pushExtra(s, p);
        }
        p = next;
    }
    s->slot->texture->unlockRect(0);
    return true;
}

bool stampParticle(BodySprite* s, Particle* p) {
    if (!s->lockedBits || !s->body) return false;
    Body* b = s->body;
    int32_t tx = 0, ty = 0;
    float d = 0.0f;
    if (!mapToTexel(s, p->x, p->y, &tx, &ty, &d)) return false;

    uint32_t& texel = texelAt(s, s->lockedBits, tx, ty);
    const bool empty = texel == 0;
    if (empty) texel = p->colour | kMarkerBits;
    Particle* previousTail = b->tail;
    moveToSpriteList(p);
    attachToBody(b, p);
    takeOutOfGrid(p);
    if (empty) {
        if (d >= b->radius - 3.0f && d + 3.0f < 797.0f && d + 3.0f > s->reach) s->reach = d + 3.0f;
    } else if (b->tail == p) {
        dropAppendedTail(b, previousTail);
        pushExtra(s, p);
    }
    return true;
}

bool particleHitsSprite(BodySprite* s, Particle* p, float proposedX, float proposedY) {
    if (!s->lockedBits || !s->body) return false;
    int32_t tx = 0, ty = 0;
    if (mapToTexel(s, proposedX, proposedY, &tx, &ty, nullptr) &&
        texelAt(s, s->lockedBits, tx, ty) == 0)
        return false;
    // Blocked: the particle settles where it is now, if that lies on the texture.
    return stampParticle(s, p);
}

bool bodyTouchesSprite(BodySprite* s, Body* other) {
    if (!s->lockedBits || !s->body) return false;
    const Body* a = s->body;
    const float reachOfOther = other->group ? float(other->group->settledRadius) : other->radius;
    const Vec2 n =
        unit(shortestDiff({a->centroid.x - other->centroid.x, a->centroid.y - other->centroid.y}));
    const float px = other->centroid.x + reachOfOther * n.x;
    const float py = other->centroid.y + reachOfOther * n.y;
    int32_t tx = 0, ty = 0;
    return mapToTexel(s, px, py, &tx, &ty, nullptr) && texelAt(s, s->lockedBits, tx, ty) != 0;
}

// ---- Per-frame update ----

void updateAllSprites() {
    sim.spriteState.markerFlag = !sim.spriteState.markerFlag;
    for (BodySprite* s = firstAttachedSprite(); s; s = nextAttachedSprite(s)) {
        Body* b = s->body;
        if (s->reach != b->radius) {
            const float larger = std::max(s->reach, b->radius);
            s->reach = b->radius = larger;
            if (b->radius > 0.9f * s->halfSide && !makeSpriteTexture(s, true)) return;
            if (s->settleCountdown == 0) {
                if (!recentreSprite(s)) return;
                s->settleCountdown = 5;
            } else {
                s->settleCountdown -= 1;
            }
        }
        s->angle = correctHalfOpen(s->angle + b->angularVelocity * sim.speedFactor);
        if (!settleSprite(s)) return;
        if (!placeSpriteQuads(s)) return;
    }
}

void settleAllSprites() {
    for (BodySprite* s = firstAttachedSprite(); s; s = nextAttachedSprite(s))
        if (!settleSprite(s)) return;
}

bool settleSprite(BodySprite* s) {
    Body* b = s->body;
    uint32_t* bits = lockSpriteTexture(s->slot->texture, 0, &s->lockedStride);
    if (!bits) {
        internalError("Internal error - Failed to lock texture1.");
        return false;
    }
    const float reachLimit = std::max(20.0f, b->radius);
    const uint32_t m = kSpriteMarker[sim.spriteState.markerFlag ? 1 : 0];
    const uint32_t moved = kSpriteMarker[sim.spriteState.markerFlag ? 0 : 1];
    const int32_t* ringStart = ringTables.ringStart;
    const int32_t begin = ringStart ? spriteRingEnd(s, s->settledRadius) : 0;
    const int32_t end = ringStart ? spriteRingEnd(s, ringOf(reachLimit)) : 0;
    int32_t firstEmpty = -1, lastOccupied = -1;

    for (int32_t i = begin; i < end; ++i) {
        int32_t tx = 0, ty = 0;
        ringTexel(s, i, &tx, &ty);
        if (!texelInside(s, tx, ty)) continue;
        uint32_t& texel = texelAt(s, bits, tx, ty);
        if (texel == 0) {
            if (firstEmpty == -1) firstEmpty = i;
            continue;
        }
        lastOccupied = i;
        if ((texel & kMarkerBits) != m) continue;
        const RingPoint& pt = ringTables.ringPoints[i];
        const int c = ringTables.directionCodes[size_t(pt.y) * kRingSide + size_t(pt.x)];
        if (c < 1 || c > 9) continue;
        for (int k : {c, c - 1, c + 1}) {
            const int32_t nx = tx - kSteps[k][0], ny = ty - kSteps[k][1];
            if (!texelInside(s, nx, ny)) continue;
            uint32_t& target = texelAt(s, bits, nx, ny);
            if (target != 0) continue;
            target = (texel & kColourBits) + moved;
            texel = 0;
            break;
        }
    }

    // The full inner disc and the outermost ring holding a texel.
    if (ringStart) {
        const int32_t last = ringOf(b->radius);
        bool settling = true;
        for (int32_t r = std::max(s->settledRadius, 0); r <= last; ++r) {
            if (settling) {
                if (ringStart[r] < firstEmpty) s->settledRadius = r;
                else settling = false;
            }
            if (lastOccupied < ringStart[r]) {
                b->radius = float(r);
                s->reach = float(r);
                break;
            }
        }
    }
    s->slot->texture->unlockRect(0);
    return true;
}

bool recentreSprite(BodySprite* s) {
    Body* b = s->body;
    uint32_t* bits = lockSpriteTexture(s->slot->texture, 0, &s->lockedStride);
    if (!bits) {
        internalError("Internal error - Failed to lock texture2.");
        return false;
    }
    auto unlock = [s] { s->slot->texture->unlockRect(0); };

    // Mean texel position of the mass.
    const int32_t end = spriteRingEnd(s, ringOf(std::max(20.0f, b->radius)));
    int64_t sumX = 0, sumY = 0, count = 0;
    for (int32_t i = 0; i < end; ++i) {
        int32_t tx = 0, ty = 0;
        ringTexel(s, i, &tx, &ty);
        if (!texelInside(s, tx, ty) || texelAt(s, bits, tx, ty) == 0) continue;
        sumX += tx;
        sumY += ty;
        ++count;
    }
    if (count == 0) {
        unlock();
        return true;
    }
    const float meanX = float(sumX) / float(count), meanY = float(sumY) / float(count);
    Vec2 off{s->centreX - meanX, s->centreY - meanY};
    float len = length(off);
    if (len <= 5.0f) {
        unlock();
        return true;
    }
    const float maxLen = std::max(b->radius - 1.0f, 0.0f);
    if (len > maxLen) {
        const Vec2 u = unit(off);
        off = {u.x * maxLen, u.y * maxLen};
        len = maxLen;
    }

    // Shift the texels, visiting from the side they move towards.
    const int32_t sx = int32_t(off.x), sy = int32_t(off.y);
    if (sx != 0 || sy != 0) {
        const int32_t w = s->width, h = s->height;
        const int32_t y0 = sy > 0 ? h - 1 : 0, y1 = sy > 0 ? -1 : h, ystep = sy > 0 ? -1 : 1;
        const int32_t x0 = sx > 0 ? w - 1 : 0, x1 = sx > 0 ? -1 : w, xstep = sx > 0 ? -1 : 1;
        for (int32_t y = y0; y != y1; y += ystep) {
            const int32_t ny = y + sy;
            if (ny < 0 || ny >= h) continue;
            for (int32_t x = x0; x != x1; x += xstep) {
                uint32_t& texel = texelAt(s, bits, x, y);
                if (texel == 0) continue;
                const int32_t nx = x + sx;
                if (nx < 0 || nx >= w) continue;
                uint32_t& target = texelAt(s, bits, nx, ny);
                if (target != 0) continue;
                target = texel;
                texel = 0;
            }
        }
    }

    b->radius = std::min(b->radius + len + 1.0f, 797.0f);
    if (0.9f * s->halfSide < b->radius) {
        unlock();
        if (!makeSpriteTexture(s, true)) return false;
        bits = lockSpriteTexture(s->slot->texture, 0, &s->lockedStride);
        if (!bits) {
            internalError("Internal error - Failed to lock texture2.");
            return false;
        }
    }

    // The body moves against the shift, so the picture on the screen stays put.
    const float psi = correctHalfOpen(angleOf(off.x, off.y) + s->angle);
    const Vec2 u = directionOf(psi);
    b->centroid.x -= u.x * len;
    b->centroid.y -= u.y * len;

    const bool built = placeSpriteQuads(s);
    s->settledRadius = 0;
    unlock();
    return built;
}

// ---- Dissolving ----

void dissolveSprite(BodySprite* s) {
    Body* b = s->body;
    if (!b) return;
    if (s->lockedBits) {
        s->slot->texture->unlockRect(0);
        s->lockedBits = nullptr;
    }
    const float larger = std::max(s->reach, b->radius);
    s->reach = b->radius = larger;

    uint32_t* bits = lockSpriteTexture(
        s->slot->texture, gfx::kLockReadOnly | gfx::kLockNoDirtyUpdate, &s->lockedStride);
    if (!bits) {
        internalError("Internal error - Failed to build texture.");
        return;
    }

    // Pair set texels with members in list order; texels beyond the members are dropped.
    const int32_t end = spriteRingEnd(s, ringOf(std::max(20.0f, b->radius)) + 3);
    Particle* p = b->head;
    for (int32_t i = 0; i < end && p; ++i) {
        int32_t tx = 0, ty = 0;
        ringTexel(s, i, &tx, &ty);
        if (!texelInside(s, tx, ty)) continue;
        const uint32_t texel = texelAt(s, bits, tx, ty);
        if (texel == 0) continue;

        moveToLooseList(p);
        const float rx = float(tx - s->width / 2), ry = float(ty - s->height / 2);
        p->polarRadius = std::sqrt(rx * rx + ry * ry);
        p->polarAngle = correctHalfOpen(angleOf(rx, ry) + s->angle);
        const Vec2 u = directionOf(p->polarAngle);
        p->x = b->centroid.x + u.x * p->polarRadius;
        p->y = b->centroid.y + u.y * p->polarRadius;
        p->colour = (texel & kColourBits) | kMarkerBits;
        p->mass = massOfColour(p->colour);
        wrapPoint(p->x, p->y);
        refileInGrid(p);
        p = p->memberNext;
    }
    s->slot->texture->unlockRect(0);

    // Members without a texel and the extra list go onto the inner rings.
    const int32_t ringLimit =
        ringTables.ringStart ? ringTables.ringStart[std::clamp(s->settledRadius, 0, kRingCount - 1)]
                             : 0;
    int32_t k = 0;
    auto place = [&](Particle* q) {
        moveToLooseList(q);
        if (ringTables.ringPoints) placeOnRing(s, b, q, k);
        if (++k >= ringLimit) k = 0;
    };
    for (; p; p = p->memberNext) place(p);
    for (Particle* q = s->extraHead; q; q = q->memberNext) place(q);

    if (s->extraHead) {
        if (b->tail) b->tail->memberNext = s->extraHead;
        else b->head = s->extraHead;
        b->tail = s->extraTail;
        b->memberCount += s->extraCount;
    }
    s->extraHead = s->extraTail = nullptr;
    s->extraCount = 0;
}

}  // namespace gx
