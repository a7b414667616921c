// How far a result of our angle functions lies from the correctly rounded one: shared
// by their test and by the full sweep (tools/trig_sweep).
#pragma once

#include <bit>
#include <cmath>
#include <cstdint>

namespace gx::trig {

// Distance in representable floats (+0 and -0 are the same place). Where a NaN is
// wanted, a NaN is 0 away and anything else infinitely far.
inline int64_t ulpDistance(float got, float want) {
    if (std::isnan(want)) return std::isnan(got) ? 0 : INT64_MAX;
    auto key = [](float f) {
        const uint32_t u = std::bit_cast<uint32_t>(f);
        return (u >> 31) ? -int64_t(u & 0x7FFFFFFFu) : int64_t(u);
    };
    const int64_t d = key(got) - key(want);
    return d < 0 ? -d : d;
}

// The worst distance over many results, how many are not the correctly rounded one,
// and how many inputs gave different bits in the forms compared.
struct Tally {
    int64_t worst = 0, inexact = 0, differ = 0, count = 0;
    uint32_t worstInput = 0;

    void add(float got, float want, uint32_t input = 0) {
        ++count;
        const int64_t d = ulpDistance(got, want);
        if (d > worst) {
            worst = d;
            worstInput = input;
        }
        if (d != 0) ++inexact;
    }
    void merge(const Tally& o) {
        if (o.worst > worst) {
            worst = o.worst;
            worstInput = o.worstInput;
        }
        inexact += o.inexact;
        differ += o.differ;
        count += o.count;
    }
};

}  // namespace gx::trig
