#include "universe/picture_to_particles.h"

#include <cmath>
#include <new>
#include <vector>

#include "bodies/bodies.h"
#include "bodies/sprites.h"
#include "framework/failures.h"
#include "universe/membership.h"

namespace gx {

const Element elementTable[kElementCount] = {
    {"Au", "Gold", 196.96655f},      {"Hg", "Mercury", 200.59f},
    {"Tl", "Thallium", 204.3833f},   {"Pb", "Lead", 207.2f},
    {"Bi", "Bismuth", 208.98038f},   {"Po", "Polonium", 209.0f},
    {"At", "Astatine", 210.0f},      {"Rn", "Radon", 222.0f},
    {"Fr", "Francium", 223.0f},      {"Ra", "Radium", 226.0f},
    {"Ac", "Actinium", 227.0f},      {"Pa", "Protactinium", 231.03587f},
    {"Th", "Thorium", 232.0381f},    {"Np", "Neptunium", 237.0f},
    {"U", "Uranium", 238.02892f},    {"Am", "Americium", 243.0f},
    {"Pu", "Plutonium", 244.0f},     {"Cm", "Curium", 247.0f},
    {"Bk", "Berkelium", 247.0f},     {"Cf", "Californium", 251.0f},
    {"Es", "Einsteinium", 252.0f},   {"Fm", "Fermium", 257.0f},
    {"Md", "Mendelevium", 258.0f},   {"No", "Nobelium", 259.0f},
    {"Rf", "Rutherfordium", 261.0f}, {"Lr", "Lawrencium", 262.0f},
    {"Db", "Dubnium", 262.0f},       {"Sg", "Seaborgium", 266.0f},
    {"Bh", "Bohrium", 264.0f},       {"Mt", "Meitnerium", 268.0f},
    {"Rg", "Roentgenium", 272.0f},   {"Hs", "Hassium", 277.0f},
    {"Ds", "Darmstadtium", 281.0f},  {"Uut", "Ununtrium", 284.0f},
    {"Uub", "Ununbium", 285.0f},     {"Uup", "Ununpentium", 288.0f},
    {"Uuq", "Ununquadium", 289.0f},
};

namespace {

// The eight compass steps twice; a crack step draws its index from 2 to 12.
constexpr int8_t kCrackDx[16] = {1, 0, -1, -1, -1, 0, 1, 1, 1, 0, -1, -1, -1, 0, 1, 1};
constexpr int8_t kCrackDy[16] = {1, 1, 1, 0, -1, -1, -1, 0, 1, 1, 1, 0, -1, -1, -1, 0};

constexpr int kCrackCount = 75;
constexpr int kFillDepth = 500;

// State of one grouping run.
struct Grouping {
    std::vector<Particle*> work;
    size_t workLength = 0;
    bool stopped = false;  // a body could not be had: no more grouping
};

// A picture rectangle edge as an integer; a wild float must not become an index.
int32_t edgeOf(float v) {
    if (!(v > -1.0e9f && v < 1.0e9f)) return 0;
    return int32_t(v);
}

bool isLinked(const BodyNode* node) {
    return node->prev != nullptr || node->next != nullptr || bodyList() == node;
}

void cutCracks() {
    const int32_t L = edgeOf(sim.pictureLeft);
    const int32_t T = edgeOf(sim.pictureTop);
    const int32_t R = edgeOf(sim.pictureRight);
    const int32_t B = edgeOf(sim.pictureBottom);
    for (int crack = 0; crack < kCrackCount; ++crack) {
        int32_t px = nextRandom(R - L) + L - 1;
        int32_t py = nextRandom(B - T) + T - 1;
        const int32_t heading = nextRandom(8);
        for (;;) {
            const int32_t k = nextRandom(4) + heading;
            px += kCrackDx[k];
            py += kCrackDy[k];
            if (px < L || py < T || px > R || py > B) break;
            for (int32_t oy = -1; oy <= 1; ++oy) {
                for (int32_t ox = -1; ox <= 1; ++ox) {
                    if (ox == 0 && oy == 0) continue;
                    const int32_t cx = px + ox;
                    const int32_t cy = py + oy;
                    if (cx < L || cx > R || cy < T || cy > B) continue;
                    if (cx < 0 || cy < 0 || cx >= sim.worldWidth || cy >= sim.wrapHeight) continue;
                    sim.grid[cy * sim.worldWidth + cx] = nullptr;
                }
            }
        }
    }
}

void fill(Grouping& g, Particle* p, int depth) {
    for (int dy = -1; dy <= 1; ++dy) {
        for (int dx = -1; dx <= 1; ++dx) {
            if (dx == 0 && dy == 0) continue;
            if (g.stopped) return;
            const float nx = p->x + float(dx);
            const float ny = p->y + float(dy);
            if (!inRange(nx, ny)) continue;
            Particle* q = sim.grid[cellIndexOf(nx, ny)];
            if (q == nullptr || q->body != nullptr) continue;
            if (p->body != nullptr) {
                attachToBodyUnmeasured(p->body, q);
            } else {
                pairParticles(q, p);
            }
            if (q->body == nullptr) {
                // No body could be had (out of memory): the run is ending.
                g.stopped = true;
                return;
            }
            q->holdOff = 0;
            if (depth < kFillDepth) {
                fill(g, q, depth + 1);
            } else if (g.workLength < g.work.size()) {
                g.work[g.workLength++] = q;
            }
        }
    }
}

void groupIntoBodies() {
    // Every particle into the grid; a later one overwrites an earlier one.
    for (uint32_t i = 0; i < sim.particleCount; ++i) {
        Particle* p = &sim.particles[i];
        if (inRange(p->x, p->y)) {
            p->cell = cellIndexOf(p->x, p->y);
            sim.grid[p->cell] = p;
        } else {
            p->cell = -1;
        }
    }

    cutCracks();

    Grouping g;
    try {
        g.work.resize(sim.particleCount > 0 ? sim.particleCount : 1);
    } catch (const std::bad_alloc&) {
        reportOutOfMemory();
        return;
    }
    for (int32_t c = sim.cellCount - 1; c >= 0 && !g.stopped; --c) {
        Particle* p = sim.grid[c];
        if (p == nullptr || p->body != nullptr) continue;
        g.workLength = 0;
        fill(g, p, 0);
        for (size_t i = 0; i < g.workLength && !g.stopped; ++i) fill(g, g.work[i], 0);
    }
    g.work.clear();
    g.work.shrink_to_fit();

    // Measure the new bodies and send them outward with a random spin.
    for (BodyNode* node = bodyList(); node != nullptr;) {
        BodyNode* next = node->next;
        Body* body = node->body;
        if (body->memberCount > 0) {
            float sx = 0.0f, sy = 0.0f;
            for (Particle* m = body->head; m != nullptr; m = m->memberNext) {
                sx += m->x;
                sy += m->y;
            }
            const float inv = 1.0f / float(body->memberCount);
            body->centroid = {inv * sx, inv * sy};
        }
        recentreFull(body);
        if (body->group == nullptr && body->memberCount - body->looseCount > kSpriteThreshold) {
            attachSprite(node);
            if (!isLinked(node)) {
                node = next;
                continue;
            }
        }
        if (sim.burstFrames != 0) {
            const Vec2 out = unit({body->centroid.x - float(sim.halfWidth),
                                   body->centroid.y - float(sim.halfHeight)});
            body->velocity = {10.0f * out.x, 10.0f * out.y};
            body->spin = nextRandomReal(60.0f) - 30.0f;
            body->invRadius = safeInverseRadius(body->radius);
            body->angularVelocity = 0.0f;
        }
        node = next;
    }

    refillGrid();
}

}  // namespace

int32_t elementRowOf(uint32_t colour) {
    const uint32_t r = (colour >> 16) & 0xFFu;
    const uint32_t gr = (colour >> 8) & 0xFFu;
    const uint32_t b = colour & 0xFFu;
    const float brightness = (float(r + gr + b) / 3.0f) / 255.0f;
    int32_t row = int32_t(36.0f * brightness);
    if (row < 0) row = 0;
    if (row > kElementCount - 1) row = kElementCount - 1;
    return row;
}

void countBrightPixels(const CapturedImage& image) {
    uint32_t n = 0;
    if (image.pixels != nullptr && image.rowPixels > 0 && image.rows > 0) {
        const size_t total = size_t(image.rowPixels) * size_t(image.rows);
        for (size_t i = 0; i < total; ++i) n += isBrightPixel(image.pixels[i]) ? 1u : 0u;
    }
    createParticles(image, n);
}

void createParticles(const CapturedImage& image, uint32_t n) {
    if (!allocateParticles(n)) return;

    const int32_t bbW = image.backBufferWidth;
    const int32_t bbH = image.backBufferHeight;
    uint32_t colourSum = 0;
    const int32_t columns = image.rowPixels < bbW ? image.rowPixels : bbW;
    if (image.pixels != nullptr) {
        for (int32_t i = 0; i < image.rows; ++i) {
            const uint32_t* row = image.pixels + size_t(i) * size_t(image.rowPixels);
            for (int32_t j = 0; j < columns; ++j) {
                const uint32_t pixel = row[j];
                if (!isBrightPixel(pixel) || sim.particleCount >= n) continue;
                Particle* p = &sim.particles[sim.particleCount];
                const uint32_t c = (pixel & 0xFFFFFFu) | 0xFF000000u;
                colourSum += c;
                p->x = float(double(j) + double(image.left));
                p->y = float(double(i) + double(image.top));
                ParticleLinks& l = p->links();
                l.homeX = l.originX = j;
                l.homeY = l.originY = i;
                p->colour = l.pictureColour = c;
                p->vx = p->vy = p->ax = p->ay = 0.0f;
                p->body = nullptr;
                l.memberSelf = p;
                p->holdOff = 0;
                p->mass = massOfColour(c);
                ++sim.particleCount;
                const Vec2 out = unit({p->x - 0.5f * float(bbW), p->y - 0.5f * float(bbH)});
                p->vx = 10.0f * out.x;
                p->vy = 10.0f * out.y;
                sim.burstFrames = int32_t(20.0f * sim.inverseSpeed);
            }
        }
    }

    sim.looseList = nullptr;
    sim.spriteList = nullptr;
    sim.looseWalk.valid = false;
    for (uint32_t i = 0; i < sim.particleCount; ++i) {
        Particle* p = &sim.particles[i];
        p->links().listSelf = p;
        p->links().listId = kOnNoList;
        if (p->body != nullptr && p->body->group != nullptr) appendToSpriteList(p);
        else appendToLooseList(p);
    }

    sim.randomSeed = int32_t(colourSum);
    setGravityForPopulation();
    groupIntoBodies();
    allocateMatchSlots();
}

}  // namespace gx
