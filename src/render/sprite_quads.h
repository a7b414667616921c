// What the renderer keeps for the body sprites: the blocks of slots (one vertex buffer
// shared by a block, four quads a slot: the sprite and up to three wrap copies), each
// sprite's texture, and the quads that place the texture where its body is.
#pragma once

#include <cstdint>

#include "bodies/sprites.h"
#include "platform/gfx/gfx.h"

namespace gx {

struct SpriteBlock {
    static constexpr uint32_t kSlots = 1560;
    static constexpr uint32_t kBufferBytes = 0xFFF00;  // 1560 slots * 24 vertices * 28 bytes

    uint32_t usedSlots = 0;
    int32_t nextFirstVertex = 0;
    SpriteBlock* next = nullptr;
    gfx::VertexBufferPtr vertexBuffer;
    SpriteSlot slots[kSlots];
};

// Installs the slots, textures, quads and read-back below as what the sprite rules and
// the particle pass use (bodies/sprite_surfaces.h).
void connectSpriteSurfaces();

SpriteSlot* nextSlot();
// The current block (the newest), or null.
SpriteBlock* currentSpriteBlock();
// Drops every block of slots (their textures and buffers go with them).
void freeSpriteSlots();
bool createSpriteTexture(BodySprite* sprite, bool copy);
bool buildSpriteQuads(BodySprite* sprite);

}  // namespace gx
