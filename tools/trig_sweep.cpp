// The full sweep of our angle functions (src/universe/trig.h), run by hand: sin and cos
// of every one of the 2^32 floats, and atan2(y, 1) and atan2(1, x) for every float y
// and x, against the C library's double-precision results rounded to float; and the
// four-wide and plain forms against the scalar one on every input. Takes some minutes.
//
//   trig_sweep [--threads N] [sincos] [atan2]      (both parts when none is named)
//
// Prints, per function, the largest distance in ulps, how many results are not the
// correctly rounded one, and how many inputs give different bits in the three forms.
// Exits 1 when a result is more than 1 ulp off or the forms differ.
#include <emmintrin.h>

#include <atomic>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "universe/trig.h"
#include "universe/trig_check.h"

namespace {

using gx::trig::Tally;

uint32_t bitsOf(float f) { return std::bit_cast<uint32_t>(f); }
float fromBits(uint32_t b) { return std::bit_cast<float>(b); }

bool report(const char* what, const Tally& t) {
    std::printf(
        "%-12s worst %lld ulp (at 0x%08X), %lld of 4294967296 not correctly rounded, %lld forms "
        "differ\n",
        what, (long long)t.worst, t.worstInput, (long long)t.inexact, (long long)t.differ);
    return t.worst <= 1 && t.differ == 0;
}

template <typename Each>
std::vector<Tally> runAll(int threads, size_t parts, Each each) {
    constexpr uint64_t kTotal = 1ull << 32;
    constexpr uint64_t kChunk = 1ull << 22;
    std::vector<std::vector<Tally>> tallies(size_t(threads), std::vector<Tally>(parts, Tally{}));
    std::atomic<uint64_t> next{0};
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t)
        workers.emplace_back([&, t] {
            std::vector<Tally>& mine = tallies[size_t(t)];
            for (;;) {
                const uint64_t begin = next.fetch_add(kChunk);
                if (begin >= kTotal) break;
                for (uint64_t i = begin; i < begin + kChunk; i += 4) each(uint32_t(i), mine);
            }
        });
    for (auto& w : workers) w.join();
    std::vector<Tally> total(parts);
    for (auto& v : tallies)
        for (size_t k = 0; k < parts; ++k) total[k].merge(v[k]);
    return total;
}

void sinCosFour(uint32_t first, std::vector<Tally>& t) {
    alignas(16) float a[4], s4[4], c4[4];
    for (int k = 0; k < 4; ++k) a[k] = fromBits(first + uint32_t(k));
    __m128 s, c;
    gx::trig::sinCos4(_mm_load_ps(a), &s, &c);
    _mm_store_ps(s4, s);
    _mm_store_ps(c4, c);
    for (int k = 0; k < 4; ++k) {
        const gx::trig::SinCos sc = gx::trig::sinCos(a[k]);
        const gx::trig::SinCos plain = gx::trig::plain::sinCos(a[k]);
        if (bitsOf(sc.sin) != bitsOf(s4[k]) || bitsOf(sc.cos) != bitsOf(c4[k]) ||
            bitsOf(sc.sin) != bitsOf(plain.sin) || bitsOf(sc.cos) != bitsOf(plain.cos))
            ++t[0].differ;
        t[0].add(sc.sin, float(std::sin(double(a[k]))), first + uint32_t(k));
        t[1].add(sc.cos, float(std::cos(double(a[k]))), first + uint32_t(k));
    }
}

void atan2Four(uint32_t first, std::vector<Tally>& t) {
    alignas(16) float v[4], r1[4], r2[4];
    for (int k = 0; k < 4; ++k) v[k] = fromBits(first + uint32_t(k));
    const __m128 one = _mm_set1_ps(1.0f);
    _mm_store_ps(r1, gx::trig::atan2x4(_mm_load_ps(v), one));
    _mm_store_ps(r2, gx::trig::atan2x4(one, _mm_load_ps(v)));
    for (int k = 0; k < 4; ++k) {
        const float a = gx::trig::atan2(v[k], 1.0f), b = gx::trig::atan2(1.0f, v[k]);
        if (bitsOf(a) != bitsOf(r1[k]) || bitsOf(a) != bitsOf(gx::trig::plain::atan2(v[k], 1.0f)))
            ++t[0].differ;
        if (bitsOf(b) != bitsOf(r2[k]) || bitsOf(b) != bitsOf(gx::trig::plain::atan2(1.0f, v[k])))
            ++t[1].differ;
        t[0].add(a, float(std::atan2(double(v[k]), 1.0)), first + uint32_t(k));
        t[1].add(b, float(std::atan2(1.0, double(v[k]))), first + uint32_t(k));
    }
}

}  // namespace

int main(int argc, char** argv) {
    int threads = int(std::thread::hardware_concurrency());
    bool doSinCos = false, doAtan2 = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--threads" && i + 1 < argc) threads = std::atoi(argv[++i]);
        else if (a == "sincos") doSinCos = true;
        else if (a == "atan2") doAtan2 = true;
        else {
            std::fprintf(stderr, "usage: %s [--threads N] [sincos] [atan2]\n", argv[0]);
            return 2;
        }
    }
    if (!doSinCos && !doAtan2) doSinCos = doAtan2 = true;
    if (threads < 1) threads = 1;
    bool ok = true;
    if (doSinCos) {
        const auto t = runAll(threads, 2, sinCosFour);
        ok = report("sin", t[0]) && ok;
        ok = report("cos", t[1]) && ok;
    }
    if (doAtan2) {
        const auto t = runAll(threads, 2, atan2Four);
        ok = report("atan2(v, 1)", t[0]) && ok;
        ok = report("atan2(1, v)", t[1]) && ok;
    }
    std::printf("%s\n", ok ? "all within 1 ulp, the forms identical" : "FAILED");
    return ok ? 0 : 1;
}
