// Free particles becoming body members, and the spin a body takes up from them.
#include "universe/membership.h"

#include <cmath>

#include "bodies/sprites.h"

namespace gx {

namespace {

// Appends p at the body's tail and takes up its spin and mass.
void linkAtTail(Body* body, Particle* p) {
    p->body = body;
    p->links().memberSelf = p;
    p->memberNext = nullptr;
    if (body->tail) {
        body->tail->memberNext = p;
    } else {
        body->head = p;
    }
    body->tail = p;
    body->memberCount += 1;
    transferSpin(body, {p->x, p->y}, {p->vx, p->vy}, p->mass);
    body->mass += p->mass;
}

}  // namespace

void attachToBody(Body* body, Particle* p) {
    linkAtTail(body, p);
    if (!body->group) updateAfterAdd(body);
    p->holdOff = 0;
}

void attachToBodyUnmeasured(Body* body, Particle* p) {
    linkAtTail(body, p);
    classifyNewMember(p);
}

void pairParticles(Particle* q, Particle* p) {
    if (p->body) {
        attachToBody(p->body, q);
        return;
    }
    const float mx = (p->x + q->x) * 0.5f;
    const float my = (p->y + q->y) * 0.5f;
    for (BodyNode* node = bodyList(); node; node = node->next) {
        Body* body = node->body;
        const float dx = body->centroid.x - mx;
        const float dy = body->centroid.y - my;
        if (!(body->radius > std::sqrt(dx * dx + dy * dy))) continue;
        if (body->group) {
            BodySprite* sprite = body->group;
            stampParticle(sprite, q);
            stampParticle(sprite, p);
        } else {
            attachToBody(body, q);
            attachToBody(body, p);
        }
        return;
    }
    Body* body = newBody();
    if (!body) return;
    q->body = body;
    p->body = body;
    q->links().memberSelf = q;
    p->links().memberSelf = p;
    body->head = q;
    q->memberNext = p;
    body->tail = p;
    p->memberNext = nullptr;
    body->memberCount = 2;
    const float total = q->mass + p->mass;
    if (total != 0.0f && std::isfinite(total)) {
        const float inv = 1.0f / total;
        body->velocity.x = (q->mass * q->vx + p->mass * p->vx) * inv;
        body->velocity.y = (q->mass * q->vy + p->mass * p->vy) * inv;
    } else {
        body->velocity.x = (q->vx + p->vx) * 0.5f;
        body->velocity.y = (q->vy + p->vy) * 0.5f;
    }
    body->spin = 0.0f;
    body->invRadius = 0.0f;
    body->angularVelocity = 0.0f;
    body->mass = total;
    body->radius = 0.0f;
    updateAfterAdd(body);
    q->holdOff = 0;
    p->holdOff = 0;
}

Vec2 transferSpin(Body* body, Vec2 k, Vec2 v, float m) {
    const Vec2 n = unit({body->centroid.x - k.x, body->centroid.y - k.y});
    const Vec2 u = unit(v);
    const float along = std::fabs(u.x * n.x + u.y * n.y);
    const float rx = (k.x + v.x) - body->centroid.x;
    const float ry = (k.y + v.y) - body->centroid.y;
    const float theta = correctAngle(angleOf(rx, ry) - angleOf(-n.x, -n.y));
    // A massless body would turn the ratio into inf: it takes up no spin.
    if (body->mass != 0.0f) {
        const float gain = (m / body->mass) * theta;
        if (std::isfinite(gain)) body->spin += gain;
    }
    body->invRadius = safeInverseRadius(body->radius);
    body->angularVelocity = body->invRadius * body->spin;
    return {along * v.x, along * v.y};
}

}  // namespace gx
