// The ring tables built in memory once per program, for tests and benchmarks that need
// sprites without a data file.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "bodies/ring_tables.h"
#include "ui/ring_generator.h"

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

}  // namespace gxtest
