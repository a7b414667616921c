#include "universe/collisions.h"

#include <cmath>

#include "bodies/sprites.h"
#include "universe/membership.h"

namespace gx {

namespace {

constexpr int32_t kShatterImpact = 400;
constexpr int32_t kMergeLimit = 50;

float speedOf(Vec2 v) { return std::sqrt(v.x * v.x + v.y * v.y); }

float centroidDistance(const Body* a, const Body* b) {
    const Vec2 d = shortestDiff({b->centroid.x - a->centroid.x, b->centroid.y - a->centroid.y});
    return std::sqrt(d.x * d.x + d.y * d.y);
}

// Takes the node out of the walk: the position naming it moves to its successor.
void stepPast(BodyNode* node, BodyNode*& outer, BodyNode*& inner) {
    if (outer == node) outer = node->next;
    else inner = node->next;
}

}  // namespace

int32_t effectiveCount(const Body* body) {
    return body->memberCount + (body->group != nullptr ? body->group->extraCount : 0);
}

void bounceParticles(Particle* p, Particle* q) {
    const float mx = p->mass * p->vx + q->mass * q->vx;
    const float my = p->mass * p->vy + q->mass * q->vy;
    const float s = (speedOf({p->vx, p->vy}) + speedOf({q->vx, q->vy})) * 0.5f;
#if defined(__SSE2__)
    // The three angles at once, then both directions at once: the same bits as one by one.
    alignas(16) float angle[4], sine[4], cosine[4];
    _mm_store_ps(
        angle, angleOf4(_mm_setr_ps(mx, p->vx, q->vx, 0.0f), _mm_setr_ps(my, p->vy, q->vy, 0.0f)));
    const float phi = angle[0];
    const float thetaP = 2.0f * phi - angle[1];
    const float thetaQ = 2.0f * phi - angle[2];
    __m128 sv, cv;
    trig::sinCos4(_mm_setr_ps(thetaP, thetaQ, 0.0f, 0.0f), &sv, &cv);
    _mm_store_ps(sine, sv);
    _mm_store_ps(cosine, cv);
    p->vx = s * sine[0];
    p->vy = s * cosine[0];
    q->vx = s * sine[1];
    q->vy = s * cosine[1];
#else
    const float phi = angleOf(mx, my);
    const float thetaP = 2.0f * phi - angleOf(p->vx, p->vy);
    const float thetaQ = 2.0f * phi - angleOf(q->vx, q->vy);
    const Vec2 dp = directionOf(thetaP), dq = directionOf(thetaQ);
    p->vx = s * dp.x;
    p->vy = s * dp.y;
    q->vx = s * dq.x;
    q->vy = s * dq.y;
#endif
}

bool spriteHitTest(Particle* p, float tx, float ty) {
    for (BodyNode* node = bodyList(); node != nullptr; node = node->next) {
        Body* body = node->body;
        if (body->group == nullptr) return false;
        const Vec2 d = shortestDiff({body->centroid.x - p->x, body->centroid.y - p->y});
        if (body->radius + 3.0f > length(d)) return particleHitsSprite(body->group, p, tx, ty);
    }
    return false;
}

int32_t fragmentHoldOff(const Body* a, const Body* b, float d) {
    const float q = d / (speedOf(a->velocity) + speedOf(b->velocity));
    // Two resting bodies (or a wild quotient) give the shortest hold-off.
    if (!std::isfinite(q)) return 2;
    const int32_t e = q < 1.0e9f ? int32_t(q) : 1000000000;
    if (e < 2) return 2;
    const float half = 0.5f * d;
    const int32_t h = half < 1.0e9f ? int32_t(half) : 1000000000;
    return e < h ? e : h;
}

bool probeContact(const Body* small, const Body* large) {
    const Vec2 delta = shortestDiff(
        {large->centroid.x - small->centroid.x, large->centroid.y - small->centroid.y});
    const int32_t sx = delta.x > 0.0f ? 1 : -1;
    const int32_t sy = delta.y > 0.0f ? 1 : -1;
    const Vec2 n = unit(delta);
    float rx = small->centroid.x + small->radius * n.x;
    float ry = small->centroid.y + small->radius * n.y;
    if (!inRange(rx, ry) && !wrapPoint(rx, ry)) return false;
    if (!inRange(rx, ry)) return false;
    const int32_t column = int32_t(rx) + sx;
    const int32_t row = int32_t(ry) + sy;
    if (column < 0 || row < 0 || column >= sim.worldWidth || row >= sim.wrapHeight) return false;
    const Particle* q = sim.grid[row * sim.worldWidth + column];
    return q != nullptr && q->body == large && q->holdOff != -1;
}

void resolveBodyContact(float d, BodyNode*& outer, BodyNode*& inner) {
    BodyNode* nodeA = outer;
    BodyNode* nodeB = inner;
    Body* a = nodeA->body;
    Body* b = nodeB->body;
    const int32_t nA = effectiveCount(a);
    const int32_t nB = effectiveCount(b);
    BodyNode* bigNode = nA > nB ? nodeA : nodeB;
    BodyNode* smallNode = nA > nB ? nodeB : nodeA;
    Body* big = bigNode->body;
    Body* small = smallNode->body;
    const int32_t bigN = nA > nB ? nA : nB;
    const int32_t smallN = nA > nB ? nB : nA;

    const int32_t e = fragmentHoldOff(a, b, d);

    const float r =
        speedOf({big->velocity.x - small->velocity.x, big->velocity.y - small->velocity.y}) * 0.1f;
    const float k = r > 1.0f ? r : 1.0f;
    const float impact = float(smallN) * k;
    const int32_t m = impact < 2.0e9f ? int32_t(impact) : 2000000000;

    if (m > kShatterImpact && float(m) / float(bigN) > 0.25f) {
        inner = nodeB->next;
        dissolveBody(nodeB, e);
        outer = nodeA->next;
        dissolveBody(nodeA, e);
        if (outer != nullptr && outer == inner) inner = inner->next;
        return;
    }

    if (bigN <= kMergeLimit) {
        if (small->head != nullptr) {
            if (big->tail != nullptr) big->tail->memberNext = small->head;
            else big->head = small->head;
            big->tail = small->tail;
        }
        const Vec2 n =
            unit({big->centroid.x - small->centroid.x, big->centroid.y - small->centroid.y});
        const Vec2 contact{small->centroid.x + small->radius * n.x,
                           small->centroid.y + small->radius * n.y};
        transferSpin(big, contact, small->velocity, small->mass);
        absorbCentroid(big, small);
        big->memberCount += small->memberCount;
        big->mass += small->mass;
        stepPast(smallNode, outer, inner);
        unlinkNode(smallNode);
        if (small->group != nullptr) detachSprite(small->group);
        if (outer != nullptr && outer == inner) inner = inner->next;
        return;
    }

    // The big body stays; the small one's particles may stick to it one by one.
    stepPast(smallNode, outer, inner);
    dissolveBody(smallNode, 0);
    if (outer != nullptr && outer == inner) inner = inner->next;
}

void collideBodies() {
    BodyNode* outer = bodyList();
    while (outer != nullptr) {
        BodyNode* inner = outer->next;
        while (inner != nullptr && outer != nullptr) {
            Body* a = outer->body;
            Body* b = inner->body;
            const float d = centroidDistance(a, b);
            if (!(a->radius + b->radius > d)) {
                inner = inner->next;
                continue;
            }
            const Body* small = a->radius < b->radius ? a : b;
            const Body* large = small == a ? b : a;
            bool contact = small->radius > d;
            if (!contact) {
                contact = large->group != nullptr
                              ? bodyTouchesSprite(large->group, const_cast<Body*>(small))
                              : probeContact(small, large);
            }
            if (contact) resolveBodyContact(d, outer, inner);
            else inner = inner->next;
        }
        if (outer != nullptr) outer = outer->next;
    }
}

}  // namespace gx
