// The particle world's module state, sizes, grid, population lists and generator.
#include "universe/world.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "bodies/bodies.h"
#include "bodies/member_trail.h"
#include "core/large_memory.h"
#include "core/prefetch.h"
#include "framework/failures.h"

namespace gx {

namespace {

// Coordinates further out than this many periods are reduced with fmod first, so no
// wrap loop runs long or stalls where adding the period no longer changes the value.
constexpr float kReduceAfterPeriods = 4.0f;

void freeArrays() {
    freeLarge(sim.particles);
    sim.particles = nullptr;
    freeLarge(sim.particleLinks);
    sim.particleLinks = nullptr;
    std::free(sim.matchSlots);
    sim.matchSlots = nullptr;
}

// Brings one coordinate into [0, period): add while negative, subtract while its
// integer part reaches the period.
float wrapCoordinate(float c, int32_t period) {
    if (period <= 0) return 0.0f;
    const float fp = float(period);
    if (std::fabs(c) > kReduceAfterPeriods * fp) c = std::fmod(c, fp);
    while (c < 0.0f) c += fp;
    while (int32_t(c) >= period) c -= fp;
    return c;
}

bool cellHolds(int32_t cell, const Particle* p) {
    return cell >= 0 && cell < sim.cellCount && sim.grid != nullptr && sim.grid[cell] == p;
}

void appendTo(Particle*& list, int32_t id, Particle* p) {
    ParticleLinks& l = p->links();
    if (l.listId != kOnNoList) return;  // already linked somewhere: appending would corrupt
    sim.looseWalk.valid = false;
    l.listSelf = p;
    l.listPrev = list;
    l.listNext = list ? list->links().listNext : nullptr;
    if (list) {
        ParticleLinks& last = list->links();
        if (last.listNext) last.listNext->links().listPrev = p;
        last.listNext = p;
    }
    list = p;
    l.listId = id;
}

void removeFrom(Particle*& list, int32_t id, Particle* p) {
    ParticleLinks& l = p->links();
    if (list == nullptr || l.listId != id) return;
    sim.looseWalk.valid = false;
    if (l.listNext) {
        l.listNext->links().listPrev = l.listPrev;
        if (l.listPrev) l.listPrev->links().listNext = l.listNext;
    } else {
        if (l.listPrev) l.listPrev->links().listNext = nullptr;
        list = l.listPrev;
    }
    l.listNext = nullptr;
    l.listPrev = nullptr;
    l.listId = kOnNoList;
}

void emptyList(Particle*& list) {
    sim.looseWalk.valid = false;
    Particle* p = list;
    while (p) {
        ParticleLinks& l = p->links();
        p = l.listPrev;
        l.listNext = nullptr;
        l.listPrev = nullptr;
        l.listId = kOnNoList;
    }
    list = nullptr;
}

void clearGrid() {
    if (sim.grid) std::memset(sim.grid, 0, size_t(sim.cellCount) * sizeof(Particle*));
}

// The random generator's step with wrapping 32-bit arithmetic.
int32_t drawRandom() {
    uint32_t s = uint32_t(sim.randomSeed) * 1103515245u + 12345u;
    sim.randomSeed = int32_t(s);
    return (sim.randomSeed >> 16) & 0x7FFF;
}

}  // namespace

// Shortest difference, correcting in one direction only.
float shortestDifference(float d, int32_t half, int32_t period) {
    if (!std::isfinite(d)) return 0.0f;
    if (period <= 0) return d;
    const float fp = float(period);
    const float fh = float(half);
    if (std::fabs(d) > kReduceAfterPeriods * fp) d = std::fmod(d, fp);
    if (d < 0.0f) {
        while (d < -fh && d < 0.0f) d += fp;
    } else if (d > 0.0f) {
        while (d > fh && d > 0.0f) d -= fp;
    }
    return d;
}

bool initWorldSized(int32_t rowPixels, int32_t height) {
    freeLarge(sim.grid);
    sim.grid = nullptr;
    if (rowPixels < 0) rowPixels = 0;
    if (height < 0) height = 0;
    sim.worldWidth = rowPixels;
    sim.worldHeight = height;
    sim.wrapWidth = rowPixels - 1;
    sim.wrapHeight = height - 1;
    sim.halfWidth = rowPixels / 2 - 1;
    sim.halfHeight = (height - 1) / 2;
    const int64_t cells = int64_t(rowPixels) * int64_t(height);
    if (cells > int64_t(INT32_MAX)) {
        sim.cellCount = 0;
        sim.worldWidth = sim.worldHeight = sim.wrapWidth = sim.wrapHeight = sim.halfWidth =
            sim.halfHeight = 0;
        reportOutOfMemory();
        return false;
    }
    sim.cellCount = int32_t(cells);
    sim.grid = static_cast<Particle**>(
        allocateLargeZeroed(cells > 0 ? size_t(cells) : 1, sizeof(Particle*)));
    if (!sim.grid) {
        // Zero sizes put every position out of range, so nothing indexes the missing grid.
        sim.cellCount = 0;
        sim.worldWidth = sim.worldHeight = sim.wrapWidth = sim.wrapHeight = sim.halfWidth =
            sim.halfHeight = 0;
        reportOutOfMemory();
        return false;
    }
    return true;
}

void recentreWorld(int32_t newRowBytes, int32_t oldRowBytes, int32_t oldHeight) {
    const int32_t dx = int32_t(0.5f * float((newRowBytes - oldRowBytes) / 4));
    const int32_t dy = int32_t(0.5f * float(sim.worldHeight - oldHeight));
    const int32_t newRow = newRowBytes / 4;
    for (uint32_t i = 0; i < sim.particleCount; ++i) {
        Particle* p = &sim.particles[i];
        p->x += float(dx);
        p->y += float(dy);
    }
    for (uint32_t i = 0; i < sim.particleCount; ++i) {
        Particle* p = &sim.particles[i];
        if (p->body && p->body->group == nullptr && p->x >= 0.0f && p->x < float(newRow) &&
            p->y >= 0.0f && p->y < float(sim.worldHeight - 1)) {
            p->cell = int32_t(p->y) * newRow + int32_t(p->x);
        } else {
            p->cell = -1;
        }
    }
    rebuildGrid(dx, dy);
}

void rebuildGrid(int32_t dx, int32_t dy) {
    for (BodyNode* n = bodyList(); n; n = n->next) {
        n->body->centroid.x += float(dx);
        n->body->centroid.y += float(dy);
    }
    clearGrid();
    for (uint32_t i = 0; i < sim.particleCount; ++i) {
        Particle* p = &sim.particles[i];
        if (p->body && p->body->group) continue;
        if (inRange(p->x, p->y)) {
            p->cell = cellIndexOf(p->x, p->y);
            sim.grid[p->cell] = p;
        } else {
            p->cell = -1;
        }
    }
}

void refillGrid() {
    if (!sim.grid) return;
    auto enter = [](Particle* p) {
        if (p->cell >= 0 && p->cell < sim.cellCount && sim.grid[p->cell] == nullptr)
            sim.grid[p->cell] = p;
    };
    if (sim.sparseFlag == 0) {
        // Cells lie anywhere in a large grid: fetch the entry of a particle ahead.
        constexpr uint32_t kAhead = 16;
        for (uint32_t i = sim.particleCount; i-- > 0;) {
            if (i >= kAhead) {
                const Particle& a = sim.particles[i - kAhead];
                if (a.body == nullptr && a.cell >= 0 && a.cell < sim.cellCount)
                    prefetchForRead(&sim.grid[a.cell]);
            }
            if (sim.particles[i].body == nullptr) enter(&sim.particles[i]);
        }
    } else {
        for (Particle* p = sim.looseList; p; p = p->links().listPrev) {
            if (p->body == nullptr) enter(p);
        }
    }
    beginTrailPass();
    for (BodyNode* n = bodyList(); n; n = n->next) {
        if (n->body->group) continue;
        MemberWalk walk(n->body);
        for (Particle* m = n->body->head; m; m = m->memberNext) {
            walk.step(m);
            enter(m);
        }
    }
}

bool wrapPoint(float& x, float& y) {
    if (inRange(x, y)) return true;
    bool finite = true;
    if (!std::isfinite(x)) {
        x = 0.0f;
        finite = false;
    }
    if (!std::isfinite(y)) {
        y = 0.0f;
        finite = false;
    }
    x = wrapCoordinate(x, sim.wrapWidth);
    y = wrapCoordinate(y, sim.wrapHeight);
    return finite;
}

void wrapParticle(Particle* p) {
    if (!wrapPoint(p->x, p->y)) {
        p->vx = 0.0f;
        p->vy = 0.0f;
    }
}

float stepWrapX(float c, float r) {
    const float d = r - c;
    if (d < 0.0f && d < -float(sim.halfWidth)) return c - float(sim.wrapWidth);
    if (d > 0.0f && d > float(sim.halfWidth)) return c + float(sim.wrapWidth);
    return c;
}

float stepWrapY(float c, float r) {
    const float d = r - c;
    if (d < 0.0f && d < -float(sim.halfHeight)) return c - float(sim.wrapHeight);
    if (d > 0.0f && d > float(sim.halfHeight)) return c + float(sim.wrapHeight);
    return c;
}

void takeOutOfGrid(Particle* p) {
    if (cellHolds(p->cell, p)) sim.grid[p->cell] = nullptr;
    p->cell = -1;
}

void refileInGrid(Particle* p) {
    if (!inRange(p->x, p->y) || !sim.grid) {
        takeOutOfGrid(p);
        return;
    }
    const int32_t idx = cellIndexOf(p->x, p->y);
    if (p->cell != idx && cellHolds(p->cell, p)) sim.grid[p->cell] = nullptr;
    p->cell = idx;
    sim.grid[idx] = p;
}

void appendToLooseList(Particle* p) { appendTo(sim.looseList, kOnLooseList, p); }
void appendToSpriteList(Particle* p) { appendTo(sim.spriteList, kOnSpriteList, p); }
void removeFromLooseList(Particle* p) { removeFrom(sim.looseList, kOnLooseList, p); }
void removeFromSpriteList(Particle* p) { removeFrom(sim.spriteList, kOnSpriteList, p); }

void moveToLooseList(Particle* p) {
    removeFromSpriteList(p);
    appendToLooseList(p);
}

void moveToSpriteList(Particle* p) {
    removeFromLooseList(p);
    appendToSpriteList(p);
}

void moveMembersToSpriteList(Body* body) {
    for (Particle* m = body->head; m; m = m->memberNext) {
        removeFromLooseList(m);
        takeOutOfGrid(m);
        appendToSpriteList(m);
    }
}

bool allocateParticles(uint32_t n) {
    if (sim.particles) releaseParticles();
    sim.particleCount = 0;
    sim.particles = static_cast<Particle*>(allocateLargeZeroed(size_t(n) + 1, sizeof(Particle)));
    sim.particleLinks =
        static_cast<ParticleLinks*>(allocateLargeZeroed(size_t(n) + 1, sizeof(ParticleLinks)));
    if (!sim.particles || !sim.particleLinks) {
        freeArrays();
        reportOutOfMemory();
        return false;
    }
    return true;
}

bool allocateMatchSlots() {
    std::free(sim.matchSlots);
    sim.matchSlots = static_cast<Particle**>(
        std::calloc(sim.particleCount > 0 ? size_t(sim.particleCount) : 1, sizeof(Particle*)));
    if (!sim.matchSlots) {
        reportOutOfMemory();
        return false;
    }
    return true;
}

void releaseParticles() {
    emptyList(sim.looseList);
    emptyList(sim.spriteList);
    sim.particleCount = 0;
    sim.burstFrames = 0;
    freeArrays();
    // The grid would otherwise point into the freed array until the next initWorld.
    clearGrid();
}

void releaseParticlesAtExit() {
    freeArrays();
    sim.looseList = sim.spriteList = nullptr;
    sim.looseWalk.valid = false;
    sim.particleCount = 0;
}

void setSpeed(float s) {
    if (!(s > 0.0f) || !std::isfinite(s)) return;  // a zero speed would make inverseSpeed inf
    sim.speedFactor = s;
    sim.inverseSpeed = 1.0f / s;
}

void setGravityForPopulation() {
    const uint32_t n = sim.particleCount;
    if (n == 0) {
        sim.gravityStrength = kBaseGravity;
        return;
    }
    const float v = 22974.0f / float(n);
    const float excess = v - 1.0f > 0.0f ? v - 1.0f : 0.0f;
    const float sum = v + 0.8f * excess;
    sim.gravityStrength = kBaseGravity * sum;
}

int32_t nextRandom(int32_t n) {
    if (n == 0) return 0;
    const int32_t r = drawRandom();
    return r % n + 1;
}

float nextRandomReal(float x) {
    if (x == 0.0f) return 0.0f;
    const int32_t r = drawRandom();
    const float factor = 1.0f / 32767.0f;
    return x * (float(r) * factor);
}

}  // namespace gx
