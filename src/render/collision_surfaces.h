// The collision read-back: every frame the body sprites are drawn into a screen-sized
// layer, that layer is shrunk into a 128 x 128 texture, and the small picture is copied
// to system memory, where the next simulation frame reads it (bodies/collision_view.h).
#pragma once

#include <cstdint>

#include "bodies/collision_view.h"
#include "platform/gfx/gfx.h"

namespace gx {

// Screen-sized render target that holds every sprite of the frame.
extern gfx::TexturePtr SpriteLayerTexture;
// The sprite layer shrunk to (about) 128 x 128.
extern gfx::TexturePtr CollisionTexture;
// System-memory copy of CollisionTexture that the simulation reads.
extern gfx::SurfacePtr CollisionReadback;

// Actual level-0 sizes (a power-of-two card may make them larger than asked).
extern int spriteLayerWidth;
extern int spriteLayerHeight;
extern int collisionWidth;
extern int collisionHeight;
// World pixels to read-back pixels.
extern float collisionScaleX;
extern float collisionScaleY;

// Set when a read-back failed; a later successful read-back clears it. Kept apart from
// the user's Pause key so that a successful read-back never undoes the user's pause.
extern bool readbackPaused;

// Whether the phase state must not advance this frame.
inline bool phasePaused(bool userPauseFlag) { return userPauseFlag || readbackPaused; }

// Last step of a device reset. Failures go to the error report.
gfx::Result createCollisionBuffers(gfx::Device* device, const gfx::SurfaceDesc& backBuffer);
// Device lost: the two default-pool textures.
void releaseCollisionTextures();
// Device destroyed: all three buffers.
void releaseCollisionBuffers();
// Draws the sprite layer, shrinks it and reads it back; restores backBuffer as the
// render target and returns the result of doing so.
gfx::Result renderSpriteLayer(gfx::Device* device, const gfx::SurfacePtr& backBuffer);

// The read-back for the particle pass (installed as its lock, bodies/sprite_surfaces.h):
// locks CollisionReadback and fills the view; false when the surface is missing or the
// lock fails.
bool lockCollisionReadback(CollisionView* view);
void unlockCollisionReadback(CollisionView* view);

// Drops every buffer and flag (tests).
void resetCollisionSurfaces();

}  // namespace gx
