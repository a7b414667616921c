// What the sprite rules and the particle pass need of the renderer, which installs it
// when a device comes up (render/sprite_quads.h): slots for the sprite records, a
// texture as large as a sprite's body, the quads once a sprite moved or turned, and the
// collision read-back for the particle pass. The simulation never draws; it keeps the
// texels and calls these. Unset, no slot, texture or read-back can be had.
#pragma once

#include "bodies/collision_view.h"
#include "bodies/sprites.h"

namespace gx {

struct SpriteSurfaces {
    // Drops every slot and makes the first block of them; false after an out-of-memory stop.
    bool (*startSlots)() = nullptr;
    void (*freeSlots)() = nullptr;
    // The next slot, or null after an out-of-memory stop.
    SpriteSlot* (*nextSlot)() = nullptr;
    // (Re)makes the sprite's texture for its body's radius, keeping the texels when
    // `copy`, and places its quads. False after an internal error.
    bool (*createTexture)(BodySprite* sprite, bool copy) = nullptr;
    // Places the quads (the sprite and its wrap copies). False after an internal error.
    bool (*buildQuads)(BodySprite* sprite) = nullptr;
    // Locks the last frame's read-back and fills the view; false when it cannot.
    bool (*lockReadback)(CollisionView* view) = nullptr;
    void (*unlockReadback)(CollisionView* view) = nullptr;
};
SpriteSurfaces& spriteSurfaces();

// The calls as the sprite rules make them; without a renderer they fail.
inline SpriteSlot* takeSpriteSlot() {
    const SpriteSurfaces& s = spriteSurfaces();
    return s.nextSlot != nullptr ? s.nextSlot() : nullptr;
}
inline bool makeSpriteTexture(BodySprite* sprite, bool copy) {
    const SpriteSurfaces& s = spriteSurfaces();
    return s.createTexture != nullptr && s.createTexture(sprite, copy);
}
inline bool placeSpriteQuads(BodySprite* sprite) {
    const SpriteSurfaces& s = spriteSurfaces();
    return s.buildQuads != nullptr && s.buildQuads(sprite);
}

}  // namespace gx
