// The software device's hot loops, each against a memcpy of the same bytes timed in the
// same run (counter "x_memcpy": the draw's median thread time over the copy's).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <ctime>
#include <memory>
#include <random>
#include <vector>

#include "core/background_task.h"
#include "platform/gfx/gfx.h"

namespace {

using namespace gx::gfx;

// Thread CPU time: the machine may be shared, and waiting for a core is not our cost.
double now() {
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

double memcpySeconds(size_t bytes) {
    static std::vector<uint8_t> a, b;
    a.assign(bytes, 1);
    b.assign(bytes, 2);
    std::vector<double> runs;
    for (int i = 0; i < 15; ++i) {
        double t0 = now();
        std::memcpy(b.data(), a.data(), bytes);
        benchmark::DoNotOptimize(b.data());
        benchmark::ClobberMemory();
        runs.push_back(now() - t0);
    }
    std::sort(runs.begin(), runs.end());
    return runs[runs.size() / 2];
}

// Wall-clock time, for work shared between two threads.
double wallNow() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

// One thread unless asked: the ratios to memcpy compare one core's work.
std::unique_ptr<Device> makeDevice(uint32_t w, uint32_t h, bool twoThreads = false) {
    PresentParameters pp;
    pp.backBufferWidth = w;
    pp.backBufferHeight = h;
    std::unique_ptr<Device> d;
    DeviceOptions o;
    if (!twoThreads) o.parallelPixels = 0;
    createDevice(pp, o, &d);
    d->setRenderState(RenderState::AlphaBlendEnable, 1);
    d->setRenderState(RenderState::SrcBlend, kBlendSrcAlpha);
    d->setRenderState(RenderState::DestBlend, kBlendInvSrcAlpha);
    d->setTextureStageState(0, StageState::ColorOp, kTopModulate);
    d->setTextureStageState(0, StageState::ColorArg1, kTaTexture);
    d->setTextureStageState(0, StageState::ColorArg2, kTaDiffuse);
    d->setTextureStageState(0, StageState::AlphaOp, kTopModulate);
    d->setTextureStageState(0, StageState::AlphaArg1, kTaTexture);
    d->setTextureStageState(0, StageState::AlphaArg2, kTaDiffuse);
    d->setFVF(kFvfScreenVertex);
    return d;
}

TexturePtr makeTexture(Device& d, uint32_t w, uint32_t h, Format f,
                       uint32_t (*texel)(std::mt19937&)) {
    TexturePtr t;
    d.createTexture(w, h, 1, 0, f, Pool::Managed, &t);
    LockedRect lr;
    t->lockRect(0, &lr, nullptr, 0);
    std::mt19937 rng(7);
    for (uint32_t y = 0; y < h; ++y) {
        auto* row =
            reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(lr.bits) + size_t(y) * lr.pitch);
        for (uint32_t x = 0; x < w; ++x) row[x] = texel(rng);
    }
    t->unlockRect(0);
    return t;
}

VertexBufferPtr quadBuffer(Device& d, const std::vector<ScreenVertex>& v) {
    VertexBufferPtr vb;
    d.createVertexBuffer(672, 0, kFvfScreenVertex, Pool::Managed, &vb);
    void* p;
    vb->lock(0, 0, &p, 0);
    std::memcpy(p, v.data(), v.size() * sizeof(ScreenVertex));
    vb->unlock();
    return vb;
}

std::vector<ScreenVertex> rect(float x0, float y0, float x1, float y1) {
    const uint32_t c = 0xFFFFFFFFu;
    return {{x0, y0, 0, 1, c, 0, 0}, {x1, y1, 0, 1, c, 1, 1}, {x0, y1, 0, 1, c, 0, 1},
            {x0, y0, 0, 1, c, 0, 0}, {x1, y0, 0, 1, c, 1, 0}, {x1, y1, 0, 1, c, 1, 1}};
}

// The same copy split between two threads, in wall-clock time: what the draws on the
// device's second thread are fairly held against.
double memcpyTwoThreadsSeconds(size_t bytes) {
    static std::vector<uint8_t> a, b;
    a.assign(bytes, 1);
    b.assign(bytes, 2);
    const size_t half = bytes / 2;
    gx::BackgroundTask helper;
    std::vector<double> runs;
    for (int i = 0; i < 15; ++i) {
        double t0 = wallNow();
        bool shared =
            helper.start([&] { std::memcpy(b.data() + half, a.data() + half, bytes - half); });
        std::memcpy(b.data(), a.data(), shared ? half : bytes);
        helper.wait();
        benchmark::DoNotOptimize(b.data());
        benchmark::ClobberMemory();
        runs.push_back(wallNow() - t0);
    }
    std::sort(runs.begin(), runs.end());
    return runs[runs.size() / 2];
}

// On one thread the draw's thread time is held against a one-thread memcpy. With the
// second thread the draw is timed on the wall clock (the caller's thread time would
// leave out the helper's share) and also held against a two-thread memcpy
// ("x_memcpy2").
void runDraws(benchmark::State& state, Device& d, const TexturePtr& tex, const VertexBufferPtr& vb,
              size_t refBytes, bool twoThreads = false) {
    d.setTexture(0, tex);
    d.setStreamSource(0, vb, 0, sizeof(ScreenVertex));
    double copy = memcpySeconds(refBytes);
    double copy2 = twoThreads ? memcpyTwoThreadsSeconds(refBytes) : 0;
    auto clock = twoThreads ? wallNow : now;
    std::vector<double> runs;
    for (auto _ : state) {
        double t0 = clock();
        d.beginScene();
        d.drawPrimitive(PrimitiveType::TriangleList, 0, 2);
        d.endScene();
        runs.push_back(clock() - t0);
    }
    // Medians on both sides.
    std::sort(runs.begin(), runs.end());
    double draw = runs[runs.size() / 2];
    state.counters["ms"] = draw * 1e3;
    state.counters["memcpy_ms"] = copy * 1e3;
    state.counters["x_memcpy"] = draw / copy;
    if (twoThreads) {
        state.counters["memcpy2_ms"] = copy2 * 1e3;
        state.counters["x_memcpy2"] = draw / copy2;
    }
}

uint32_t anyTexel(std::mt19937& rng) { return rng(); }
uint32_t sparseTexel(std::mt19937& rng) { return rng() % 100 == 0 ? (rng() | 0xFF000000u) : 0u; }

// A full-screen layer of the given texels blended over the back buffer; with
// threadArg, arg 2 is 1 for the device's second thread.
void layerCase(benchmark::State& state, Format format, uint32_t (*texel)(std::mt19937&),
               bool threadArg) {
    uint32_t w = uint32_t(state.range(0)), h = uint32_t(state.range(1));
    bool two = threadArg && state.range(2) != 0;
    auto d = makeDevice(w, h, two);
    auto tex = makeTexture(*d, w, h, format, texel);
    runDraws(state, *d, tex, quadBuffer(*d, rect(0, 0, float(w), float(h))), size_t(w) * h * 4,
             two);
}

// Random colours and alphas.
void BM_LayerBlend(benchmark::State& state) { layerCase(state, Format::A8R8G8B8, anyTexel, true); }
BENCHMARK(BM_LayerBlend)
    ->Args({1920, 1080, 0})
    ->Args({3840, 2160, 0})
    ->Args({3840, 2160, 1})
    ->Unit(benchmark::kMillisecond);

// A layer with nothing to draw: the cost of looking.
uint32_t emptyTexel(std::mt19937&) { return 0; }
void BM_LayerEmpty(benchmark::State& state) {
    layerCase(state, Format::A8R8G8B8, emptyTexel, false);
}
BENCHMARK(BM_LayerEmpty)->Args({3840, 2160})->Unit(benchmark::kMillisecond);

// The sprite layer: an X8 render target, so every texel is opaque.
void BM_LayerOpaque(benchmark::State& state) {
    layerCase(state, Format::X8R8G8B8, anyTexel, false);
}
BENCHMARK(BM_LayerOpaque)->Args({1920, 1080})->Args({3840, 2160})->Unit(benchmark::kMillisecond);

// The particle image: transparent except 1% of its texels (on two threads as the saver
// runs it).
void BM_LayerSparse(benchmark::State& state) {
    layerCase(state, Format::A8R8G8B8, sparseTexel, true);
}
BENCHMARK(BM_LayerSparse)
    ->Args({1920, 1080, 0})
    ->Args({3840, 2160, 0})
    ->Args({3840, 2160, 1})
    ->Unit(benchmark::kMillisecond);

// The largest body sprite, turned, on a 1920 x 1080 screen (memcpy of the texture).
void BM_TurnedSprite(benchmark::State& state) {
    auto d = makeDevice(1920, 1080);
    const uint32_t side = 1599;
    auto tex = makeTexture(*d, side, side, Format::A8R8G8B8, anyTexel);
    float angle = 0.5f, half = side / std::sqrt(2.0f);
    auto corner = [&](float off, float u, float v) {
        return ScreenVertex{std::sin(angle + off) * half + 960,
                            std::cos(angle + off) * half + 540,
                            0,
                            1,
                            0xFFFFFFFFu,
                            u,
                            v};
    };
    ScreenVertex c0 = corner(3.9269910f, 0, 0), c1 = corner(0.78539819f, 1, 1),
                 c2 = corner(5.4977875f, 0, 1), c4 = corner(2.3561945f, 1, 0);
    runDraws(state, *d, tex, quadBuffer(*d, {c0, c1, c2, c0, c4, c1}), size_t(side) * side * 4);
}
BENCHMARK(BM_TurnedSprite)->Unit(benchmark::kMillisecond);

// The collision shrink: a screen-sized render-target layer drawn onto 128 x 128 (memcpy of 128 x
// 128).
void BM_Shrink(benchmark::State& state) {
    uint32_t w = uint32_t(state.range(0)), h = uint32_t(state.range(1));
    auto d = makeDevice(w, h);
    TexturePtr layer, small;
    d->createTexture(w, h, 1, kUsageRenderTarget, Format::X8R8G8B8, Pool::Default, &layer);
    d->createTexture(128, 128, 1, kUsageRenderTarget, Format::X8R8G8B8, Pool::Default, &small);
    SurfacePtr s;
    small->getSurfaceLevel(0, &s);
    d->setRenderTarget(0, s);
    float sx = 128.0f / float(w), sy = 128.0f / float(h);
    runDraws(state, *d, layer, quadBuffer(*d, rect(0, 0, float(w) * sx, float(h) * sy)),
             128 * 128 * 4);
}
BENCHMARK(BM_Shrink)->Args({1920, 1080})->Args({3840, 2160})->Unit(benchmark::kMicrosecond);

// A full clear of the back buffer after a full-screen draw.
void BM_ClearAfterDraw(benchmark::State& state) {
    uint32_t w = uint32_t(state.range(0)), h = uint32_t(state.range(1));
    auto d = makeDevice(w, h);
    auto tex = makeTexture(*d, w, h, Format::X8R8G8B8, anyTexel);
    auto vb = quadBuffer(*d, rect(0, 0, float(w), float(h)));
    d->setTexture(0, tex);
    d->setStreamSource(0, vb, 0, sizeof(ScreenVertex));
    double copy = memcpySeconds(size_t(w) * h * 4);
    std::vector<double> runs;
    for (auto _ : state) {
        state.PauseTiming();
        d->beginScene();
        d->drawPrimitive(PrimitiveType::TriangleList, 0, 2);
        d->endScene();
        state.ResumeTiming();
        double t0 = now();
        d->clear(kClearTarget, 0, 1.0f, 0);
        runs.push_back(now() - t0);
    }
    std::sort(runs.begin(), runs.end());
    state.counters["x_memcpy"] = runs[runs.size() / 2] / copy;
}
// The clear is only recorded (its cost moves into the next draw that reaches the
// cleared tiles), so the timed part is tiny: a fixed count of runs.
BENCHMARK(BM_ClearAfterDraw)->Args({3840, 2160})->Iterations(40)->Unit(benchmark::kMillisecond);

// One frame of the saver, stage by stage: clear the back buffer; rebuild the particle
// image through a lock; draw turned sprite discs into the sprite layer, shrink it to
// 128 x 128 and read that back; clear the back buffer again and compose the layer and
// the particle image over it (stages "layer" and "image"); present. Counters are median
// milliseconds per stage.
struct FrameScene {
    std::unique_ptr<Device> d;
    TexturePtr particles, layer, small;
    SurfacePtr back, layerSurface, smallSurface, readback;
    VertexBufferPtr screenQuad, shrinkQuad, sprites;
    std::vector<TexturePtr> discs;
    std::vector<uint32_t> cells;  // particle texel indices
    std::vector<uint32_t> colours;
    uint32_t w = 0, h = 0;
};

FrameScene makeFrameScene(uint32_t w, uint32_t h, bool twoThreads) {
    FrameScene f;
    f.w = w;
    f.h = h;
    f.d = makeDevice(w, h, twoThreads);
    Device& d = *f.d;
    d.getBackBuffer(&f.back);
    d.createTexture(w, h, 1, 0, Format::A8R8G8B8, Pool::Managed, &f.particles);
    d.createTexture(w, h, 1, kUsageRenderTarget, Format::X8R8G8B8, Pool::Default, &f.layer);
    d.createTexture(128, 128, 1, kUsageRenderTarget, Format::X8R8G8B8, Pool::Default, &f.small);
    f.layer->getSurfaceLevel(0, &f.layerSurface);
    f.small->getSurfaceLevel(0, &f.smallSurface);
    d.createOffscreenPlainSurface(128, 128, Format::X8R8G8B8, Pool::SystemMem, &f.readback);
    f.screenQuad = quadBuffer(d, rect(0, 0, float(w), float(h)));
    float sx = 128.0f / float(w), sy = 128.0f / float(h);
    f.shrinkQuad = quadBuffer(d, rect(0, 0, float(w) * sx, float(h) * sy));

    std::mt19937 rng(2024);
    size_t count = size_t(60000.0 * double(w) * double(h) / (1920.0 * 1080.0));
    for (size_t i = 0; i < count; ++i) {
        f.cells.push_back(uint32_t(rng() % (w * h)));
        f.colours.push_back(rng() | 0xFF000000u);
    }
    std::vector<ScreenVertex> v;
    for (int s = 0; s < 15; ++s) {
        int r = 20 + int(rng() % 281);
        uint32_t side = std::min<uint32_t>(1599, uint32_t(2 * r + 2));
        TexturePtr t;
        d.createTexture(side, side, 1, 0, Format::A8R8G8B8, Pool::Managed, &t);
        LockedRect lr;
        t->lockRect(0, &lr, nullptr, 0);
        float c = float(side) * 0.5f;
        for (uint32_t y = 0; y < side; ++y) {
            auto* row =
                reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(lr.bits) + size_t(y) * lr.pitch);
            for (uint32_t x = 0; x < side; ++x) {
                float dx = float(x) + 0.5f - c, dy = float(y) + 0.5f - c;
                row[x] = dx * dx + dy * dy <= float(r * r) ? (rng() | 0xFF000000u) : 0u;
            }
        }
        t->unlockRect(0);
        f.discs.push_back(t);
        float cx = float(rng() % w), cy = float(rng() % h), angle = float(rng() % 628) / 100.0f;
        float half = float(side) / std::sqrt(2.0f);
        auto corner = [&](float off, float u, float vv) {
            return ScreenVertex{std::sin(angle + off) * half + cx,
                                std::cos(angle + off) * half + cy,
                                0,
                                1,
                                0xFFFFFFFFu,
                                u,
                                vv};
        };
        ScreenVertex c0 = corner(3.9269910f, 0, 0), c1 = corner(0.78539819f, 1, 1),
                     c2 = corner(5.4977875f, 0, 1), c4 = corner(2.3561945f, 1, 0);
        for (const ScreenVertex& q : {c0, c1, c2, c0, c4, c1}) v.push_back(q);
    }
    d.createVertexBuffer(uint32_t(v.size() * sizeof(ScreenVertex)), 0, kFvfScreenVertex,
                         Pool::Managed, &f.sprites);
    void* p;
    f.sprites->lock(0, 0, &p, 0);
    std::memcpy(p, v.data(), v.size() * sizeof(ScreenVertex));
    f.sprites->unlock();
    return f;
}

