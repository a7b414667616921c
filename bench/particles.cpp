// Turning a captured screen into particles: a 384 x 288 and a 768 x 576 picture region
// on a 1920 x 1080 and a 3840 x 2160 capture.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "bodies/bodies.h"
#include "platform/image/image.h"
#include "support/scenes.h"
#include "support/whole_run.h"
#include "universe/picture_to_particles.h"
#include "universe/world.h"

namespace {

const uint32_t kScreens[2][2] = {{1920, 1080}, {3840, 2160}};
const uint32_t kRegions[2][2] = {{384, 288}, {768, 576}};

// The first bundled sample picture (or the test pattern) resampled into the region,
// centred on a black screen.
std::vector<uint32_t> captureImage(uint32_t sw, uint32_t sh, uint32_t rw, uint32_t rh) {
    gx::image::Bitmap pic;
    const std::vector<std::string> files = gxtest::samplePictures(GLIMMERAX_SOURCE_DIR);
    if (files.empty() || gx::gfx::failed(gx::image::decodeImageFile(files.front(), &pic)))
        pic = gxtest::testBitmap(rw, rh);
    std::vector<uint32_t> screen(size_t(sw) * sh, 0xFF000000u);
    const uint32_t left = (sw - rw) / 2, top = (sh - rh) / 2;
    for (uint32_t y = 0; y < rh; ++y)
        for (uint32_t x = 0; x < rw; ++x)
            screen[size_t(top + y) * sw + left + x] =
                pic.pixels[size_t(y * pic.height / rh) * pic.width + x * pic.width / rw];
    return screen;
}

void CreateParticles(benchmark::State& state) {
    const uint32_t* screen = kScreens[state.range(0)];
    const uint32_t* region = kRegions[state.range(1)];
    const std::vector<uint32_t> image = captureImage(screen[0], screen[1], region[0], region[1]);
    gx::CapturedImage capture;
    capture.pixels = image.data();
    capture.rowPixels = int32_t(screen[0]);
    capture.rows = int32_t(screen[1]);
    capture.backBufferWidth = int32_t(screen[0]);
    capture.backBufferHeight = int32_t(screen[1]);
    gx::resetSimulation();
    gx::resetBodies();
    for (auto _ : state) {
        state.PauseTiming();
        gx::releaseParticles();
        gx::resetBodies();
        gx::initWorldSized(int32_t(screen[0]), int32_t(screen[1]));
        gx::sim.pictureLeft = float((screen[0] - region[0]) / 2);
        gx::sim.pictureTop = float((screen[1] - region[1]) / 2);
        gx::sim.pictureRight = gx::sim.pictureLeft + float(region[0]);
        gx::sim.pictureBottom = gx::sim.pictureTop + float(region[1]);
        state.ResumeTiming();
        gx::countBrightPixels(capture);
    }
    state.SetLabel(std::to_string(region[0]) + "x" + std::to_string(region[1]) + " on " +
                   std::to_string(screen[0]) + "x" + std::to_string(screen[1]));
    state.counters["particles"] = double(gx::sim.particleCount);
    state.counters["bodies"] = double(gx::bodyCount());
    gx::resetSimulation();
}

}  // namespace

BENCHMARK(CreateParticles)->ArgsProduct({{0, 1}, {0, 1}})->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
