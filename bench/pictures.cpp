// Picture source costs: decoding the bundled samples and camera-sized pictures (a
// 6000 x 4000 JPEG beside libjpeg-turbo's own djpeg on the same file, a 12-megapixel
// HEIC), smoothing a desktop snapshot, and scanning the samples folder.
#include <benchmark/benchmark.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "pictures/smoothing.h"
#include "platform/image/image.h"
#include "platform/os/folder_scan.h"
#include "support/picture_encoders.h"
#include "support/run.h"

extern char** environ;

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

// A photo-like picture: smooth shapes with fine grain, so the coders work as hard as
// on a camera's pictures.
gx::image::Bitmap photo(uint32_t w, uint32_t h) {
    gx::image::Bitmap b;
    b.width = w;
    b.height = h;
    b.pixels.resize(size_t(w) * h);
    uint32_t noise = 12345;
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x) {
            noise = noise * 1664525u + 1013904223u;
            const int grain = int(noise >> 28) - 8;
            const float fx = float(x) / float(w), fy = float(y) / float(h);
            auto channel = [&](float v) {
                return uint32_t(std::clamp(int(v * 255.0f) + grain, 0, 255));
            };
            b.at(x, y) = 0xFF000000u |
                         channel(0.5f + 0.5f * std::sin(fx * 17.0f + fy * 5.0f)) << 16 |
                         channel(0.5f + 0.5f * std::sin(fy * 11.0f - fx * 3.0f)) << 8 |
                         channel(0.5f + 0.5f * std::cos((fx - fy) * 23.0f));
        }
    return b;
}

// Made once per run, in a temporary folder removed at the end.
struct CameraPictures {
    std::string dir = gxtest::makeTempDir("gxbenchpics");
    std::string jpeg = dir + "/camera-6000x4000.jpg";
    std::string heic = dir + "/phone-4000x3000.heic";
    bool jpegMade = gxtest::encodeJpeg(jpeg, photo(6000, 4000), {90});
    bool heicMade = gxtest::heifEncoderAvailable(false) &&
                    gxtest::encodeHeif(heic, photo(4000, 3000), false, 80);
    ~CameraPictures() { gxtest::removeTree(dir); }
};
const CameraPictures& cameraPictures() {
    static CameraPictures pictures;
    return pictures;
}

// djpeg's time per decode, from its case that runs first: on the wall clock and on the
// processor (its own user and system time, so a busy machine does not tilt the ratio).
double djpegWall = 0, djpegCpu = 0;

double threadCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

// libjpeg-turbo's own command-line decoder on the same file, writing to /dev/null.
void djpegCamera(benchmark::State& state) {
    const CameraPictures& p = cameraPictures();
    if (!p.jpegMade) return state.SkipWithError("cannot write the JPEG");
    std::string program = "djpeg", out = "-outfile", null = "/dev/null", file = p.jpeg;
    char* argv[] = {program.data(), out.data(), null.data(), file.data(), nullptr};
    double cpu = 0;
    const auto t0 = std::chrono::steady_clock::now();
    for (auto _ : state) {
        pid_t pid = 0;
        int status = 0;
        rusage usage{};
        if (posix_spawnp(&pid, "djpeg", nullptr, nullptr, argv, environ) != 0 ||
            wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
            return state.SkipWithError("djpeg did not run (libjpeg-turbo-progs)");
        cpu += double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
               double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
    }
    const double n = double(state.iterations());
    djpegWall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count() / n;
    djpegCpu = cpu / n;
    state.counters["cpu_ms"] = djpegCpu * 1000.0;
}
BENCHMARK(djpegCamera)
    ->Name("djpeg_6000x4000")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(2.0);

// Decoding into the pixels of the previous decode (warm) is what djpeg does, writing
// rows into buffers it already has; a fresh bitmap each time (cold) adds the first
// touch of 96 MB (24 MP) of new pages, which on a virtual machine costs as much again.
void decodeCamera(benchmark::State& state, bool heic, bool warm) {
    const CameraPictures& p = cameraPictures();
    if (!(heic ? p.heicMade : p.jpegMade)) return state.SkipWithError("cannot write the picture");
    gx::image::Bitmap kept;
    const auto t0 = std::chrono::steady_clock::now();
    const double cpu0 = threadCpuSeconds();
    for (auto _ : state) {
        gx::image::Bitmap fresh;
        gx::image::Bitmap& bitmap = warm ? kept : fresh;
        if (gx::gfx::failed(gx::image::decodeImageFile(heic ? p.heic : p.jpeg, &bitmap)))
            return state.SkipWithError("cannot decode the picture");
        benchmark::DoNotOptimize(bitmap.pixels.data());
    }
    const double n = double(state.iterations());
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count() / n;
    const double cpu = (threadCpuSeconds() - cpu0) / n;
    state.counters["megapixels_per_s"] = (heic ? 12.0 : 24.0) / wall;
    if (heic)
        return;  // libheif decodes on threads of its own: its processor time is not this thread's
    state.counters["cpu_ms"] = cpu * 1000.0;
    // Ours over djpeg's for the same file in the same run (the budget is 1.5).
    if (djpegWall > 0) state.counters["x_djpeg"] = wall / djpegWall;
    if (djpegCpu > 0) state.counters["x_djpeg_cpu"] = cpu / djpegCpu;
}
BENCHMARK_CAPTURE(decodeCamera, jpg_6000x4000_warm, false, true)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(2.0);
BENCHMARK_CAPTURE(decodeCamera, jpg_6000x4000_cold, false, false)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(2.0);
BENCHMARK_CAPTURE(decodeCamera, heic_4000x3000_warm, true, true)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(2.0);
BENCHMARK_CAPTURE(decodeCamera, heic_4000x3000_cold, true, false)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(2.0);

void smoothSnapshotScreen(benchmark::State& state) {
    const int w = int(state.range(0)), h = int(state.range(1));
    std::vector<uint32_t> source(size_t(w) * h), destination(source.size());
    for (size_t i = 0; i < source.size(); ++i) source[i] = uint32_t(i * 2654435761u);
    for (auto _ : state) {
        gx::smoothSnapshot(source.data(), w * 4, destination.data(), w * 4, w * 4, h);
        benchmark::DoNotOptimize(destination.data());
    }
}
BENCHMARK(smoothSnapshotScreen)
    ->Args({1920, 1080})
    ->Args({3840, 2160})
    ->Unit(benchmark::kMillisecond);

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
