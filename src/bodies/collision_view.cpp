#include "bodies/collision_view.h"

#include "bodies/sprite_surfaces.h"
#include "universe/simulation.h"

namespace gx {

bool lockCollisionView() {
    sim.collisionView = CollisionView{};
    const SpriteSurfaces& s = spriteSurfaces();
    return s.lockReadback != nullptr && s.lockReadback(&sim.collisionView);
}

void unlockCollisionView() {
    const SpriteSurfaces& s = spriteSurfaces();
    if (sim.collisionView.bits != nullptr && s.unlockReadback != nullptr)
        s.unlockReadback(&sim.collisionView);
    sim.collisionView = CollisionView{};
}

uint32_t collisionSample(float x, float y) {
    const CollisionView& v = sim.collisionView;
    if (v.bits == nullptr || v.width <= 0 || v.height <= 0) return 0;
    const float fx = x * v.scaleX;
    const float fy = y * v.scaleY;
    // A product just below the buffer size can round up to it; NaN counts as 0.
    int col = 0;
    if (fx >= float(v.width)) col = v.width - 1;
    else if (fx > 0.0f) col = int(fx);
    int row = 0;
    if (fy >= float(v.height)) row = v.height - 1;
    else if (fy > 0.0f) row = int(fy);
    return v.bits[row * v.stride + col];
}

}  // namespace gx
