// Picture source costs: decoding the bundled samples, smoothing a desktop snapshot,
// and scanning the samples folder.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "pictures/smoothing.h"
#include "platform/image/image.h"
#include "platform/os/folder_scan.h"

namespace {

const std::string kSamples = std::string(GLIMMERAX_SOURCE_DIR) + "/data/samples/";

void decodeSample(benchmark::State& state, const char* name) {
    const std::string path = kSamples + name;
    for (auto _ : state) {
        gx::image::Bitmap bitmap;
        if (gx::gfx::failed(gx::image::decodeImageFile(path, &bitmap))) {
            state.SkipWithError("cannot decode the sample");
            return;
        }
        benchmark::DoNotOptimize(bitmap.pixels.data());
    }
}
BENCHMARK_CAPTURE(decodeSample, jpg_640x400, "nebula.jpg")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(decodeSample, png_480x270, "sunset.png")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(decodeSample, dds_bc1_256, "rings.dds")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(decodeSample, hdr_240x120, "aurora.hdr")->Unit(benchmark::kMillisecond);

void smoothSnapshotScreen(benchmark::State& state) {
    const int w = int(state.range(0)), h = int(state.range(1));
    std::vector<uint32_t> source(size_t(w) * h), destination(source.size());
    for (size_t i = 0; i < source.size(); ++i) source[i] = uint32_t(i * 2654435761u);
    for (auto _ : state) {
        gx::smoothSnapshot(source.data(), w * 4, destination.data(), w * 4, w * 4, h);
        benchmark::DoNotOptimize(destination.data());
    }
}
BENCHMARK(smoothSnapshotScreen)->Args({1920, 1080})->Args({3840, 2160})->Unit(benchmark::kMillisecond);

void scanSamples(benchmark::State& state) {
    for (auto _ : state) {
        int n = 0;
        gx::scanPictureFolder(kSamples, [&](const std::string&) { return ++n, true; });
        benchmark::DoNotOptimize(n);
    }
}
BENCHMARK(scanSamples)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
