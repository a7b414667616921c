// One simulation frame and one rendered frame after 200 frames of each bundled sample
// picture, on a 1920 x 1080 and a 3840 x 2160 screen.
#include <benchmark/benchmark.h>

#include <chrono>
#include <string>

#include "bodies/bodies.h"
#include "bodies/sprites.h"
#include "framework/framework.h"
#include "render/frame.h"
#include "support/scenes.h"
#include "support/whole_run.h"
#include "universe/motion.h"
#include "universe/world.h"

namespace {

constexpr int kWarmUpFrames = 200;

double msSince(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
}

void SimulationFrame(benchmark::State& state) {
    const auto scenes = gxtest::sampleScenes(GLIMMERAX_SOURCE_DIR);
    const size_t perSize = scenes.size() / 2;
    const size_t which = size_t(state.range(0)) * perSize + size_t(state.range(1));
    if (size_t(state.range(1)) >= perSize || which >= scenes.size()) {
        state.SkipWithError("no such sample picture");
        return;
    }
    const gxtest::Scene& scene = scenes[which];
    gxtest::Saver s(gxtest::sceneOptions(scene));
    if (!s.started || !s.runUntil(&gx::simulationState)) {
        state.SkipWithError("scene could not start");
        return;
    }
    for (int f = 0; f < kWarmUpFrames; ++f) s.frame();

    // The simulation phase's frame and the frame render, each on its own.
    double simulateMs = 0, renderMs = 0;
    int64_t frames = 0;
    for (auto _ : state) {
        auto t0 = std::chrono::steady_clock::now();
        gx::simulateFrame();
        gx::updateAllSprites();
        simulateMs += msSince(t0);
        t0 = std::chrono::steady_clock::now();
        gx::renderFrame(gx::getD3D9Device(), 0.0, 0.0f, nullptr);
        renderMs += msSince(t0);
        ++frames;
    }
    state.SetLabel(scene.name);
    state.counters["simulate_ms"] = simulateMs / double(frames);
    state.counters["render_ms"] = renderMs / double(frames);
    state.counters["particles"] = double(gx::sim.particleCount);
    state.counters["bodies"] = double(gx::bodyCount());
    state.counters["sprites"] = double(gxtest::attachedSprites());
}

}  // namespace

BENCHMARK(SimulationFrame)
    ->ArgsProduct({{0, 1}, {0, 1, 2, 3, 4, 5, 6}})
    ->Iterations(20)
    ->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
