// The pull of the bodies, as the scalar rules give it: between two bodies, and of the
// bodies on a free particle (motion.cpp). The four-wide paths (pull_columns.h,
// pull_blocks.h) mirror these rules bit for bit.
#pragma once

#include <cmath>
#include <cstdint>

#include "bodies/bodies.h"
#include "universe/vec2.h"
#include "universe/world.h"

namespace gx {

constexpr float kSoftening = 1000.0f;

// The pull of one pair, as the two velocity changes it makes.
struct PairPull {
    float ax, ay;  // added to the first body
    float bx, by;  // taken from the second
};

inline PairPull pairPull(Vec2 ca, float ma, Vec2 cb, float mb, float g) {
    const Vec2 d = shortestDiff({cb.x - ca.x, cb.y - ca.y});
    const Vec2 n = unit(d);
    const float dist = std::sqrt(d.x * d.x + d.y * d.y) + kSoftening;
    const float denominator = dist * dist * sim.inverseSpeed;
    const float fa = g * (mb / denominator);
    const float fb = g * (ma / denominator);
    return {n.x * fa, n.y * fa, n.x * fb, n.y * fb};
}

// Every pair of bodies once, in list order, through the links.
void attractPairsByLinks(float g);
// The pull of the largest bodyLimit bodies on a loose particle, into its ax, ay.
void gatherAcceleration(Particle* p);

}  // namespace gx
