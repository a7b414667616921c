// Measuring, moving, shrinking and dissolving bodies on the torus.
#include "bodies/bodies.h"

#include <cmath>
#include <vector>

#include "bodies/member_trail.h"
#include "bodies/sprites.h"
#include "universe/membership.h"

namespace gx {

namespace {

void defaultAttach(BodyNode* node) { attachSprite(node); }

void handOverToSprite(BodyNode* node) {
    SpriteAttachFn fn = sim.bodyState.attachHook ? sim.bodyState.attachHook : defaultAttach;
    fn(node);
}

void measureAgainst(Particle* link, const Body* body) {
    const float dx = shortestDx(link->x - body->centroid.x);
    const float dy = shortestDy(link->y - body->centroid.y);
    link->polarRadius = std::sqrt(dx * dx + dy * dy);
    link->polarAngle = angleOf(dx, dy);
}

// A centroid that left the world comes back; a non-finite one stops the body.
void wrapCentroid(Body* body) {
    if (inRange(body->centroid.x, body->centroid.y)) return;
    if (!wrapPoint(body->centroid.x, body->centroid.y)) body->velocity = {0.0f, 0.0f};
}

// Steps 1 to 3 of taking a member out; the caller decides whether the body lives on.
void takeOutMember(Particle* link, Body* body, Particle* previous) {
    if (link->body != body) link->body = body;
    body->memberCount -= 1;
    if (body->tail == link) body->tail = previous;
    if (previous) {
        previous->memberNext = link->memberNext;
    } else {
        body->head = link->memberNext;
    }
    if (body->tail == nullptr) body->tail = body->head;
    link->memberNext = nullptr;
    link->body = nullptr;
    refileInGrid(link);
    link->holdOff = 0;
}

// Places a bound member on its circle around the (new) centroid; d is the direction of
// its polar angle.
void placeBound(Particle* link, Body* body, Vec2 d, float& largest, int32_t radiusInt) {
    link->x = body->centroid.x + d.x * link->polarRadius;
    link->y = body->centroid.y + d.y * link->polarRadius;
    if (link->polarRadius > largest) largest = link->polarRadius;
    if (truncToInt(link->polarRadius) >= radiusInt) body->looseCount += 1;
    refileInGrid(link);
}

// Moves a member one step toward the centroid: diagonal, else along x, else along y,
// into the first in-range empty cell.
void pullMember(Particle* link, const Body* body) {
    if (link->holdOff == -1) return;
    const Vec2 u = unit({body->centroid.x - link->x, body->centroid.y - link->y});
    const float cx[3] = {link->x + u.x, link->x + u.x, link->x};
    const float cy[3] = {link->y + u.y, link->y, link->y + u.y};
    for (int i = 0; i < 3; ++i) {
        if (!inRange(cx[i], cy[i])) continue;
        const int32_t idx = cellIndexOf(cx[i], cy[i]);
        if (sim.grid[idx] != nullptr) continue;
        link->x = cx[i];
        link->y = cy[i];
        if (idx != link->cell && link->cell >= 0 && link->cell < sim.cellCount &&
            sim.grid[link->cell] == link) {
            sim.grid[link->cell] = nullptr;
        }
        link->cell = idx;
        sim.grid[idx] = link;
        return;
    }
}

// The polar places the body walk gives its members: distance and turned angle from the
// old centroid, and the direction of that angle. A member's position changes only at its
// own turn of the walk, so the places of the next four are worked out together (angles
// and directions four-wide, the same bits as one by one).
class PolarPlaces {
public:
    PolarPlaces(float ox, float oy, float turn) : ox_(ox), oy_(oy), turn_(turn) {}

    void of(Particle* link, float* radius, float* angle, Vec2* direction) {
#if defined(__SSE2__)
        if (next_ == count_ || links_[next_] != link) fill(link);
        *radius = radius_[next_];
        *angle = angle_[next_];
        *direction = {sin_[next_], cos_[next_]};
        ++next_;
#else
        const float dx = shortestDx(link->x - ox_);
        const float dy = shortestDy(link->y - oy_);
        *radius = std::sqrt(dx * dx + dy * dy);
        *angle = correctAngle(angleOf(dx, dy) + turn_);
        *direction = directionOf(*angle);
#endif
    }

private:
#if defined(__SSE2__)
    void fill(Particle* link) {
        alignas(16) float dx[4] = {}, dy[4] = {}, a[4];
        count_ = next_ = 0;
        for (Particle* m = link; m != nullptr && count_ < 4; m = m->memberNext, ++count_) {
            links_[count_] = m;
            dx[count_] = shortestDx(m->x - ox_);
            dy[count_] = shortestDy(m->y - oy_);
            radius_[count_] = std::sqrt(dx[count_] * dx[count_] + dy[count_] * dy[count_]);
        }
        _mm_store_ps(a, angleOf4(_mm_load_ps(dx), _mm_load_ps(dy)));
        for (int k = 0; k < 4; ++k) angle_[k] = correctAngle(a[k] + turn_);
        __m128 s, c;
        trig::sinCos4(_mm_load_ps(angle_), &s, &c);
        _mm_store_ps(sin_, s);
        _mm_store_ps(cos_, c);
    }

