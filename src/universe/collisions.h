// Contacts in the universe: two free particles in one cell bounce, a free particle
// reaching a sprite body is handed to the sprite, and overlapping bodies merge, shatter
// into particles, or the smaller one dissolves.
#pragma once

#include <cstdint>

#include "bodies/bodies.h"
#include "universe/world.h"

namespace gx {

// Both leave with the mean of their speeds, each direction mirrored about the
// direction of the total momentum.
void bounceParticles(Particle* p, Particle* q);
// Whether a sprite body took free particle p that moves to (tx, ty).
bool spriteHitTest(Particle* p, float tx, float ty);
// The contact pass over every pair of bodies.
void collideBodies();
// Whether the rim of small touches a member of large in the grid.
bool probeContact(const Body* small, const Body* large);
// Acts on the bodies at the walk positions outer and inner (centroid distance d) and
// moves both positions past whatever it removed.
void resolveBodyContact(float d, BodyNode*& outer, BodyNode*& inner);

// Frames a shattered pair's particles bounce before they may stick again.
int32_t fragmentHoldOff(const Body* a, const Body* b, float d);
// Member count plus the sprite's extra members.
int32_t effectiveCount(const Body* body);

}  // namespace gx
