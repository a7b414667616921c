#include "universe/motion.h"

#include <cmath>
#include <cstring>
#include <new>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "bodies/collision_view.h"
#include "bodies/sprites.h"
#include "core/prefetch.h"
#include "core/stage_marks.h"
#include "framework/failures.h"
#include "universe/collisions.h"
#include "universe/membership.h"

namespace gx {

BodyNode* bodySnapshot = nullptr;

namespace {

constexpr float kSoftening = 1000.0f;
constexpr int32_t kAttractionBudget = 8000;
constexpr int32_t kSmallBody = 20;

// A target that was not finite lands at 0 and the particle stops.
void wrapTarget(Particle* p, float& tx, float& ty) {
    if (inRange(tx, ty)) return;
    if (!wrapPoint(tx, ty)) {
        p->vx = p->vy = 0.0f;
        p->ax = p->ay = 0.0f;
    }
}

// Whether the read-back shows a sprite at the target and the sprite took p in.
bool caughtBySprite(Particle* p, float tx, float ty) {
    if (p->holdOff == -1) return false;
    if ((collisionSample(tx, ty) & 0xFFFFFFu) == 0) return false;
    return spriteHitTest(p, tx, ty);
}

// The pass walks the particles in order, but each one's target cell lies anywhere in a
// grid of many megabytes. Fetching ahead (the grid entry of a particle far ahead, then
// the occupant of a nearer one's) hides most of those misses; only the cache sees it.
constexpr uint32_t kRecordAhead = 32;
constexpr uint32_t kGridAhead = 16;
constexpr uint32_t kOccupantAhead = 8;

inline const Particle* const* likelyTargetCell(const Particle* p) {
    if (p->body != nullptr) return nullptr;
    const float tx = p->x + (p->vx * speedFactor + p->ax);
    const float ty = p->y + (p->vy * speedFactor + p->ay);
    if (!inRange(tx, ty)) return nullptr;
    return &grid[cellIndexOf(tx, ty)];
}

inline void fetchAhead(uint32_t i) {
    if (i + kRecordAhead < particleCount) {
        prefetchForRead(&particles[i + kRecordAhead]);
    }
    if (i + kGridAhead < particleCount) {
        const Particle* p = &particles[i + kGridAhead];
        if (const Particle* const* cell = likelyTargetCell(p)) {
            prefetchForRead(cell);
            // The cell it leaves, usually a row away from the target.
            if (p->cell >= 0 && p->cell < cellCount) prefetchForRead(&grid[p->cell]);
        }
    }
    if (i + kOccupantAhead < particleCount) {
        if (const Particle* const* cell = likelyTargetCell(&particles[i + kOccupantAhead]))
            if (const Particle* q = *cell) prefetchForRead(q);
    }
}

}  // namespace

namespace {

// The pull of one pair, as the two velocity changes it makes.
struct PairPull {
    float ax, ay;  // added to the first body
    float bx, by;  // taken from the second
};

inline PairPull pairPull(Vec2 ca, float ma, Vec2 cb, float mb, float g) {
    const Vec2 d = shortestDiff({cb.x - ca.x, cb.y - ca.y});
    const Vec2 n = unit(d);
    const float dist = std::sqrt(d.x * d.x + d.y * d.y) + kSoftening;
    const float denominator = dist * dist * inverseSpeed;
    const float fa = g * (mb / denominator);
    const float fb = g * (ma / denominator);
    return {n.x * fa, n.y * fa, n.x * fb, n.y * fb};
}

void attractPairsByLinks(float g) {
    for (BodyNode* na = bodyList(); na != nullptr; na = na->next) {
        Body* a = na->body;
        for (BodyNode* nb = na->next; nb != nullptr; nb = nb->next) {
            Body* b = nb->body;
            const PairPull f = pairPull(a->centroid, a->mass, b->centroid, b->mass, g);
            a->velocity.x += f.ax;
            a->velocity.y += f.ay;
            b->velocity.x -= f.bx;
            b->velocity.y -= f.by;
        }
    }
}

#if defined(__SSE2__)
// unit() four at a time: the float length, and the unit vector or (0, 0) where unit()
// gives that. SSE rounds the square root and quotients as the scalar instructions do.
struct Unit4 {
    __m128 length, x, y;
};
inline Unit4 unit4(__m128 dx, __m128 dy) {
    const __m128 signBit = _mm_set1_ps(-0.0f), infinity = _mm_set1_ps(INFINITY), zero = _mm_setzero_ps();
    const __m128 len = _mm_sqrt_ps(_mm_add_ps(_mm_mul_ps(dx, dx), _mm_mul_ps(dy, dy)));
    const __m128 ux = _mm_div_ps(dx, len), uy = _mm_div_ps(dy, len);
    const __m128 ok = _mm_and_ps(_mm_and_ps(_mm_cmpgt_ps(len, zero), _mm_cmplt_ps(len, infinity)),
                                 _mm_and_ps(_mm_cmplt_ps(_mm_andnot_ps(signBit, ux), infinity),
                                            _mm_cmplt_ps(_mm_andnot_ps(signBit, uy), infinity)));
    return {len, _mm_and_ps(ok, ux), _mm_and_ps(ok, uy)};
}

// The bodies as columns, so one body's pairs with all later ones go four at a time. SSE
// rounds square roots and quotients exactly as the scalar instructions do and every pair
// takes the same operations in the same order; each body's velocity still receives its
// changes in the order of the pair walk, so the result is the same bit for bit.
struct BodyColumns {
    std::vector<Body*> body;
    std::vector<float> cx, cy, mass, vx, vy, termX, termY;
};
BodyColumns columns;

bool attractPairsByColumns(float g) {
    BodyColumns& c = columns;
    size_t n = 0;
    try {
        c.body.clear();
        for (BodyNode* node = bodyList(); node != nullptr; node = node->next) c.body.push_back(node->body);
        n = c.body.size();
        for (auto* v : {&c.cx, &c.cy, &c.mass, &c.vx, &c.vy, &c.termX, &c.termY}) v->resize(n);
    } catch (const std::bad_alloc&) {
        return false;
    }
    for (size_t k = 0; k < n; ++k) {
        const Body* b = c.body[k];
        c.cx[k] = b->centroid.x;
        c.cy[k] = b->centroid.y;
        c.mass[k] = b->mass;
        c.vx[k] = b->velocity.x;
        c.vy[k] = b->velocity.y;
    }
    const __m128 periodX = _mm_set1_ps(float(wrapWidth)), periodY = _mm_set1_ps(float(wrapHeight));
    const __m128 halfX = _mm_set1_ps(float(halfWidth)), halfY = _mm_set1_ps(float(halfHeight));
    const __m128 signBit = _mm_set1_ps(-0.0f);
    const __m128 softening = _mm_set1_ps(kSoftening);
    const __m128 speed = _mm_set1_ps(inverseSpeed);
    const __m128 gv = _mm_set1_ps(g);
    auto select = [](__m128 mask, __m128 yes, __m128 no) {
        return _mm_or_ps(_mm_and_ps(mask, yes), _mm_andnot_ps(mask, no));
    };
    // One step toward the nearer image, as the scalar rule does for |d| below a period.
    auto nearer = [&](__m128 d, __m128 half, __m128 period) {
        const __m128 down = _mm_sub_ps(d, period), up = _mm_add_ps(d, period);
        const __m128 negHalf = _mm_xor_ps(half, signBit);
        return select(_mm_cmpgt_ps(d, half), down, select(_mm_cmplt_ps(d, negHalf), up, d));
    };
    for (size_t i = 0; i < n; ++i) {
        const Vec2 ca{c.cx[i], c.cy[i]};
        const float ma = c.mass[i];
        const __m128 ax = _mm_set1_ps(ca.x), ay = _mm_set1_ps(ca.y), mav = _mm_set1_ps(ma);
        // The scalar rule, for the pairs the four-wide step does not cover.
        auto onePair = [&](size_t k) {
            const PairPull f = pairPull(ca, ma, {c.cx[k], c.cy[k]}, c.mass[k], g);
            c.termX[k] = f.ax;
            c.termY[k] = f.ay;
            c.vx[k] -= f.bx;
            c.vy[k] -= f.by;
        };
        size_t j = i + 1;
        for (; j + 4 <= n; j += 4) {
            const __m128 dx0 = _mm_sub_ps(_mm_loadu_ps(&c.cx[j]), ax);
            const __m128 dy0 = _mm_sub_ps(_mm_loadu_ps(&c.cy[j]), ay);
            const __m128 within = _mm_and_ps(_mm_cmplt_ps(_mm_andnot_ps(signBit, dx0), periodX),
                                             _mm_cmplt_ps(_mm_andnot_ps(signBit, dy0), periodY));
            if (_mm_movemask_ps(within) != 0xF) {
                for (size_t k = j; k < j + 4; ++k) onePair(k);
                continue;
            }
            const __m128 dx = nearer(dx0, halfX, periodX);
            const __m128 dy = nearer(dy0, halfY, periodY);
            const Unit4 u = unit4(dx, dy);
            const __m128 nx = u.x, ny = u.y;
            const __m128 dist = _mm_add_ps(u.length, softening);
            const __m128 denominator = _mm_mul_ps(_mm_mul_ps(dist, dist), speed);
            const __m128 fa = _mm_mul_ps(gv, _mm_div_ps(_mm_loadu_ps(&c.mass[j]), denominator));
            const __m128 fb = _mm_mul_ps(gv, _mm_div_ps(mav, denominator));
            _mm_storeu_ps(&c.termX[j], _mm_mul_ps(nx, fa));
            _mm_storeu_ps(&c.termY[j], _mm_mul_ps(ny, fa));
            _mm_storeu_ps(&c.vx[j], _mm_sub_ps(_mm_loadu_ps(&c.vx[j]), _mm_mul_ps(nx, fb)));
            _mm_storeu_ps(&c.vy[j], _mm_sub_ps(_mm_loadu_ps(&c.vy[j]), _mm_mul_ps(ny, fb)));
        }
        for (; j < n; ++j) onePair(j);
        float vx = c.vx[i], vy = c.vy[i];
        for (size_t k = i + 1; k < n; ++k) {
            vx += c.termX[k];
            vy += c.termY[k];
        }
        c.vx[i] = vx;
        c.vy[i] = vy;
    }
    for (size_t k = 0; k < n; ++k) {
        c.body[k]->velocity.x = c.vx[k];
        c.body[k]->velocity.y = c.vy[k];
    }
    return true;
}
#endif

}  // namespace

bool attractionByColumns = true;

void attractBodies() {
    bodySnapshot = bodyList();
    const float g = gravityStrength;
#if defined(__SSE2__)
    if (!attractionByColumns || !attractPairsByColumns(g)) attractPairsByLinks(g);
#else
    attractPairsByLinks(g);
#endif

    const float ratio = float(processedCount) / float(particleCount);
    sparseFlag = ratio < 0.15f ? 1 : 0;
    const int32_t limit = processedCount > 0 ? kAttractionBudget / processedCount : 0;
    bodyLimit = limit < 1 ? 1 : limit;
}

void gatherAcceleration(Particle* p) {
    p->ax = 0.0f;
    p->ay = 0.0f;
    if (bodySnapshot == nullptr) return;
    const float g = gravityStrength;
    int32_t n = 0;
    for (BodyNode* node = bodySnapshot; node != nullptr; node = node->next) {
        const Body* b = node->body;
        const Vec2 d = shortestDiff({b->centroid.x - p->x, b->centroid.y - p->y});
        const Vec2 u = unit(d);
        const float dist = std::sqrt(d.x * d.x + d.y * d.y) + kSoftening;
        const float f = g * (b->mass / (dist * dist * inverseSpeed));
        p->ax += u.x * f;
        p->ay += u.y * f;
        ++n;
        if (b->memberCount < kSmallBody || n == bodyLimit) break;
    }
}

void moveParticle(Particle* p) {
    if (p->holdOff > 0) --p->holdOff;

    const Vec2 step{p->vx * speedFactor + p->ax, p->vy * speedFactor + p->ay};
    float tx = p->x + step.x;
    float ty = p->y + step.y;
    wrapTarget(p, tx, ty);
    const int32_t c = cellIndexOf(tx, ty);
    Particle* q = grid[c];

    if (q == nullptr) {
        if (caughtBySprite(p, tx, ty)) return;
        if (p->cell >= 0) grid[p->cell] = nullptr;
        p->cell = c;
        grid[c] = p;
        p->vx += p->ax;
        p->vy += p->ay;
        p->x = tx;
        p->y = ty;
        return;
    }

    if (c == p->cell) {
        if (caughtBySprite(p, tx, ty)) return;
        p->vx += p->ax;
        p->vy += p->ay;
        p->x = tx;
        p->y = ty;
        return;
    }

    if (p->holdOff == 0 && q->body != nullptr) {
        // Join: stop one unit short along the step, claim that cell, become a member.
        const Vec2 u = unit(step);
        p->x = tx - u.x;
        p->y = ty - u.y;
        if (!inRange(p->x, p->y)) wrapParticle(p);
        if (inRange(p->x, p->y)) {
            const int32_t own = cellIndexOf(p->x, p->y);
            if (own != p->cell) {
                if (p->cell >= 0 && grid[p->cell] == p) grid[p->cell] = nullptr;
                p->cell = own;
                grid[own] = p;
            }
        } else {
            takeOutOfGrid(p);
        }
        pairParticles(p, q);
        return;
    }

    // Bounce, then take the step again with the new velocity.
    bounceParticles(p, q);
    tx = p->x + p->vx * speedFactor + p->ax;
    ty = p->y + p->vy * speedFactor + p->ay;
    wrapTarget(p, tx, ty);
    if (p->cell >= 0 && grid[p->cell] == p) grid[p->cell] = nullptr;
    p->cell = cellIndexOf(tx, ty);
    if (grid[p->cell] == nullptr) grid[p->cell] = p;
    p->x = tx;
    p->y = ty;
}

namespace {

#if defined(__SSE2__)
inline uint32_t bitsOf(float v) {
    uint32_t b;
    std::memcpy(&b, &v, sizeof b);
    return b;
}

// With a body limit of 1 a particle feels only the snapshot's first body, so its pull
// depends on nothing but its own position and that body. The pass works it out for a
// block of particles at a time, four at once, with the scalar rule's operations in the
// same order (SSE rounds them as the scalar instructions do). A particle whose position
// or body changed since, or whose difference needs the full wrap rule, takes the
// scalar rule instead, so the result is the same bit for bit.
class BlockPull {
public:
    void begin() {
        active_ = bodySnapshot != nullptr && bodyLimit == 1;
        first_ = end_ = 0;
    }

