#include "universe/motion.h"

#include <cmath>

#include "platform/os/prefetch.h"
#include "platform/os/stage_marks.h"
#include "render/collision_surfaces.h"
#include "render/sprites.h"
#include "ui/error_report.h"
#include "universe/collisions.h"
#include "universe/membership.h"

namespace gx {

BodyNode* bodySnapshot = nullptr;

namespace {

constexpr float kSoftening = 1000.0f;
constexpr int32_t kAttractionBudget = 8000;
constexpr int32_t kSmallBody = 20;

// A target that was not finite lands at 0 and the particle stops.
void wrapTarget(Particle* p, float& tx, float& ty) {
    if (inRange(tx, ty)) return;
    if (!wrapPoint(tx, ty)) {
        p->vx = p->vy = 0.0f;
        p->ax = p->ay = 0.0f;
    }
}

// Whether the read-back shows a sprite at the target and the sprite took p in.
bool caughtBySprite(Particle* p, float tx, float ty) {
    if (p->holdOff == -1) return false;
    if ((collisionSample(tx, ty) & 0xFFFFFFu) == 0) return false;
    return spriteHitTest(p, tx, ty);
}

// The pass walks the particles in order, but each one's target cell lies anywhere in a
// grid of many megabytes. Fetching ahead (the grid entry of a particle far ahead, then
// the occupant of a nearer one's) hides most of those misses; only the cache sees it.
constexpr uint32_t kGridAhead = 16;
constexpr uint32_t kOccupantAhead = 8;

inline const Particle* const* likelyTargetCell(const Particle* p) {
    if (p->body != nullptr) return nullptr;
    const float tx = p->x + (p->vx * speedFactor + p->ax);
    const float ty = p->y + (p->vy * speedFactor + p->ay);
    if (!inRange(tx, ty)) return nullptr;
    return &grid[cellIndexOf(tx, ty)];
}

inline void fetchAhead(uint32_t i) {
    if (i + kGridAhead < particleCount) {
        if (const Particle* const* cell = likelyTargetCell(&particles[i + kGridAhead]))
            prefetchForRead(cell);
    }
    if (i + kOccupantAhead < particleCount) {
        if (const Particle* const* cell = likelyTargetCell(&particles[i + kOccupantAhead]))
            if (const Particle* q = *cell) prefetchForRead(q);
    }
}

}  // namespace

void attractBodies() {
    bodySnapshot = bodyList();
    const float g = gravityStrength;
    for (BodyNode* na = bodyList(); na != nullptr; na = na->next) {
        Body* a = na->body;
        for (BodyNode* nb = na->next; nb != nullptr; nb = nb->next) {
            Body* b = nb->body;
            const Vec2 d = shortestDiff({b->centroid.x - a->centroid.x,
                                         b->centroid.y - a->centroid.y});
            const Vec2 n = unit(d);
            const float dist = std::sqrt(d.x * d.x + d.y * d.y) + kSoftening;
            const float denominator = dist * dist * inverseSpeed;
            const float fa = g * (b->mass / denominator);
            const float fb = g * (a->mass / denominator);
            a->velocity.x += n.x * fa;
            a->velocity.y += n.y * fa;
            b->velocity.x -= n.x * fb;
            b->velocity.y -= n.y * fb;
        }
    }

    const float ratio = float(processedCount) / float(particleCount);
    sparseFlag = ratio < 0.15f ? 1 : 0;
    const int32_t limit = processedCount > 0 ? kAttractionBudget / processedCount : 0;
    bodyLimit = limit < 1 ? 1 : limit;
}

void gatherAcceleration(Particle* p) {
    p->ax = 0.0f;
    p->ay = 0.0f;
    if (bodySnapshot == nullptr) return;
    const float g = gravityStrength;
    int32_t n = 0;
    for (BodyNode* node = bodySnapshot; node != nullptr; node = node->next) {
        const Body* b = node->body;
        const Vec2 d = shortestDiff({b->centroid.x - p->x, b->centroid.y - p->y});
        const Vec2 u = unit(d);
        const float dist = std::sqrt(d.x * d.x + d.y * d.y) + kSoftening;
        const float f = g * (b->mass / (dist * dist * inverseSpeed));
        p->ax += u.x * f;
        p->ay += u.y * f;
        ++n;
        if (b->memberCount < kSmallBody || n == bodyLimit) break;
    }
}

void moveParticle(Particle* p) {
    if (p->holdOff > 0) --p->holdOff;

    const Vec2 step{p->vx * speedFactor + p->ax, p->vy * speedFactor + p->ay};
    float tx = p->x + step.x;
    float ty = p->y + step.y;
    wrapTarget(p, tx, ty);
    const int32_t c = cellIndexOf(tx, ty);
    Particle* q = grid[c];

    if (q == nullptr) {
        if (caughtBySprite(p, tx, ty)) return;
        if (p->cell >= 0) grid[p->cell] = nullptr;
        p->cell = c;
        grid[c] = p;
        p->vx += p->ax;
        p->vy += p->ay;
        p->x = tx;
        p->y = ty;
        return;
    }

    if (c == p->cell) {
        if (caughtBySprite(p, tx, ty)) return;
        p->vx += p->ax;
        p->vy += p->ay;
        p->x = tx;
        p->y = ty;
        return;
    }

    if (p->holdOff == 0 && q->body != nullptr) {
        // Join: stop one unit short along the step, claim that cell, become a member.
        const Vec2 u = unit(step);
        p->x = tx - u.x;
        p->y = ty - u.y;
        if (!inRange(p->x, p->y)) wrapParticle(p);
        if (inRange(p->x, p->y)) {
            const int32_t own = cellIndexOf(p->x, p->y);
            if (own != p->cell) {
                if (p->cell >= 0 && grid[p->cell] == p) grid[p->cell] = nullptr;
                p->cell = own;
                grid[own] = p;
            }
        } else {
            takeOutOfGrid(p);
        }
        pairParticles(p, q);
        return;
    }

    // Bounce, then take the step again with the new velocity.
    bounceParticles(p, q);
    tx = p->x + p->vx * speedFactor + p->ax;
    ty = p->y + p->vy * speedFactor + p->ay;
    wrapTarget(p, tx, ty);
    if (p->cell >= 0 && grid[p->cell] == p) grid[p->cell] = nullptr;
    p->cell = cellIndexOf(tx, ty);
    if (grid[p->cell] == nullptr) grid[p->cell] = p;
    p->x = tx;
    p->y = ty;
}

void particlePass() {
    if (!lockCollisionReadback()) {
        internalError("Internal error - Failed to process collision.");
        return;
    }
    // The contact pass may have unlinked the body the snapshot starts at.
    if (bodySnapshot != bodyList()) bodySnapshot = bodyList();
    int32_t processed = 0;
    for (uint32_t i = 0; i < particleCount; ++i) {
        fetchAhead(i);
        Particle* p = &particles[i];
        if (p->body == nullptr) {
            gatherAcceleration(p);
            moveParticle(p);
            ++processed;
        } else if (p->holdOff == -1) {
            gatherAcceleration(p);
            ++processed;
        }
    }
    processedCount = processed;
    unlockCollisionReadback();
}

void simulateFrame() {
    markStage("sim.lock");
    // 1. Sprite texels stay locked for the stamping and tests of this frame.
    if (!lockAllSprites()) {
        unlockAllSprites();
        internalError("Internal error - Failed to lock surface.");
        return;
    }
    markStage("sim.attract");
    // 2. Bodies pull each other.
    attractBodies();
    markStage("sim.clump");
    // 3. No regrouping while the opening burst lasts.
    if (burstFrames != 0) --burstFrames;
    else clumpScan(8, 20);
    markStage("sim.contacts");
    // 4. Body contacts.
    collideBodies();
    markStage("sim.recentre");
    // 5. Centroids of bodies that merged.
    recentreDirtyBodies();
    markStage("sim.particles");
    // 6. Free particles and free members.
    particlePass();
    markStage("sim.unlock");
    // 7. The texels go back to their textures.
    unlockAllSprites();
    markStage("sim.pull");
    // 8. Bound members toward their centroids.
    pullMembers();
    markStage("sim.advance");
    // 9. Bodies move, turn, and may become sprites.
    advanceBodies();
    markStage("sim.refill");
    // 10. Cells emptied this frame get their particles back.
    refillGrid();
}

void resetMotion() { bodySnapshot = nullptr; }

}  // namespace gx
