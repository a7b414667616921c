// Our own atan2 and sin/cos against double-precision results: a fixed sample of 10^7
// inputs each, and every edge; the scalar, four-wide and plain forms give the same bits. The
// sweep over all 2^32 floats is tools/trig_sweep, run by hand.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "universe/trig.h"
#include "universe/trig_check.h"

namespace {

using gx::trig::atan2;
using gx::trig::sinCos;

using gx::trig::Tally;

uint32_t bitsOf(float f) { return std::bit_cast<uint32_t>(f); }
float fromBits(uint32_t b) { return std::bit_cast<float>(b); }

// The correctly rounded result, from the C library's double precision.
float sinRef(float x) { return float(std::sin(double(x))); }
float cosRef(float x) { return float(std::cos(double(x))); }
float atan2Ref(float y, float x) { return float(std::atan2(double(y), double(x))); }

// splitmix64: a fixed sample on every machine.
struct Random {
    uint64_t state;
    uint64_t next() {
        uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    double unit() { return double(next() >> 11) * 0x1p-53; }
    float anyFinite() {
        for (;;) {
            const float f = fromBits(uint32_t(next()));
            if (std::isfinite(f)) return f;
        }
    }
    // A float of random sign, significand and exponent in [lo, hi].
    float spread(int lo, int hi) {
        const int e = lo + int(next() % uint64_t(hi - lo + 1));
        const float f = std::ldexp(float(1.0 + unit()), e);
        return (next() & 1) ? -f : f;
    }
};

constexpr int kSample = 10000000;

std::vector<float> angleSample() {
    Random r{24};
    std::vector<float> v;
    v.reserve(kSample);
    for (int i = 0; i < kSample; ++i) {
        switch (i % 3) {
        case 0: v.push_back(r.anyFinite()); break;                               // the whole range
        case 1: v.push_back(float((r.unit() * 2.0 - 1.0) * 4.0 * M_PI)); break;  // the simulation's
        default: v.push_back(r.spread(-40, 20)); break;  // the reduced range
        }
    }
    return v;
}

std::vector<float> angleEdges() {
    std::vector<float> v = {0.0f,
                            -0.0f,
                            INFINITY,
                            -INFINITY,
                            NAN,
                            -NAN,
                            fromBits(0x7F800001u),
                            fromBits(1),
                            fromBits(0x80000001u),
                            fromBits(0x007FFFFFu),
                            fromBits(0x807FFFFFu),
                            fromBits(0x00400000u),
                            FLT_MIN,
                            -FLT_MIN,
                            FLT_MAX,
                            -FLT_MAX,
                            0x1p20f,
                            -0x1p20f,
                            std::nextafter(0x1p20f, 0.0f),
                            std::nextafter(0x1p20f, INFINITY),
                            0x1p24f,
                            0x1p63f,
                            0x1p100f,
                            1e-30f,
                            1e-10f,
                            3.1415927f,
                            1.5707964f};
    // Multiples of pi/4 (pi/2 among them) near and far, and the floats beside them.
    auto near = [&](double t) {
        const float f = float(t);
        v.push_back(f);
        float up = f, down = f;
        for (int k = 0; k < 2; ++k) {
            up = std::nextafter(up, INFINITY);
            down = std::nextafter(down, -INFINITY);
            v.push_back(up);
            v.push_back(down);
        }
    };
    for (int k = -4096; k <= 4096; ++k) near(k * (M_PI / 4.0));
    for (double k = 4096; k < 0x1p40; k *= 1.37) {
        near(k * (M_PI / 4.0));
        near(-k * (M_PI / 2.0));
    }
    return v;
}

void checkSinCos(const std::vector<float>& input, int64_t* worst) {
    Tally ts, tc;
    int64_t mismatches = 0;
    for (size_t i = 0; i < input.size(); i += 4) {
        alignas(16) float a[4], s4[4], c4[4];
        for (size_t k = 0; k < 4; ++k) a[k] = input[i + k < input.size() ? i + k : 0];
        __m128 s, c;
        gx::trig::sinCos4(_mm_load_ps(a), &s, &c);
        _mm_store_ps(s4, s);
        _mm_store_ps(c4, c);
        for (size_t k = 0; k < 4; ++k) {
            const gx::trig::SinCos sc = sinCos(a[k]);
            const gx::trig::SinCos plain = gx::trig::plain::sinCos(a[k]);
            if (bitsOf(sc.sin) != bitsOf(s4[k]) || bitsOf(sc.cos) != bitsOf(c4[k]) ||
                bitsOf(sc.sin) != bitsOf(plain.sin) || bitsOf(sc.cos) != bitsOf(plain.cos)) {
                if (++mismatches < 5) ADD_FAILURE() << "the forms differ at " << a[k];
            }
            ts.add(sc.sin, sinRef(a[k]));
            tc.add(sc.cos, cosRef(a[k]));
        }
    }
    EXPECT_EQ(mismatches, 0);
    EXPECT_LE(ts.worst, 1) << "sin";
    EXPECT_LE(tc.worst, 1) << "cos";
    std::printf("sin: %lld of %lld not correctly rounded; cos: %lld\n", (long long)ts.inexact,
                (long long)ts.count, (long long)tc.inexact);
    *worst = std::max(ts.worst, tc.worst);
}

TEST(Trig, SinCosWithinAnUlpOverTheSample) {
    int64_t worst = 0;
    checkSinCos(angleSample(), &worst);
    EXPECT_LE(worst, 1);
}

TEST(Trig, SinCosEdges) {
    int64_t worst = 0;
    checkSinCos(angleEdges(), &worst);
    EXPECT_LE(worst, 1);
    // What the simulation's rules lean on, exactly.
    EXPECT_EQ(bitsOf(sinCos(0.0f).sin), bitsOf(0.0f));
    EXPECT_EQ(bitsOf(sinCos(-0.0f).sin), bitsOf(-0.0f));
    EXPECT_EQ(sinCos(0.0f).cos, 1.0f);
    EXPECT_EQ(sinCos(-0.0f).cos, 1.0f);
    EXPECT_EQ(sinCos(1.5707964f).sin, 1.0f);
    EXPECT_EQ(sinCos(3.1415927f).cos, -1.0f);
    EXPECT_EQ(sinCos(fromBits(1)).sin, fromBits(1));
    for (float special : {INFINITY, -INFINITY, NAN}) {
        EXPECT_EQ(bitsOf(sinCos(special).sin), 0x7FC00000u);
        EXPECT_EQ(bitsOf(sinCos(special).cos), 0x7FC00000u);
    }
}

void checkAtan2(const std::vector<float>& ys, const std::vector<float>& xs, int64_t* worst) {
    Tally t;
    int64_t mismatches = 0;
    for (size_t i = 0; i < ys.size(); i += 4) {
        alignas(16) float y[4], x[4], r4[4];
        for (size_t k = 0; k < 4; ++k) {
            y[k] = ys[i + k < ys.size() ? i + k : 0];
            x[k] = xs[i + k < xs.size() ? i + k : 0];
        }
        _mm_store_ps(r4, gx::trig::atan2x4(_mm_load_ps(y), _mm_load_ps(x)));
        for (size_t k = 0; k < 4; ++k) {
            const float r = atan2(y[k], x[k]);
            if (bitsOf(r) != bitsOf(r4[k]) ||
                bitsOf(r) != bitsOf(gx::trig::plain::atan2(y[k], x[k]))) {
                if (++mismatches < 5)
                    ADD_FAILURE() << "the forms differ at " << y[k] << ", " << x[k];
            }
            t.add(r, atan2Ref(y[k], x[k]));
        }
    }
    EXPECT_EQ(mismatches, 0);
    std::printf("atan2: %lld of %lld not correctly rounded\n", (long long)t.inexact,
                (long long)t.count);
    *worst = t.worst;
}

TEST(Trig, Atan2WithinAnUlpOverTheSample) {
    Random r{13};
    std::vector<float> ys, xs;
    ys.reserve(kSample);
    xs.reserve(kSample);
    for (int i = 0; i < kSample; ++i) {
        switch (i % 3) {
        case 0:  // the whole range, ratios of every size
            ys.push_back(r.anyFinite());
            xs.push_back(r.anyFinite());
            break;
        case 1: {  // every direction, the simulation's lengths
            const double a = (r.unit() * 2.0 - 1.0) * M_PI;
            const double len = std::ldexp(1.0 + r.unit(), int(r.next() % 41) - 20);
            ys.push_back(float(len * std::sin(a)));
            xs.push_back(float(len * std::cos(a)));
            break;
        }
        default: {  // near ratios, near the reduction's boundary
            const int e = int(r.next() % 61) - 30;
            ys.push_back(r.spread(e, e));
            xs.push_back(r.spread(e - 2, e + 1));
            break;
        }
        }
    }
    int64_t worst = 0;
    checkAtan2(ys, xs, &worst);
    EXPECT_LE(worst, 1);
}

TEST(Trig, Atan2Edges) {
    const float pi = 3.1415927f, halfPi = 1.5707964f, quarterPi = 0.7853982f,
                threeQuarterPi = 2.3561945f;
    struct Case {
        float y, x, want;
    };
    const float inf = INFINITY;
    const Case table[] = {
        {0.0f, 0.0f, 0.0f},
        {-0.0f, 0.0f, -0.0f},
        {0.0f, -0.0f, pi},
        {-0.0f, -0.0f, -pi},
        {0.0f, -5.0f, pi},
        {-0.0f, -5.0f, -pi},
        {0.0f, 5.0f, 0.0f},
        {-0.0f, 5.0f, -0.0f},
        {5.0f, 0.0f, halfPi},
        {5.0f, -0.0f, halfPi},
        {-5.0f, 0.0f, -halfPi},
        {-5.0f, -0.0f, -halfPi},
        {inf, inf, quarterPi},
        {-inf, inf, -quarterPi},
        {inf, -inf, threeQuarterPi},
        {-inf, -inf, -threeQuarterPi},
        {inf, 3.0f, halfPi},
        {-inf, -3.0f, -halfPi},
        {3.0f, inf, 0.0f},
        {-3.0f, inf, -0.0f},
        {3.0f, -inf, pi},
        {-3.0f, -inf, -pi},
        {1.0f, 1.0f, quarterPi},
        {-1.0f, -1.0f, -threeQuarterPi},
        {fromBits(1), 1.0f, fromBits(1)},
        {1.0f, 0.0f, halfPi},
        {0.0f, 1.0f, 0.0f},
    };
    for (const Case& c : table) {
        EXPECT_EQ(bitsOf(atan2(c.y, c.x)), bitsOf(c.want)) << c.y << ", " << c.x;
        EXPECT_EQ(bitsOf(atan2(c.y, c.x)), bitsOf(atan2Ref(c.y, c.x))) << c.y << ", " << c.x;
    }
    for (float n : {NAN, -NAN}) {
        EXPECT_EQ(bitsOf(atan2(n, 1.0f)), 0x7FC00000u);
        EXPECT_EQ(bitsOf(atan2(1.0f, n)), 0x7FC00000u);
    }

    // Every quadrant boundary and diagonal at many lengths, the floats beside them, the
    // reduction's boundary, subnormals and the far ends of the range.
    std::vector<float> ys, xs;
    auto both = [&](float y, float x) {
        for (float sy : {1.0f, -1.0f})
            for (float sx : {1.0f, -1.0f}) {
                ys.push_back(sy * y);
                xs.push_back(sx * x);
                ys.push_back(sx * x);
                xs.push_back(sy * y);
            }
    };
    const float specials[] = {
        0.0f,     fromBits(1), fromBits(0x007FFFFFu), FLT_MIN, 1e-30f, 1.0f, 3.0f, 1e30f, FLT_MAX,
        INFINITY, NAN};
    for (float a : specials)
        for (float b : specials) both(a, b);
    for (int e = -149; e <= 127; ++e) {
        const float x = std::ldexp(1.0f, e) * 1.2345678f;
        for (float y : {x, std::nextafter(x, 0.0f), std::nextafter(x, INFINITY), 0.0f, fromBits(1)})
            both(y, x);
        const float edge = float(double(x) * (2.0 - std::sqrt(3.0)));
        for (float y : {edge, std::nextafter(edge, 0.0f), std::nextafter(edge, INFINITY)})
            both(y, x);
    }
    int64_t worst = 0;
    checkAtan2(ys, xs, &worst);
    EXPECT_LE(worst, 1);
}

}  // namespace
