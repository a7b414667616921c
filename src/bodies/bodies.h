// Bodies: clumps of particles that move as one. The body record, the body list and
// its bump pools, and every routine that creates, measures, moves, sorts, shrinks
// and dissolves bodies on the torus of the particle world.
#pragma once

#include <cstdint>

#include "universe/vec2.h"
#include "universe/world.h"

namespace gx {

struct BodySprite;

struct Body {
    float radius;  // 0 until first measured, then >= 2.0
    float mass;
    float spin;
    Vec2 velocity;
    Vec2 centroid;
    int32_t memberCount;
    int32_t sortKey;
    Particle* head;
    Particle* tail;
    BodySprite* group;
    uint8_t dirty;
    int32_t radiusHold;
    float invRadius;
    float angularVelocity;
    int32_t looseCount;
    // Where the last walk of the members is recorded (see member_trail.h).
    uint32_t trailPass;
    uint32_t trailStart;
    uint32_t trailCount;
};

struct BodyNode {
    Body* body;
    BodyNode* prev;
    BodyNode* next;
};

constexpr uint32_t kBodiesPerBlock = 15420;
constexpr uint32_t kNodesPerBlock = 43690;
constexpr int32_t kSpriteThreshold = 500;

// ---- List and pools ----
BodyNode* bodyList();
// Number of linked bodies (walks the list).
uint32_t bodyCount();
void initBodies();
// Releases both pools, empties the list, clears the regrouping counter, initBodies.
void resetBodies();
void releaseBodies();
// A zeroed body appended at the end of the list, or null after an out-of-memory stop.
Body* newBody();
// The node of a linked body (walks the list), or null.
BodyNode* nodeOfBody(const Body* body);
void appendNode(BodyNode* node);
BodyNode* unlinkNode(BodyNode* node);
// A body is alive while its node is linked.
bool nodeLinked(const BodyNode* node);
void sortBodies();

// ---- Measuring ----
void measureMember(Particle* link);
void classifyNewMember(Particle* link);
void recentreFull(Body* body);
void updateAfterAdd(Body* body);
void absorbCentroid(Body* survivor, Body* absorbed);

// ---- Per-frame routines, in this order ----
void clumpScan(int32_t tileSize, int32_t needed);
void recentreDirtyBodies();
void pullMembers();
void advanceBodies();

// ---- Shrinking and dissolving ----
// Returns true when the body survives (it is unlinked once it drops to one member).
bool removeMember(Particle* link, BodyNode* node, Particle* previous);
BodyNode* dissolveBody(BodyNode* node, int32_t newHoldOff);

// 1 / radius with the radius taken as at least 2.0.
inline float safeInverseRadius(float radius) { return 1.0f / (radius >= 2.0f ? radius : 2.0f); }

// The sprite hand-over used when a body passes the member threshold; replaceable so
// tests can watch it. Null restores attachSprite (bodies/sprites.h).
void setSpriteAttachHook(SpriteAttachFn fn);

// The regrouping frame counter (read by tests).
uint32_t clumpFrameCounter();

}  // namespace gx
