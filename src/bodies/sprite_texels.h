// Helpers shared by the sprite pools and the texel work: locking a sprite texture,
// walking the ring tables over a texture, and mapping world points to texels.
#pragma once

#include <cstdint>

#include "bodies/sprites.h"

namespace gx {

// Locks level 0 of the slot's texture; null on failure. stride gets texels per row.
uint32_t* lockSpriteTexture(const gfx::TexturePtr& texture, uint32_t flags, int32_t* stride);

// The ring-table index limit for the rings below r (ringStart[r]), r bounded by the
// table and by the rings that can still reach a texel of the sprite's texture.
int32_t spriteRingEnd(const BodySprite* s, int32_t r);

// Texel of ring-table point i of the sprite (not necessarily inside the texture).
void ringTexel(const BodySprite* s, int32_t i, int32_t* tx, int32_t* ty);

inline bool texelInside(const BodySprite* s, int32_t tx, int32_t ty) {
    return tx >= 0 && tx < s->width && ty >= 0 && ty < s->height;
}

// Maps world point (x, y) into the sprite (rotation included); d gets the distance
// from the body centre. False when the point maps outside the texture.
bool mapToTexel(const BodySprite* s, float x, float y, int32_t* tx, int32_t* ty, float* d);

}  // namespace gx
