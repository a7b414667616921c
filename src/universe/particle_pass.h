// The particle pass of a simulation frame: every free particle and free member once, in
// array order, with the collision read-back locked. The pull rule is the parameter: the
// frame uses the block rule (pull_blocks.h), and tests run the same pass with the scalar
// rule it mirrors to hold the two to the same bits.
#pragma once

#include <cstdint>

#include "bodies/collision_view.h"
#include "core/prefetch.h"
#include "framework/failures.h"
#include "universe/motion.h"

namespace gx {

namespace pass_detail {

// The pass walks the particles in order, but each one's target cell lies anywhere in a
// grid of many megabytes. Fetching ahead (the grid entry of a particle far ahead, then
// the occupant of a nearer one's) hides most of those misses; only the cache sees it.
constexpr uint32_t kRecordAhead = 32;
constexpr uint32_t kGridAhead = 16;
constexpr uint32_t kOccupantAhead = 8;

inline const Particle* const* likelyTargetCell(const Particle* p) {
    if (p->body != nullptr) return nullptr;
    const float tx = p->x + (p->vx * sim.speedFactor + p->ax);
    const float ty = p->y + (p->vy * sim.speedFactor + p->ay);
    if (!inRange(tx, ty)) return nullptr;
    return &sim.grid[cellIndexOf(tx, ty)];
}

inline void fetchAhead(uint32_t i) {
    if (i + kRecordAhead < sim.particleCount) {
        prefetchForRead(&sim.particles[i + kRecordAhead]);
    }
    if (i + kGridAhead < sim.particleCount) {
        const Particle* p = &sim.particles[i + kGridAhead];
        if (const Particle* const* cell = likelyTargetCell(p)) {
            prefetchForRead(cell);
            // The cell it leaves, usually a row away from the target.
            if (p->cell >= 0 && p->cell < sim.cellCount) prefetchForRead(&sim.grid[p->cell]);
        }
    }
    if (i + kOccupantAhead < sim.particleCount) {
        if (const Particle* const* cell = likelyTargetCell(&sim.particles[i + kOccupantAhead]))
            if (const Particle* q = *cell) prefetchForRead(q);
    }
}

}  // namespace pass_detail

// Pull: begin() once the snapshot is final, then accelerate(p, index) for every particle
// the pass moves or that is a free member.
template <class Pull>
void particlePassWith(Pull& pull) {
    if (!lockCollisionView()) {
        internalError("Internal error - Failed to process collision.");
        return;
    }
    // The contact pass may have unlinked the body the snapshot starts at.
    if (sim.bodySnapshot != bodyList()) sim.bodySnapshot = bodyList();
    pull.begin();
    int32_t processed = 0;
    for (uint32_t i = 0; i < sim.particleCount; ++i) {
        pass_detail::fetchAhead(i);
        Particle* p = &sim.particles[i];
        if (p->body == nullptr) {
            pull.accelerate(p, i);
            moveParticle(p);
            ++processed;
        } else if (p->holdOff == -1) {
            pull.accelerate(p, i);
            ++processed;
        }
    }
    sim.processedCount = processed;
    unlockCollisionView();
}

}  // namespace gx