    void accelerate(Particle* p, uint32_t i) {
        const BodyNode* node = bodySnapshot;
        if (active_ && node != nullptr) {
            if (i < first_ || i >= end_ || node != node_) fill(i, node);
            const uint32_t k = i - first_;
            if ((usable_ >> k & 1u) != 0 && node->body == body_ &&
                bitsOf(p->x) == bitsOf(x_[k]) && bitsOf(p->y) == bitsOf(y_[k]) &&
                bitsOf(body_->centroid.x) == cx_ && bitsOf(body_->centroid.y) == cy_ &&
                bitsOf(body_->mass) == mass_) {
                p->ax = ax_[k];
                p->ay = ay_[k];
                return;
            }
        }
        gatherAcceleration(p);
    }

private:
    static constexpr uint32_t kBlock = 16;  // within what the pass has fetched ahead

    void fill(uint32_t first, const BodyNode* node) {
        node_ = node;
        body_ = node_->body;
        cx_ = bitsOf(body_->centroid.x);
        cy_ = bitsOf(body_->centroid.y);
        mass_ = bitsOf(body_->mass);
        first_ = first;
        const uint32_t n = particleCount - first < kBlock ? particleCount - first : kBlock;
        end_ = first + n;
        for (uint32_t k = 0; k < kBlock; ++k) {
            const Particle& p = particles[first + (k < n ? k : 0)];
            x_[k] = p.x;
            y_[k] = p.y;
        }
        const __m128 signBit = _mm_set1_ps(-0.0f);
        const __m128 zero = _mm_setzero_ps();
        const __m128 halfX = _mm_set1_ps(float(halfWidth)), halfY = _mm_set1_ps(float(halfHeight));
        const __m128 cx = _mm_set1_ps(body_->centroid.x), cy = _mm_set1_ps(body_->centroid.y);
        const __m128 mass = _mm_set1_ps(body_->mass);
        const __m128 softening = _mm_set1_ps(kSoftening);
        const __m128 speed = _mm_set1_ps(inverseSpeed);
        const __m128 g = _mm_set1_ps(gravityStrength);
        uint32_t usable = 0;
        for (uint32_t k = 0; k < kBlock; k += 4) {
            const __m128 dx = _mm_sub_ps(cx, _mm_load_ps(&x_[k]));
            const __m128 dy = _mm_sub_ps(cy, _mm_load_ps(&y_[k]));
            // Beyond half a period the scalar wrap rule decides.
            const __m128 near = _mm_and_ps(_mm_cmple_ps(_mm_andnot_ps(signBit, dx), halfX),
                                           _mm_cmple_ps(_mm_andnot_ps(signBit, dy), halfY));
            usable |= uint32_t(_mm_movemask_ps(near)) << k;
            const Unit4 u = unit4(dx, dy);
            const __m128 dist = _mm_add_ps(u.length, softening);
            const __m128 f = _mm_mul_ps(g, _mm_div_ps(mass, _mm_mul_ps(_mm_mul_ps(dist, dist), speed)));
            _mm_store_ps(&ax_[k], _mm_add_ps(zero, _mm_mul_ps(u.x, f)));
            _mm_store_ps(&ay_[k], _mm_add_ps(zero, _mm_mul_ps(u.y, f)));
        }
        usable_ = usable;
    }

