// How free particles become body members: attaching to a body, pairing two
// particles, and the spin a body takes up from something arriving at its rim.
#pragma once

#include "bodies/bodies.h"
#include "universe/vec2.h"
#include "universe/world.h"

namespace gx {

// Makes free particle p a member of body (measured at once unless the body has a sprite).
void attachToBody(Body* body, Particle* p);
// The flood-fill variant: the same list work, spin and mass, then classifyNewMember
// instead of updateAfterAdd.
void attachToBodyUnmeasured(Body* body, Particle* p);
// Makes free q a member of p's body, of a body already covering them, or of a new
// two-member body (nothing happens when none can be had).
void pairParticles(Particle* q, Particle* p);
// Changes body's spin for mass m arriving at contactPoint with velocity v; returns the
// part of v along the line to the centroid (|unit(v) . n| * v).
Vec2 transferSpin(Body* body, Vec2 contactPoint, Vec2 velocity, float mass);

}  // namespace gx
