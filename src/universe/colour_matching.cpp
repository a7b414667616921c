#include "universe/colour_matching.h"

#include <cstdlib>
#include <cstring>
#include <vector>

#include "framework/failures.h"
#include "universe/world.h"

namespace gx {

namespace {
constexpr size_t kColourBucketBytes = 16777216;
}

int32_t bucketSize(uint32_t n) { return 1 - int32_t(double(n) / -255.0); }

void matchColours() {
    uint32_t n = sim.particleCount;
    if (n == 0 || !sim.particles) return;
    if (!sim.colourBucket) {
        sim.colourBucket = static_cast<uint8_t*>(std::calloc(kColourBucketBytes, 1));
        if (!sim.colourBucket) {
            reportOutOfMemory();
            return;
        }
    }
    std::vector<Particle*> localSlots;
    Particle** slots = sim.matchSlots;
    if (!slots) {
        localSlots.assign(n, nullptr);
        slots = localSlots.data();
    }
    const int32_t B = bucketSize(n);
    std::memset(sim.colourBucket, 0, kColourBucketBytes);
    std::memset(slots, 0, sizeof(Particle*) * n);
    uint32_t f = 0;
    std::vector<uint8_t> changed(n);
    for (uint32_t i = 0; i < n; ++i)
        changed[i] = sim.particles[i].colour != sim.particles[i].links().pictureColour;

    // Slots at or beyond n count as empty.
    auto findSlot = [&](uint32_t key, uint32_t wanted) -> int64_t {
        int64_t first = int64_t(sim.colourBucket[key & 0xFFFFFF]) * B;
        for (int64_t k = first; k < first + B && k < int64_t(n); ++k)
            if (slots[k] && slots[k]->links().pictureColour == wanted) return k;
        return -1;
    };

    // Chains by picture colour.
    for (uint32_t i = 0; i < n; ++i) {
        Particle* p = &sim.particles[i];
        const uint32_t wanted = p->links().pictureColour;
        if (p->colour == wanted) continue;
        int64_t k = findSlot(wanted, wanted);
        if (k >= 0) {
            p->memberNext = slots[k];
            slots[k] = p;
        } else {
            p->memberNext = nullptr;
            sim.colourBucket[wanted & 0xFFFFFF] = uint8_t(f / uint32_t(B));
            if (f < n) slots[f] = p;
            f += 1;
        }
    }
    // The chain of each particle's present colour.
    for (uint32_t i = 0; i < n; ++i) {
        Particle* p = &sim.particles[i];
        if (p->colour == p->links().pictureColour) continue;
        int64_t k = findSlot(p->colour, p->colour);
        p->links().matchSlot = k >= 0 ? int32_t(k) : -1;
    }
    // Take homes; those left without one take the homes nobody took, in array order.
    std::vector<uint8_t> taken(n, 0);
    std::vector<Particle*> unmatched;
    for (uint32_t i = 0; i < n; ++i) {
        Particle* p = &sim.particles[i];
        ParticleLinks& l = p->links();
        if (p->colour == l.pictureColour) continue;
        Particle* q = l.matchSlot >= 0 ? slots[l.matchSlot] : nullptr;
        if (!q) {
            unmatched.push_back(p);
            continue;
        }
        l.homeX = q->links().originX;
        l.homeY = q->links().originY;
        taken[size_t(q - sim.particles)] = 1;
        l.pictureColour = p->colour;
        slots[l.matchSlot] = q->memberNext;
    }
    size_t next = 0;
    for (Particle* p : unmatched) {
        // Homes in play are those of the particles that changed colour.
        while (next < n && (taken[next] || !changed[next])) ++next;
        ParticleLinks& l = p->links();
        if (next < n) {
            l.homeX = sim.particles[next].links().originX;
            l.homeY = sim.particles[next].links().originY;
            taken[next] = 1;
            ++next;
        }
        l.pictureColour = p->colour;
    }
    for (uint32_t i = 0; i < n; ++i) sim.particles[i].memberNext = nullptr;
}

void releaseColourBuckets() {
    std::free(sim.colourBucket);
    sim.colourBucket = nullptr;
}

}  // namespace gx