    bool active_ = false;
    uint32_t first_ = 0, end_ = 0;
    const BodyNode* node_ = nullptr;
    const Body* body_ = nullptr;
    uint32_t cx_ = 0, cy_ = 0, mass_ = 0;
    uint32_t usable_ = 0;
    alignas(16) float x_[kBlock], y_[kBlock], ax_[kBlock], ay_[kBlock];
};
#else
class BlockPull {
public:
    void begin() {}
    void accelerate(Particle* p, uint32_t) { gatherAcceleration(p); }
};
#endif

}  // namespace

bool pullByBlocks = true;

void particlePass() {
    if (!lockCollisionView()) {
        internalError("Internal error - Failed to process collision.");
        return;
    }
    // The contact pass may have unlinked the body the snapshot starts at.
    if (bodySnapshot != bodyList()) bodySnapshot = bodyList();
    BlockPull pull;
    if (pullByBlocks) pull.begin();
    int32_t processed = 0;
    for (uint32_t i = 0; i < particleCount; ++i) {
        fetchAhead(i);
        Particle* p = &particles[i];
        if (p->body == nullptr) {
            pull.accelerate(p, i);
            moveParticle(p);
            ++processed;
        } else if (p->holdOff == -1) {
            pull.accelerate(p, i);
            ++processed;
        }
    }
    processedCount = processed;
    unlockCollisionView();
}

void simulateFrame() {
    markStage("sim.lock");
    // 1. Sprite texels stay locked for the stamping and tests of this frame.
    if (!lockAllSprites()) {
        unlockAllSprites();
        internalError("Internal error - Failed to lock surface.");
        return;
    }
    markStage("sim.attract");
    // 2. Bodies pull each other.
    attractBodies();
    markStage("sim.clump");
    // 3. No regrouping while the opening burst lasts.
    if (burstFrames != 0) --burstFrames;
    else clumpScan(8, 20);
    markStage("sim.contacts");
    // 4. Body contacts.
    collideBodies();
    markStage("sim.recentre");
    // 5. Centroids of bodies that merged.
    recentreDirtyBodies();
    markStage("sim.particles");
    // 6. Free particles and free members.
    particlePass();
    markStage("sim.unlock");
    // 7. The texels go back to their textures.
    unlockAllSprites();
    markStage("sim.pull");
    // 8. Bound members toward their centroids.
    pullMembers();
    markStage("sim.advance");
    // 9. Bodies move, turn, and may become sprites.
    advanceBodies();
    markStage("sim.refill");
    // 10. Cells emptied this frame get their particles back.
    refillGrid();
}

void resetMotion() { bodySnapshot = nullptr; }

}  // namespace gx
