// One simulation frame and one rendered frame after 200 frames of each bundled sample
// picture, on a 1920 x 1080 and a 3840 x 2160 screen.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "../tests/render_frame/scene.h"

namespace {

constexpr int kWarmUpFrames = 200;
const uint32_t kSizes[2][2] = {{1920, 1080}, {3840, 2160}};

std::vector<std::string> samplePictures() {
    std::vector<std::string> out;
    std::error_code ec;
    for (const auto& e :
         std::filesystem::directory_iterator(GLIMMERAX_SOURCE_DIR "/data/samples", ec))
        if (e.is_regular_file()) out.push_back(e.path().string());
    std::sort(out.begin(), out.end());
    return out;
}

double msSince(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
}

void SimulationFrame(benchmark::State& state) {
    const auto pictures = samplePictures();
    const size_t which = size_t(state.range(1));
    if (which >= pictures.size()) {
        state.SkipWithError("no such sample picture");
        return;
    }
    gx::scene::Picture pic;
    if (!gx::scene::loadPicture(pictures[which], &pic)) {
        state.SkipWithError("sample picture unreadable");
        return;
    }
    setenv("GLIMMERAX_HOME", "/tmp", 0);
    gx::scene::Scene s;
    const uint32_t* size = kSizes[state.range(0)];
    if (!s.start(size[0], size[1]) || !s.capture(pic, 0.0f)) {
        state.SkipWithError("scene could not start");
        return;
    }
    for (int f = 0; f < kWarmUpFrames; ++f) s.frame();

    double simulateMs = 0, renderMs = 0;
    int64_t frames = 0;
    for (auto _ : state) {
        auto t0 = std::chrono::steady_clock::now();
        s.simulate();
        simulateMs += msSince(t0);
        t0 = std::chrono::steady_clock::now();
        s.render();
        renderMs += msSince(t0);
        ++frames;
    }
    state.SetLabel(std::filesystem::path(pictures[which]).filename().string() + " " +
                   std::to_string(size[0]) + "x" + std::to_string(size[1]));
    state.counters["simulate_ms"] = simulateMs / double(frames);
    state.counters["render_ms"] = renderMs / double(frames);
    state.counters["particles"] = double(gx::sim.particleCount);
    state.counters["bodies"] = double(gx::bodyCount());
    state.counters["sprites"] = double(gx::scene::spriteCount());
}

}  // namespace

BENCHMARK(SimulationFrame)
    ->ArgsProduct({{0, 1}, {0, 1, 2, 3, 4, 5, 6}})
    ->Iterations(20)
    ->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
