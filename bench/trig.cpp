// Our angle functions against the C library's: atan2 and sin/cos one at a time and four
// at a time, over the angles and vectors the simulation meets, and the bounce rule (three
// angles and two directions in a row) as the particle pass runs it and as it ran with the
// C library's functions.
#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "universe/collisions.h"
#include "universe/trig.h"
#include "universe/vec2.h"
#include "universe/world.h"

namespace {

constexpr int kCount = 4096;

struct Inputs {
    std::vector<float> angle, x, y;
    Inputs() {
        uint32_t s = 24;
        auto next = [&] {
            s = s * 1664525u + 1013904223u;
            return float(s >> 8) * 0x1p-24f;
        };
        for (int i = 0; i < kCount; ++i) {
            angle.push_back((next() * 2.0f - 1.0f) * 3.0f * 3.1415927f);
            x.push_back((next() * 2.0f - 1.0f) * 4.0f);
            y.push_back((next() * 2.0f - 1.0f) * 4.0f);
        }
    }
};
const Inputs& inputs() {
    static const Inputs in;
    return in;
}

void SinCos(benchmark::State& state) {
    const Inputs& in = inputs();
    const bool ours = state.range(0) == 1;
    for (auto _ : state) {
        float sum = 0.0f;
        for (float a : in.angle) {
            if (ours) {
                const gx::trig::SinCos sc = gx::trig::sinCos(a);
                sum += sc.sin + sc.cos;
            } else {
                sum += std::sin(a) + std::cos(a);
            }
        }
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * kCount);
    state.SetLabel(ours ? "ours" : "C library");
}
BENCHMARK(SinCos)->Arg(0)->Arg(1);

void SinCos4(benchmark::State& state) {
    const Inputs& in = inputs();
    for (auto _ : state) {
        __m128 sum = _mm_setzero_ps();
        for (int i = 0; i < kCount; i += 4) {
            __m128 s, c;
            gx::trig::sinCos4(_mm_loadu_ps(&in.angle[size_t(i)]), &s, &c);
            sum = _mm_add_ps(sum, _mm_add_ps(s, c));
        }
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * kCount);
}
BENCHMARK(SinCos4);

void Atan2(benchmark::State& state) {
    const Inputs& in = inputs();
    const bool ours = state.range(0) == 1;
    for (auto _ : state) {
        float sum = 0.0f;
        for (int i = 0; i < kCount; ++i)
            sum += ours ? gx::trig::atan2(in.y[size_t(i)], in.x[size_t(i)])
                        : std::atan2(in.y[size_t(i)], in.x[size_t(i)]);
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * kCount);
    state.SetLabel(ours ? "ours" : "C library");
}
BENCHMARK(Atan2)->Arg(0)->Arg(1);

void Atan2x4(benchmark::State& state) {
    const Inputs& in = inputs();
    for (auto _ : state) {
        __m128 sum = _mm_setzero_ps();
        for (int i = 0; i < kCount; i += 4)
            sum = _mm_add_ps(sum, gx::trig::atan2x4(_mm_loadu_ps(&in.y[size_t(i)]),
                                                    _mm_loadu_ps(&in.x[size_t(i)])));
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * kCount);
}
BENCHMARK(Atan2x4);

// The bounce as it was written with the C library's functions, one after another.
void bounceWithLibc(gx::Particle* p, gx::Particle* q) {
    auto angle = [](float x, float y) { return x == 0.0f && y == 0.0f ? 0.0f : std::atan2(x, y); };
    const float mx = p->mass * p->vx + q->mass * q->vx;
    const float my = p->mass * p->vy + q->mass * q->vy;
    const float phi = angle(mx, my);
    const float thetaP = 2.0f * phi - angle(p->vx, p->vy);
    const float thetaQ = 2.0f * phi - angle(q->vx, q->vy);
    const float s =
        (std::sqrt(p->vx * p->vx + p->vy * p->vy) + std::sqrt(q->vx * q->vx + q->vy * q->vy)) *
        0.5f;
    p->vx = s * std::sin(thetaP);
    p->vy = s * std::cos(thetaP);
    q->vx = s * std::sin(thetaQ);
    q->vy = s * std::cos(thetaQ);
}

// Each bounce takes the velocities the last one left: a chain, as in the particle pass.
void Bounce(benchmark::State& state) {
    const Inputs& in = inputs();
    const bool ours = state.range(0) == 1;
    gx::Particle p{}, q{};
    p.mass = 1.5f;
    q.mass = 0.75f;
    for (auto _ : state) {
        for (int i = 0; i < kCount; ++i) {
            p.vx += in.x[size_t(i)];
            q.vy += in.y[size_t(i)];
            if (ours) gx::bounceParticles(&p, &q);
            else bounceWithLibc(&p, &q);
        }
        benchmark::DoNotOptimize(p);
    }
    state.SetItemsProcessed(state.iterations() * kCount);
    state.SetLabel(ours ? "ours, four-wide" : "C library");
}
BENCHMARK(Bounce)->Arg(0)->Arg(1);

}  // namespace

BENCHMARK_MAIN();
