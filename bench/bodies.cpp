// Per-frame body passes over 100,000 bound members: 400 bodies of 250 members each,
// spread over a 1920 x 1080 world, drifting and turning.
#include <benchmark/benchmark.h>

#include <cmath>

#include "bodies/bodies.h"
#include "support/builders.h"
#include "universe/world.h"

namespace {

constexpr int kBodies = 400;
constexpr int kMembersPerBody = 250;
constexpr int kMembers = kBodies * kMembersPerBody;

void noHandOver(gx::BodyNode*) {}

void buildScene() {
    gx::resetSimulation();
    gx::resetBodies();
    gx::setSpriteAttachHook(noHandOver);
    gx::initWorldSized(1920, 1081);
    gxtest::makeParticles(kMembers);
    int k = 0;
    for (int b = 0; b < kBodies; ++b) {
        gx::Body* body = gx::newBody();
        const float cx = 48.0f + float(b % 20) * 92.0f;
        const float cy = 27.0f + float(b / 20) * 52.0f;
        body->centroid = {cx, cy};
        body->velocity = {0.37f, -0.21f};
        body->spin = 0.5f;
        body->radius = 2.0f;
        for (int m = 0; m < kMembersPerBody; ++m, ++k) {
            gx::Particle* p = &gx::sim.particles[k];
            // A filled disc, member by member on a spiral of whole cells.
            const float r = std::sqrt(float(m)) * 0.6f;
            const float a = float(m) * 2.3999632f;
            p->x = cx + std::sin(a) * r;
            p->y = cy + std::cos(a) * r;
            gx::refileInGrid(p);
            gxtest::appendMember(body, p);
        }
        gx::recentreFull(body);
    }
}

void perMember(benchmark::State& state) {
    state.counters["per_member"] = benchmark::Counter(
        kMembers, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_AdvanceBodies(benchmark::State& state) {
    buildScene();
    for (auto _ : state) {
        gx::advanceBodies();
        benchmark::ClobberMemory();
    }
    perMember(state);
}
BENCHMARK(BM_AdvanceBodies)->Unit(benchmark::kMicrosecond);

void BM_PullMembers(benchmark::State& state) {
    buildScene();
    for (auto _ : state) {
        gx::pullMembers();
        benchmark::ClobberMemory();
    }
    perMember(state);
}
BENCHMARK(BM_PullMembers)->Unit(benchmark::kMicrosecond);

// The frame's order: pull, then move.
void BM_PullThenAdvance(benchmark::State& state) {
    buildScene();
    for (auto _ : state) {
        gx::pullMembers();
        gx::advanceBodies();
        benchmark::ClobberMemory();
    }
    perMember(state);
}
BENCHMARK(BM_PullThenAdvance)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
