// The bodies' pull on the particles of the particle pass, a block at a time.
//
// Contract: BlockPull::accelerate leaves in p->ax, p->ay bit for bit what
// gatherAcceleration (pull.h) leaves. With a body limit of 1 a particle feels only the
// snapshot's first body, so its pull depends on nothing but its own position and that
// body. The pass works it out for a block of particles at a time, four at once, with the
// scalar rule's operations in the same order (SSE rounds them as the scalar instructions
// do). A particle whose position or body changed since, or whose difference needs the
// full wrap rule, takes the scalar rule instead. Tests hold the two to this on whole
// passes (particle_pass.h).
#pragma once

#include <cstdint>
#include <cstring>

#include "universe/motion.h"
#include "universe/pull.h"

namespace gx {

#if defined(__SSE2__)
class BlockPull {
public:
    // Before each pass: the blocks apply only while one body pulls.
    void begin() {
        active_ = sim.bodySnapshot != nullptr && sim.bodyLimit == 1;
        first_ = end_ = 0;
    }

    void accelerate(Particle* p, uint32_t i) {
        const BodyNode* node = sim.bodySnapshot;
        if (active_ && node != nullptr) {
            if (i < first_ || i >= end_ || node != node_) fill(i, node);
            const uint32_t k = i - first_;
            if ((usable_ >> k & 1u) != 0 && node->body == body_ && bitsOf(p->x) == bitsOf(x_[k]) &&
                bitsOf(p->y) == bitsOf(y_[k]) && bitsOf(body_->centroid.x) == cx_ &&
                bitsOf(body_->centroid.y) == cy_ && bitsOf(body_->mass) == mass_) {
                p->ax = ax_[k];
                p->ay = ay_[k];
                return;
            }
        }
        gatherAcceleration(p);
    }

private:
    static constexpr uint32_t kBlock = 16;  // within what the pass has fetched ahead

    void fill(uint32_t first, const BodyNode* node);

    static uint32_t bitsOf(float v) {
        uint32_t b;
        std::memcpy(&b, &v, sizeof b);
        return b;
    }

    bool active_ = false;
    uint32_t first_ = 0, end_ = 0;
    const BodyNode* node_ = nullptr;
    const Body* body_ = nullptr;
    uint32_t cx_ = 0, cy_ = 0, mass_ = 0;
    uint32_t usable_ = 0;
    alignas(16) float x_[kBlock], y_[kBlock], ax_[kBlock], ay_[kBlock];
};
#else
class BlockPull {
public:
    void begin() {}
    void accelerate(Particle* p, uint32_t) { gatherAcceleration(p); }
};
#endif

}  // namespace gx
