#include "universe/motion.h"

#include <cmath>

#include "bodies/collision_view.h"
#include "bodies/sprites.h"
#include "core/stage_marks.h"
#include "framework/failures.h"
#include "universe/collisions.h"
#include "universe/membership.h"
#include "universe/particle_pass.h"
#include "universe/pull.h"
#include "universe/pull_blocks.h"
#include "universe/pull_columns.h"

namespace gx {

namespace {

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

}  // namespace

void attractPairsByLinks(float g) {
    for (BodyNode* na = bodyList(); na != nullptr; na = na->next) {
        Body* a = na->body;
        for (BodyNode* nb = na->next; nb != nullptr; nb = nb->next) {
            Body* b = nb->body;
            const PairPull f = pairPull(a->centroid, a->mass, b->centroid, b->mass, g);
            a->velocity.x += f.ax;
            a->velocity.y += f.ay;
            b->velocity.x -= f.bx;
            b->velocity.y -= f.by;
        }
    }
}

void attractBodies() {
    sim.bodySnapshot = bodyList();
    const float g = sim.gravityStrength;
    if (!attractPairsByColumns(g)) attractPairsByLinks(g);

    const float ratio = float(sim.processedCount) / float(sim.particleCount);
    sim.sparseFlag = ratio < 0.15f ? 1 : 0;
    const int32_t limit = sim.processedCount > 0 ? kAttractionBudget / sim.processedCount : 0;
    sim.bodyLimit = limit < 1 ? 1 : limit;
}

void gatherAcceleration(Particle* p) {
    p->ax = 0.0f;
    p->ay = 0.0f;
    if (sim.bodySnapshot == nullptr) return;
    const float g = sim.gravityStrength;
    int32_t n = 0;
    for (BodyNode* node = sim.bodySnapshot; node != nullptr; node = node->next) {
        const Body* b = node->body;
        const Vec2 d = shortestDiff({b->centroid.x - p->x, b->centroid.y - p->y});
        const Vec2 u = unit(d);
        const float dist = std::sqrt(d.x * d.x + d.y * d.y) + kSoftening;
        const float f = g * (b->mass / (dist * dist * sim.inverseSpeed));
        p->ax += u.x * f;
        p->ay += u.y * f;
        ++n;
        if (b->memberCount < kSmallBody || n == sim.bodyLimit) break;
    }
}

void moveParticle(Particle* p) {
    if (p->holdOff > 0) --p->holdOff;

    const Vec2 step{p->vx * sim.speedFactor + p->ax, p->vy * sim.speedFactor + p->ay};
    float tx = p->x + step.x;
    float ty = p->y + step.y;
    wrapTarget(p, tx, ty);
    const int32_t c = cellIndexOf(tx, ty);
    Particle* q = sim.grid[c];

    if (q == nullptr) {
        if (caughtBySprite(p, tx, ty)) return;
        if (p->cell >= 0) sim.grid[p->cell] = nullptr;
        p->cell = c;
        sim.grid[c] = p;
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
                if (p->cell >= 0 && sim.grid[p->cell] == p) sim.grid[p->cell] = nullptr;
                p->cell = own;
                sim.grid[own] = p;
            }
        } else {
            takeOutOfGrid(p);
        }
        pairParticles(p, q);
        return;
    }

    // Bounce, then take the step again with the new velocity.
    bounceParticles(p, q);
    tx = p->x + p->vx * sim.speedFactor + p->ax;
    ty = p->y + p->vy * sim.speedFactor + p->ay;
    wrapTarget(p, tx, ty);
    if (p->cell >= 0 && sim.grid[p->cell] == p) sim.grid[p->cell] = nullptr;
    p->cell = cellIndexOf(tx, ty);
    if (sim.grid[p->cell] == nullptr) sim.grid[p->cell] = p;
    p->x = tx;
    p->y = ty;
}

void particlePass() {
    BlockPull pull;
    particlePassWith(pull);
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
    if (sim.burstFrames != 0) --sim.burstFrames;
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

}  // namespace gx
