// Body sprites: a large body kept as one rotating texture whose texels are its
// particles. The records come from bump pools and sit on one list, attached sprites
// first; each owns a slot the renderer gives it (a texture and room for its quads). The
// rules here keep the texels; drawing them is the renderer's (render/sprite_quads.h).
#pragma once

#include <cstdint>

#include "platform/gfx/gfx.h"
#include "universe/simulation.h"

namespace gx {

struct Body;
struct BodyNode;
struct Particle;
struct BodySprite;

// A sprite's place in the renderer: its texture (the texels) and its quads.
struct SpriteSlot {
    int32_t firstVertex = 0;
    gfx::VertexBufferPtr vertexBuffer;  // the block's buffer
    gfx::TexturePtr texture;
};

struct SpriteListNode {
    BodySprite* owner = nullptr;
    SpriteListNode* prev = nullptr;
    SpriteListNode* next = nullptr;
};

struct BodySprite {
    int32_t quadCount = 1;
    int32_t settleCountdown = 5;
    float halfSide = 0;
    float reach = 0;
    float halfDiagonal = 0;
    float angle = 0;  // radians, (-pi, pi]
    int32_t settledRadius = 1;
    uint32_t* lockedBits = nullptr;  // level 0 while all sprites are locked
    int32_t lockedStride = 0;        // texels per row of the last lock
    SpriteSlot* slot = nullptr;
    Body* body = nullptr;  // none: the sprite is free
    SpriteListNode listNode;
    int32_t width = 0, height = 0;
    float centreX = 0, centreY = 0;
    Particle* extraHead = nullptr;  // members whose texel was already taken
    Particle* extraTail = nullptr;
    int32_t extraCount = 0;
};

struct SpritePoolBlock {
    static constexpr uint32_t kRecords = 13107;

    uint32_t usedRecords = 0;
    SpritePoolBlock* next = nullptr;
    BodySprite records[kRecords];
};

constexpr uint32_t kSpriteMarker[2] = {0xFF000000u, 0xFE000000u};

// Pools and list (bodies/sprites.cpp).
// Frees every sprite and slot, then makes the first pool block (with its slots).
void resetSprites();
void freeSprites();
BodySprite* nextSprite();
// Gives the node's body a sprite; does nothing when none can be had.
void attachSprite(BodyNode* node);
// Turns the sprite back into particles and frees it for a later body.
void detachSprite(BodySprite* sprite);
// The first attached sprite, or none; the next attached one after s, or none.
BodySprite* firstAttachedSprite();
BodySprite* nextAttachedSprite(BodySprite* s);

// Texels (bodies/sprite_texels.cpp).
bool lockAllSprites();
void unlockAllSprites();
bool initialStamp(BodySprite* sprite);
// True when the sprite took the particle in (its current position maps inside).
bool stampParticle(BodySprite* sprite, Particle* p);
// True when the sprite took the particle in (its proposed position is blocked).
bool particleHitsSprite(BodySprite* sprite, Particle* p, float proposedX, float proposedY);
bool bodyTouchesSprite(BodySprite* spriteOfA, Body* b);
void updateAllSprites();
// These return false after an internal error (the caller returns at once).
bool settleSprite(BodySprite* sprite);
void settleAllSprites();
bool recentreSprite(BodySprite* sprite);
void dissolveSprite(BodySprite* sprite);

}  // namespace gx
