// One frame of the simulation: the fixed order in which bodies attract each other,
// regroup, collide and move, and the pass that moves every free particle across the
// torus against the grid and the previous frame's collision read-back.
#pragma once

#include "bodies/bodies.h"
#include "universe/world.h"

namespace gx {

// One simulation frame; reports and returns early on a failure.
void simulateFrame();
// Mutual pull of the bodies; also sets sparseFlag and bodyLimit from the last pass.
void attractBodies();
// Moves a free particle: into an empty cell, within its own cell, or against another
// particle (joining its body or bouncing off it).
void moveParticle(Particle* p);
// Every free particle and free member once, with the collision read-back locked.
void particlePass();

}  // namespace gx