    int count_ = 0, next_ = 0;
    Particle* links_[4] = {};
    alignas(16) float radius_[4] = {}, angle_[4] = {}, sin_[4] = {}, cos_[4] = {};
#endif
    float ox_, oy_, turn_;
};

}  // namespace

void setSpriteAttachHook(SpriteAttachFn fn) { sim.bodyState.attachHook = fn; }

void measureMember(Particle* link) {
    if (link->body) measureAgainst(link, link->body);
}

void classifyNewMember(Particle* link) {
    const Body* body = link->body;
    if (!body) return;
    const float dx = link->x - body->centroid.x;
    const float dy = link->y - body->centroid.y;
    const float d = std::sqrt(dx * dx + dy * dy);
    link->holdOff = (d < body->radius && dx * link->vx + dy * link->vy > 0.0f) ? 0 : -1;
}

void recentreFull(Body* body) {
    if (body->memberCount <= 0 || !body->head) return;
    float sx = 0.0f;
    float sy = 0.0f;
    for (Particle* m = body->head; m; m = m->memberNext) {
        m->x = stepWrapX(m->x, body->centroid.x);
        m->y = stepWrapY(m->y, body->centroid.y);
        sx += m->x;
        sy += m->y;
    }
    const float inv = 1.0f / float(body->memberCount);
    body->centroid = {sx * inv, sy * inv};
    float largest = 2.0f;
    const int32_t radiusInt = truncToInt(body->radius);
    for (Particle* m = body->head; m; m = m->memberNext) {
        measureAgainst(m, body);
        if (m->holdOff == -1) {
            body->looseCount += 1;
        } else {
            if (m->polarRadius > largest) largest = m->polarRadius;
            if (truncToInt(m->polarRadius) >= radiusInt) body->looseCount += 1;
        }
    }
    body->dirty = 0;
    if (body->radiusHold == 0) body->radius = largest;
}

void updateAfterAdd(Body* body) {
    if (!body->head || body->memberCount <= 0) return;
    if (body->radius != 0.0f) {
        Particle* t = body->tail;
        t->x = stepWrapX(t->x, body->centroid.x);
        t->y = stepWrapY(t->y, body->centroid.y);
        const int32_t n = body->memberCount;
        const float inv = 1.0f / float(n);
        body->centroid.x = (t->x + body->centroid.x * float(n - 1)) * inv;
        body->centroid.y = (t->y + body->centroid.y * float(n - 1)) * inv;
        measureAgainst(t, body);
        return;
    }
    const float fx = body->head->x;
    const float fy = body->head->y;
    float sx = 0.0f;
    float sy = 0.0f;
    for (Particle* m = body->head; m; m = m->memberNext) {
        m->x = stepWrapX(m->x, fx);
        m->y = stepWrapY(m->y, fy);
        sx += m->x;
        sy += m->y;
    }
    const float inv = 1.0f / float(body->memberCount);
    body->centroid = {sx * inv, sy * inv};
    body->radius = 2.0f;
    for (Particle* m = body->head; m; m = m->memberNext) measureAgainst(m, body);
    body->dirty = 0;
    body->radiusHold = 0;
    body->group = nullptr;
}

void absorbCentroid(Body* a, Body* b) {
    const float bx = stepWrapX(b->centroid.x, a->centroid.x);
    const float by = stepWrapY(b->centroid.y, a->centroid.y);
    a->dirty = 1;
    const int32_t total = a->memberCount + b->memberCount;
    if (total <= 0) return;
    const float na = float(a->memberCount);
    const float nb = float(b->memberCount);
    const float inv = 1.0f / float(total);
    a->centroid.x = (a->centroid.x * na + bx * nb) * inv;
    a->centroid.y = (a->centroid.y * na + by * nb) * inv;
}

void recentreDirtyBodies() {
    for (BodyNode* node = bodyList(); node; node = node->next) {
        Body* body = node->body;
        if (!body->dirty) continue;
        float sx = 0.0f;
        float sy = 0.0f;
        for (Particle* m = body->head; m; m = m->memberNext) {
            m->x = stepWrapX(m->x, body->centroid.x);
            m->y = stepWrapY(m->y, body->centroid.y);
            sx += m->x;
            sy += m->y;
            if (m->body != body) m->body = body;  // spliced in by a merge
        }
        body->dirty = 0;
        if (body->memberCount > 0) {
            const float inv = 1.0f / float(body->memberCount);
            body->centroid = {sx * inv, sy * inv};
        }
    }
}

void pullMembers() {
    if (!sim.grid) return;
    beginTrailPass();
    for (BodyNode* node = bodyList(); node; node = node->next) {
        Body* body = node->body;
        if (body->group) continue;
        MemberWalk walk(body);
        if (body->dirty) {
            for (Particle* m = body->head; m; m = m->memberNext) {
                walk.step(m);
                measureAgainst(m, body);
                pullMember(m, body);
            }
            body->dirty = 0;
        } else {
            for (Particle* m = body->head; m; m = m->memberNext) {
                walk.step(m);
                pullMember(m, body);
            }
        }
    }
}

void advanceBodies() {
    beginTrailPass();
    BodyNode* node = bodyList();
    while (node) {
        BodyNode* nextNode = node->next;
        Body* body = node->body;
        const float ox = body->centroid.x;
        const float oy = body->centroid.y;
        body->centroid.x += sim.speedFactor * body->velocity.x;
        body->centroid.y += sim.speedFactor * body->velocity.y;
        wrapCentroid(body);
        body->invRadius = safeInverseRadius(body->radius);
        if (!std::isfinite(body->spin)) body->spin = 0.0f;  // would turn every member into NaN
        body->angularVelocity = body->invRadius * body->spin;
        float largest = 2.0f;
        bool alive = true;
        if (!body->group) {
            body->looseCount = 0;
            const int32_t radiusInt = truncToInt(body->radius);
            const float turn = sim.speedFactor * body->angularVelocity;
            Particle* previous = nullptr;
            Particle* link = body->head;
            MemberWalk walk(body);
            PolarPlaces places(ox, oy, turn);
            while (link) {
                walk.step(link);
                Particle* nextLink = link->memberNext;
                Vec2 direction;
                places.of(link, &link->polarRadius, &link->polarAngle, &direction);
                if (link->holdOff == -1) {
                    if (link->polarRadius > body->radius) {
                        if (!removeMember(link, node, previous)) {
                            alive = false;
                            break;
                        }
                        link = nextLink;
                        continue;
                    }
                    float nx = link->x + sim.speedFactor * link->vx;
                    float ny = link->y + sim.speedFactor * link->vy;
                    wrapPoint(nx, ny);
                    Particle* there = inRange(nx, ny) ? sim.grid[cellIndexOf(nx, ny)] : nullptr;
                    if (there && there != link && there->holdOff != -1 &&
                        there->body == link->body) {
                        link->holdOff = 0;
                        placeBound(link, body, direction, largest, radiusInt);
                    } else {
                        link->vx += link->ax;
                        link->vy += link->ay;
                        link->x += sim.speedFactor * link->vx;
                        link->y += sim.speedFactor * link->vy;
                        wrapParticle(link);
                        body->looseCount += 1;
                        refileInGrid(link);
                    }
                } else {
                    placeBound(link, body, direction, largest, radiusInt);
                }
                previous = link;
                link = nextLink;
            }
        }
        if (alive) {
            if (body->radiusHold > 0) body->radiusHold -= 1;
            if (!body->group && body->memberCount - body->looseCount > kSpriteThreshold) {
                handOverToSprite(node);
                // The hand-over prunes members and may leave a single one: the body is gone.
                alive = nodeLinked(node);
            }
        }
        if (alive) {
            if (!body->group) {
                if (body->radiusHold == 0) body->radius = largest;
                body->sortKey = body->memberCount;
            } else {
                body->sortKey = body->group->extraCount + body->memberCount;
            }
        }
        node = nextNode;
    }
    if (bodyList()) sortBodies();
}

bool removeMember(Particle* link, BodyNode* node, Particle* previous) {
    Body* body = node->body;
    takeOutMember(link, body, previous);
    if (body->memberCount > 1) return true;
    if (body->group) detachSprite(body->group);
    body->group = nullptr;
    // The sprite may have handed members back; none stays behind in a dead body.
    while (body->head) takeOutMember(body->head, body, nullptr);
    body->memberCount = 0;
    body->tail = nullptr;
    unlinkNode(node);
    return false;
}

BodyNode* dissolveBody(BodyNode* node, int32_t newHoldOff) {
    Body* body = node->body;
    body->invRadius = safeInverseRadius(body->radius);
    body->angularVelocity = body->invRadius * body->spin;
    if (body->group) detachSprite(body->group);
    body->group = nullptr;
    while (Particle* link = body->head) {
        measureAgainst(link, body);
        link->body = nullptr;
        link->vx = body->velocity.x;
        link->vy = body->velocity.y;
        const float a = correctAngle(link->polarAngle + body->angularVelocity);
        const Vec2 d = directionOf(a);
        const float tx = body->centroid.x + d.x * link->polarRadius;
        const float ty = body->centroid.y + d.y * link->polarRadius;
        link->vx += shortestDx(tx - link->x);
        link->vy += shortestDy(ty - link->y);
        body->head = link->memberNext;
        link->memberNext = nullptr;
        refileInGrid(link);
        link->holdOff = newHoldOff;
    }
    body->tail = nullptr;
    body->memberCount = 0;
    return unlinkNode(node);
}

void clumpScan(int32_t tileSize, int32_t needed) {
    const double rawPeriod = ((1.0 - double(sim.speedFactor)) + double(0.1f)) * 10.0;
    int32_t period = rawPeriod >= 1.0 && rawPeriod < 1.0e9 ? int32_t(rawPeriod) : 1;
    const uint32_t frame = sim.bodyState.clumpCounter++;
    if (frame % uint32_t(period) != 0) return;
    if (!sim.grid || tileSize <= 0) return;
    const int32_t w = sim.worldWidth;
    const int32_t h = sim.wrapHeight;
    // Free particles per tile by the cell each one last claimed. A grid entry always
    // names a particle whose cell is that entry (tests hold the grid to this), so these
    // counts bound what the walk below can find in a tile; the walk only takes particles
    // out of the grid, so they stay bounds. Most tiles are skipped without touching a
    // grid far larger than the cache, which the walk reads down its columns.
    const int32_t tilesX = (w + tileSize - 1) / tileSize;
    const int32_t tilesY = (h + tileSize - 1) / tileSize;
    std::vector<int32_t>& freeInTile = sim.freeInTile;
    freeInTile.assign(size_t(tilesX) * size_t(tilesY), 0);
    for (uint32_t i = 0; i < sim.particleCount; ++i) {
        const Particle& p = sim.particles[i];
        if (p.body != nullptr || p.cell < 0 || p.cell >= w * h) continue;
        const int32_t y = p.cell / w;
        const int32_t x = p.cell - y * w;
        freeInTile[size_t(y / tileSize) * size_t(tilesX) + size_t(x / tileSize)] += 1;
    }
    for (int32_t x0 = 0, tx = 0; x0 < w; x0 += tileSize, ++tx) {
        const int32_t x1 = x0 + tileSize < w ? x0 + tileSize : w;
        for (int32_t y0 = 0, ty = 0; y0 < h; y0 += tileSize, ++ty) {
            const int32_t y1 = y0 + tileSize < h ? y0 + tileSize : h;
            if (freeInTile[size_t(ty) * size_t(tilesX) + size_t(tx)] < needed) continue;
            int32_t count = 0;
            for (int32_t x = x0; x < x1 && count < needed; ++x) {
                for (int32_t y = y0; y < y1; ++y) {
                    const Particle* p = sim.grid[y * w + x];
                    if (p && !p->body && ++count >= needed) break;
                }
            }
            if (count < needed) continue;
            Particle* seed = nullptr;
            for (int32_t x = x0; x < x1; ++x) {
                for (int32_t y = y0; y < y1; ++y) {
                    Particle* q = sim.grid[y * w + x];
                    if (!q || q->body) continue;
                    if (!seed) {
                        seed = q;
                    } else if (seed->body && seed->body->group) {
                        stampParticle(seed->body->group, q);
                    } else if (seed->body) {
                        attachToBody(seed->body, q);
                    } else {
                        pairParticles(q, seed);
                        if (!seed->body && !q->body) return;  // no body could be had
                    }
                }
            }
        }
    }
}

}  // namespace gx
