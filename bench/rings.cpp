// Ring tables: generating them on the first run, loading them on every later one.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "bodies/ring_tables.h"
#include "support/temp_folder.h"
#include "ui/progress_window.h"
#include "ui/ring_generator.h"

namespace {

// The whole first-run generation, file writing included, with no display.
void BM_GenerateRingTables(benchmark::State& state) {
    gx::setProgressDisplay(gx::ProgressDisplay::None);
    gxtest::TempFolder dir("rings-bench");
    for (auto _ : state) {
        if (!gx::generateRingTablesTo(dir.file(gx::kRingFileName)))
            state.SkipWithError("generation failed");
        state.PauseTiming();
        gx::freeRingTables();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_GenerateRingTables)->Unit(benchmark::kMillisecond)->Iterations(5);

// The bare rules of both stages, without allocation, progress or file.
void BM_RingRulesOnly(benchmark::State& state) {
    std::vector<uint8_t> visited(gx::kRingPointCount);
    std::vector<gx::RingPoint> points(gx::kRingPointCount);
    std::vector<int32_t> start(gx::kRingCount);
    std::vector<uint8_t> codes(gx::kRingPointCount);
    for (auto _ : state) {
        std::fill(visited.begin(), visited.end(), 0);
        int count = 0;
        for (int r = 1; r < gx::kRingCount; ++r) {
            start[size_t(r)] = count;
            count = gx::sweepRing(r, visited.data(), points.data(), count);
        }
        int k = 0;
        for (int i = 0; i < gx::kRingPointCount; ++i) {
            if (i == start[size_t(std::min(k + 1, gx::kRingCount - 1))]) ++k;
            const gx::RingPoint p = points[size_t(i)];
            codes[size_t(p.y * gx::kRingSide + p.x)] = gx::codeForPoint(p.x, p.y, k);
        }
        benchmark::DoNotOptimize(codes.data());
    }
}
BENCHMARK(BM_RingRulesOnly)->Unit(benchmark::kMillisecond)->Iterations(5);

// The two stages of the rules apart: the ring sweep, then the direction codes over
// the finished point list.
struct RulesInput {
    std::vector<uint8_t> visited = std::vector<uint8_t>(gx::kRingPointCount);
    std::vector<gx::RingPoint> points = std::vector<gx::RingPoint>(gx::kRingPointCount);
    std::vector<int32_t> start = std::vector<int32_t>(gx::kRingCount);
    void sweep() {
        std::fill(visited.begin(), visited.end(), 0);
        int count = 0;
        for (int r = 1; r < gx::kRingCount; ++r) {
            start[size_t(r)] = count;
            count = gx::sweepRing(r, visited.data(), points.data(), count);
        }
    }
};

void BM_RingSweepOnly(benchmark::State& state) {
    RulesInput in;
    for (auto _ : state) {
        in.sweep();
        benchmark::DoNotOptimize(in.points.data());
    }
}
BENCHMARK(BM_RingSweepOnly)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_RingCodesOnly(benchmark::State& state) {
    RulesInput in;
    in.sweep();
    std::vector<uint8_t> codes(gx::kRingPointCount);
    for (auto _ : state) {
        int k = 0;
        for (int i = 0; i < gx::kRingPointCount; ++i) {
            if (i == in.start[size_t(std::min(k + 1, gx::kRingCount - 1))]) ++k;
            const gx::RingPoint p = in.points[size_t(i)];
            codes[size_t(p.y * gx::kRingSide + p.x)] = gx::codeForPoint(p.x, p.y, k);
        }
        benchmark::DoNotOptimize(codes.data());
    }
}
BENCHMARK(BM_RingCodesOnly)->Unit(benchmark::kMillisecond)->Iterations(5);

// Writing the data file alone, through the temporary file, over an existing file.
void BM_WriteRingTables(benchmark::State& state) {
    gx::setProgressDisplay(gx::ProgressDisplay::None);
    gxtest::TempFolder dir("rings-bench");
    if (!gx::generateRingTablesTo(dir.file(gx::kRingFileName))) {
        state.SkipWithError("generation failed");
        return;
    }
    for (auto _ : state) {
        if (!gx::writeRingTables(gx::ringTables, dir.file(gx::kRingFileName)))
            state.SkipWithError("write failed");
    }
    gx::freeRingTables();
}
BENCHMARK(BM_WriteRingTables)->Unit(benchmark::kMillisecond)->Iterations(10);

// Loading a file that sits in the page cache, with its validation.
void BM_LoadRingTables(benchmark::State& state) {
    gx::setProgressDisplay(gx::ProgressDisplay::None);
    gxtest::TempFolder dir("rings-bench");
    if (!gx::generateRingTablesTo(dir.file(gx::kRingFileName))) {
        state.SkipWithError("generation failed");
        return;
    }
    gx::freeRingTables();
    gx::loadRingTablesFrom(dir.file(gx::kRingFileName));  // warm the page cache
    for (auto _ : state) {
        if (!gx::loadRingTablesFrom(dir.file(gx::kRingFileName)))
            state.SkipWithError("load failed");
        state.PauseTiming();
        gx::freeRingTables();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_LoadRingTables)->Unit(benchmark::kMillisecond)->Iterations(30);

}  // namespace

BENCHMARK_MAIN();
