// The particle world: the particle record, the population and its two lists, the
// occupancy grid, the torus sizes and wrap rules, and the program's own random
// generator. Their values live in the simulation's state (simulation.h).
#pragma once

#include <cstdint>

#include "universe/simulation.h"
#include "universe/vec2.h"

namespace gx {

struct Body;

// Which population list a particle's population link is on.
enum : int32_t { kOnNoList = 0, kOnLooseList = 1, kOnSpriteList = 2 };

struct ParticleLinks;

// What the per-frame walks read and write (motion, grid cell, hold-off, body, member
// link, polar place): 64 bytes, one cache line of the page-aligned population array.
// The rest of a particle lives beside it in `particleLinks`, so that a walk over every
// particle brings in half the memory it would with whole records.
struct Particle {
    float mass;
    float x;
    float y;
    uint32_t colour;
    float vx;
    float vy;
    float ax;
    float ay;
    int32_t cell;     // grid cell last claimed, -1 for none
    int32_t holdOff;  // >0 bounce frames left, 0 ready to join, -1 free member of a body
    Body* body;
    // Member link: a body's member list threads through here.
    Particle* memberNext;
    float polarRadius;
    float polarAngle;

    // Only for particles of the population array.
    ParticleLinks& links() const;
};
static_assert(sizeof(Particle) == 64);

// The population links, picture places and re-forming slot of the particle with the
// same index.
struct ParticleLinks {
    Particle* memberSelf;
    Particle* listSelf;
    Particle* listNext;
    Particle* listPrev;
    int32_t matchSlot;
    int32_t homeX;
    int32_t homeY;
    int32_t originX;
    int32_t originY;
    uint32_t pictureColour;
    // Which population list the link is on (kOnNoList, kOnLooseList, kOnSpriteList);
    // removing from a list the link is not on must do nothing.
    int32_t listId;
};

inline ParticleLinks& Particle::links() const { return sim.particleLinks[this - sim.particles]; }

// ---- Sizes and grid ----
// W is the capture surface's row length in pixels; H comes from the back buffer.
// Returns false after an out-of-memory stop.
bool initWorld(int32_t rowPixels);
// The same with an explicit height (initWorld reads it from the framework).
bool initWorldSized(int32_t rowPixels, int32_t height);
void recentreWorld(int32_t newRowBytes, int32_t oldRowBytes, int32_t oldHeight);
void rebuildGrid(int32_t dx, int32_t dy);
void refillGrid();

// ---- Geometry helpers ----
// Truncation toward zero that saturates instead of overflowing; NaN gives 0.
inline int32_t truncToInt(float v) {
    if (v >= 2147483520.0f) return INT32_MAX;
    if (v <= -2147483648.0f) return INT32_MIN;
    if (!(v == v)) return 0;
    return int32_t(v);
}
// NaN is never in range.
inline bool inRange(float x, float y) {
    return x >= 0.0f && x < float(sim.worldWidth) && y >= 0.0f && y < float(sim.wrapHeight);
}
// Only for positions that are in range.
inline int32_t cellIndexOf(float x, float y) { return int32_t(y) * sim.worldWidth + int32_t(x); }
// Brings an out-of-range position back into the world. Returns false when a
// coordinate was not finite (it is then 0, and the caller stops the motion).
bool wrapPoint(float& x, float& y);
// The same for a particle; a non-finite position also zeroes its velocity.
void wrapParticle(Particle* p);
// Shortest (minimal image) difference per axis; non-finite gives 0.
float shortestDifference(float d, int32_t half, int32_t period);
// Nearly every call is already within half a period; only the others need the full rule.
inline float shortestDx(float d) {
    return std::fabs(d) <= float(sim.halfWidth)
               ? d
               : shortestDifference(d, sim.halfWidth, sim.wrapWidth);
}
inline float shortestDy(float d) {
    return std::fabs(d) <= float(sim.halfHeight)
               ? d
               : shortestDifference(d, sim.halfHeight, sim.wrapHeight);
}
inline Vec2 shortestDiff(Vec2 d) { return {shortestDx(d.x), shortestDy(d.y)}; }
// Single-step wrap of coordinate c toward reference r.
float stepWrapX(float c, float r);
float stepWrapY(float c, float r);
// Re-files a particle in the grid: out of range it leaves its cell (cleared when the
// cell holds it) and gets cell -1; in range it leaves its old cell the same way,
// claims the new one and overwrites the entry there.
void refileInGrid(Particle* p);
// Clears p's cell when it holds p, and sets cell = -1.
void takeOutOfGrid(Particle* p);

// ---- Population lists ----
void appendToLooseList(Particle* p);
void appendToSpriteList(Particle* p);
void removeFromLooseList(Particle* p);
void removeFromSpriteList(Particle* p);
void moveToLooseList(Particle* p);
void moveToSpriteList(Particle* p);
void moveMembersToSpriteList(Body* body);

// ---- Population storage ----
// Allocates n + 1 zeroed records (at least one) as `particles`, particleCount = 0.
// Returns false after an out-of-memory stop (the previous array stays released).
bool allocateParticles(uint32_t n);
// Allocates matchSlots for particleCount entries (at least one), replacing the old one.
bool allocateMatchSlots();
// Empties both lists, particleCount = burstFrames = 0, frees the particle array and
// matchSlots, clears the grid.
void releaseParticles();
// Shutdown form: frees only the particle array and matchSlots.
void releaseParticlesAtExit();

// ---- Shared values ----
void setSpeed(float s);
void setGravityForPopulation();

// ---- Random generator ----
// 0 for n == 0 (seed untouched); else 1..|n|.
int32_t nextRandom(int32_t n);
// 0 for x == 0 (seed untouched); else x * r / 32767.
float nextRandomReal(float x);

}  // namespace gx
