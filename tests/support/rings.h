// The ring tables for tests and benchmarks: built in memory once per program (for sprites
// without a data file), laid out as the data file holds them, and waiting on the threads
// of their generator.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "bodies/ring_rules.h"
#include "bodies/ring_tables.h"

namespace gxtest {

inline void ensureRingTables() {
    using namespace gx;
    static const bool built = [] {
        ringTables.ringCentreX = kRingCentre;
        ringTables.ringCentreY = kRingCentre;
        ringTables.ringStart = new int32_t[kRingCount]();
        ringTables.ringPoints = new RingPoint[kRingPointCount]();
        ringTables.directionCodes = new uint8_t[kRingPointCount]();
        std::vector<uint8_t> visited(static_cast<size_t>(kRingPointCount));
        int count = 0;
        for (int r = 1; r < kRingCount; ++r) {
            ringTables.ringStart[r] = count;
            count = sweepRing(r, visited.data(), ringTables.ringPoints, count);
        }
        int k = 0;
        for (int i = 0; i < kRingPointCount; ++i) {
            if (i == ringTables.ringStart[std::min(k + 1, kRingCount - 1)]) ++k;
            const RingPoint& pt = ringTables.ringPoints[i];
            ringTables.directionCodes[pt.y * kRingSide + pt.x] = codeForPoint(pt.x, pt.y, k);
        }
        return true;
    }();
    (void)built;
}

// The tables laid out as the data file holds them.
inline std::string imageOf(const gx::RingTables& t) {
    std::string out;
    auto put = [&](const void* p, size_t n) {
        const char* c = static_cast<const char*>(p);
        out.insert(out.end(), c, c + n);
    };
    const int32_t header[4] = {1600, 1200, t.ringCentreX, t.ringCentreY};
    put(header, sizeof header);
    if (!t.ringStart || !t.ringPoints || !t.directionCodes) return out;
    put(t.ringStart, gx::kRingStartBytes);
    put(t.ringShades, gx::kRingShadesBytes);
    put(t.ringPoints, gx::kRingPointsBytes);
    put(t.directionCodes, gx::kDirectionCodesBytes);
    return out;
}

// Spins until the condition holds or the time passes (twenty seconds unless told: a window comes up
// slowly on a loaded machine); returns the condition.
template <typename F>
bool waitUntil(F condition, std::chrono::seconds within = std::chrono::seconds(20)) {
    const auto until = std::chrono::steady_clock::now() + within;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

}  // namespace gxtest