// Wall-clock milliseconds (a second thread's share would not show in thread time);
// the third argument asks for the second thread.
void BM_Frame(benchmark::State& state) {
    FrameScene f =
        makeFrameScene(uint32_t(state.range(0)), uint32_t(state.range(1)), state.range(2) != 0);
    Device& d = *f.d;
    constexpr int kStages = 6;
    const char* names[kStages] = {"clear", "particles", "sprites", "layer", "image", "present"};
    std::vector<double> runs[kStages + 1];
    for (auto _ : state) {
        double t[kStages + 1];
        t[0] = wallNow();
        d.setRenderTarget(0, f.back);
        d.clear(kClearTarget, 0, 1.0f, 0);
        t[1] = wallNow();
        LockedRect lr;
        f.particles->lockRect(0, &lr, nullptr, 0);
        std::memset(lr.bits, 0, size_t(lr.pitch) * f.h);
        auto* bits = static_cast<uint32_t*>(lr.bits);
        for (size_t i = 0; i < f.cells.size(); ++i) bits[f.cells[i]] = f.colours[i];
        f.particles->unlockRect(0);
        t[2] = wallNow();
        d.setRenderTarget(0, f.layerSurface);
        d.clear(kClearTarget, 0, 1.0f, 0);
        d.beginScene();
        d.setStreamSource(0, f.sprites, 0, sizeof(ScreenVertex));
        for (size_t s = 0; s < f.discs.size(); ++s) {
            d.setTexture(0, f.discs[s]);
            d.drawPrimitive(PrimitiveType::TriangleList, uint32_t(6 * s), 2);
        }
        d.endScene();
        d.setRenderTarget(0, f.smallSurface);
        d.beginScene();
        d.setTexture(0, f.layer);
        d.setStreamSource(0, f.shrinkQuad, 0, sizeof(ScreenVertex));
        d.drawPrimitive(PrimitiveType::TriangleList, 0, 2);
        d.endScene();
        d.getRenderTargetData(f.smallSurface, f.readback);
        d.setRenderTarget(0, f.back);
        t[3] = wallNow();
        d.clear(kClearTarget, 0, 1.0f, 0);
        d.beginScene();
        d.setStreamSource(0, f.screenQuad, 0, sizeof(ScreenVertex));
        d.setTexture(0, f.layer);
        d.drawPrimitive(PrimitiveType::TriangleList, 0, 2);
        t[4] = wallNow();
        d.setTexture(0, f.particles);
        d.drawPrimitive(PrimitiveType::TriangleList, 0, 2);
        d.endScene();
        t[5] = wallNow();
        d.present();
        benchmark::DoNotOptimize(d.frontBuffer().data());
        t[6] = wallNow();
        for (int k = 0; k < kStages; ++k) runs[k].push_back(t[k + 1] - t[k]);
        runs[kStages].push_back(t[kStages] - t[0]);
    }
    auto median = [](std::vector<double>& r) {
        std::sort(r.begin(), r.end());
        return r[r.size() / 2] * 1e3;
    };
    for (int k = 0; k < kStages; ++k) state.counters[names[k]] = median(runs[k]);
    state.counters["frame_ms"] = median(runs[kStages]);
}
BENCHMARK(BM_Frame)
    ->Args({1920, 1080, 0})
    ->Args({1920, 1080, 1})
    ->Args({3840, 2160, 0})
    ->Args({3840, 2160, 1})
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
