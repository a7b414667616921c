// The collision read-back as the particle pass sees it: the last frame's sprites shrunk
// to (about) 128 x 128 pixels. A moving particle's target is looked up here, and the exact
// sprite test runs only where the picture is not black.
#pragma once

#include <cstdint>

namespace gx {

// What the particle pass reads while the read-back is locked. Outside a pass (or with no
// bits) every lookup answers "no sprite here".
struct CollisionView {
    const uint32_t* bits = nullptr;
    int width = 0;   // columns
    int height = 0;  // rows
    int stride = 0;  // pixels from one row to the next
    float scaleX = 0.0f;
    float scaleY = 0.0f;
};
// (sim.collisionView, simulation.h)

// Locks the read-back for the particle pass (through the renderer) and fills
// sim.collisionView; false when it is missing or the lock fails.
bool lockCollisionView();
void unlockCollisionView();

// The read-back pixel covering world point (x, y), column and row clamped to the buffer.
uint32_t collisionSample(float x, float y);

}  // namespace gx
