// Builders of simulation states for tests and benchmarks: a population of free particles,
// and bodies over chosen members.
#pragma once

#include <cstdint>
#include <vector>

#include "bodies/bodies.h"
#include "universe/world.h"

namespace gxtest {

struct ParticleSetup {
    float mass = 200.0f;
    bool onLooseList = false;
    uint32_t (*colourOf)(uint32_t index) = nullptr;  // none: colour 0
};

// n zeroed particles (sim.particleCount = n), each out of the grid and its own member and
// list link. False when they cannot be had.
inline bool makeParticles(uint32_t n, const ParticleSetup& setup = {}) {
    if (!gx::allocateParticles(n)) return false;
    gx::sim.particleCount = n;
    for (uint32_t i = 0; i < n; ++i) {
        gx::Particle* p = &gx::sim.particles[i];
        p->mass = setup.mass;
        p->cell = -1;
        p->links().memberSelf = p;
        p->links().listSelf = p;
        if (setup.colourOf) p->colour = setup.colourOf(i);
        if (setup.onLooseList) gx::appendToLooseList(p);
    }
    return true;
}

// Links p at the end of b's member list and adds its mass.
inline void appendMember(gx::Body* b, gx::Particle* p) {
    p->links().memberSelf = p;
    p->body = b;
    p->memberNext = nullptr;
    if (b->tail) b->tail->memberNext = p;
    else b->head = p;
    b->tail = p;
    b->memberCount += 1;
    b->mass += p->mass;
}

// A new body over the given members, in order; null when none can be had.
inline gx::Body* bodyOver(const std::vector<gx::Particle*>& members) {
    gx::Body* b = gx::newBody();
    if (b)
        for (gx::Particle* p : members) appendMember(b, p);
    return b;
}

}  // namespace gxtest
