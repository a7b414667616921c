// The simulation's whole state in one object: the world (sizes, grid, population and
// its lists, the shared values, the random generator, the picture's rectangle), the
// bodies and their pools, the sprites, the collision view of the particle pass, the
// scratch of the frame's rules and the caches the renderer keeps of the population.
// resetSimulation() frees everything and brings back the state before the first run;
// start-up and every test fixture call it, so a run never sees what the last one left.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "bodies/collision_view.h"

namespace gx {

struct Body;
struct BodyBlock;
struct BodyNode;
struct NodeBlock;
struct Particle;
struct ParticleLinks;
struct SpriteListNode;
struct SpritePoolBlock;
struct TrailStep;

constexpr float kBaseGravity = 0.33362952f;

// The sprite hand-over used when a body passes the member threshold; replaceable so
// tests can watch it (bodies.h).
using SpriteAttachFn = void (*)(BodyNode* node);

// The body list and the regrouping frame counter.
struct BodyState {
    BodyNode* head = nullptr;
    BodyNode* tail = nullptr;
    uint32_t clumpCounter = 0;
    SpriteAttachFn attachHook = nullptr;
};

// Attached sprites first, free ones after them: walks stop at the first free sprite.
struct SpriteList {
    SpriteListNode* head = nullptr;
};

struct SpriteState {
    SpriteList list;
    SpritePoolBlock* pool = nullptr;  // current pool block at the head
    bool markerFlag = false;          // which alpha marker may move this pass
};

// The record of the last round of member walks (member_trail.h).
struct MemberTrailBuffers {
    TrailStep* previous = nullptr;
    TrailStep* current = nullptr;
    uint32_t previousSize = 0;
    uint32_t currentSize = 0;
    uint32_t capacity = 0;
    uint32_t pass = 1;
    bool overflowed = false;
};

// The bodies as columns for the four-wide attraction (pull_columns.h).
struct BodyColumns {
    std::vector<Body*> body;
    std::vector<float> cx, cy, mass, vx, vy, termX, termY;
};

// The texels the renderer's last frame wrote into the particle image, so the next frame
// clears just those instead of the whole image (tens of megabytes at 4K). Valid only for
// the same texture and layout.
struct WrittenTexels {
    bool valid = false;
    uint64_t generation = 0;
    int32_t pitch = 0;
    uint32_t width = 0, height = 0;
    std::vector<uint32_t> offsets;  // room for every particle; the first `count` are used
    size_t count = 0;
};

// The loose list in walk order, kept for the renderer while its links stay as they are
// (the whole wind-down): following the links misses the cache at nearly every particle,
// a kept array of them can be fetched ahead. Every change to a population list's links
// makes it invalid.
struct LooseWalk {
    bool valid = false;
    std::vector<const Particle*> order;
};

struct Simulation {
    // ---- World sizes and grid (set by initWorld) ----
    int32_t worldWidth = 0;   // W: grid row length, x bound of the in-range test
    int32_t worldHeight = 0;  // H: back-buffer height (grid rows)
    int32_t wrapWidth = 0;    // W - 1: x wrap period
    int32_t wrapHeight = 0;   // H - 1: y wrap period and y bound of the in-range test
    int32_t halfWidth = 0;    // W / 2 - 1
    int32_t halfHeight = 0;   // (H - 1) / 2
    int32_t cellCount = 0;    // W * H
    Particle** grid = nullptr;

    // ---- Population ----
    Particle* particles = nullptr;           // particleCount + 1 records
    ParticleLinks* particleLinks = nullptr;  // as many, index for index
    uint32_t particleCount = 0;
    Particle* looseList = nullptr;  // last appended link; walk through listPrev
    Particle* spriteList = nullptr;
    Particle** matchSlots = nullptr;  // re-forming scratch, one entry per particle

    // ---- Shared values ----
    float speedFactor = 1.0f;
    float inverseSpeed = 1.0f;
    float gravityStrength = kBaseGravity;
    int32_t burstFrames = 0;
    int32_t randomSeed = 0;
    // Produced by each frame's step: the body limit and the sparse flag for the next
    // frame's attraction and particle pass, the sparse flag also for the renderer's
    // particle image; the processed count is what the next frame's values come from.
    int32_t bodyLimit = 1;
    int32_t processedCount = -1;
    int32_t sparseFlag = 0;

    // ---- The picture the population was cut from (screen rectangle) ----
    float pictureLeft = 0.0f;
    float pictureTop = 0.0f;
    float pictureRight = 0.0f;
    float pictureBottom = 0.0f;

    // ---- Bodies ----
    BodyState bodyState;
    BodyBlock* bodyBlocks = nullptr;  // current block at the head
    NodeBlock* nodeBlocks = nullptr;
    MemberTrailBuffers memberTrail;
    BodyNode* bodySnapshot = nullptr;  // the body list as the frame's attraction began

    // ---- Sprites and the read-back of the particle pass ----
    SpriteState spriteState;
    CollisionView collisionView;

    // ---- Scratch of the frame's rules, kept for their capacity ----
    BodyColumns columns;              // the attraction
    std::vector<BodyNode*> order;     // sorting the bodies
    std::vector<int32_t> freeInTile;  // the regrouping scan
    uint8_t* colourBucket = nullptr;  // the colour matching (16 MB, made when first used)

    // ---- Caches the renderer keeps of the population ----
    WrittenTexels writtenTexels;
    LooseWalk looseWalk;
};
extern Simulation sim;

// Frees everything the state holds (the renderer's slots through the sprites) and
// brings back the state before the first run; the sprite hand-over hook is unset.
void resetSimulation();

}  // namespace gx
