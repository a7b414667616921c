// Whole frames as the saver draws them, on the quick device and on the plain one: a
// clear that is only recorded, layers drawn from render targets that were cleared and
// partly drawn on, sprites drawn tile by tile, a large layer drawn again unchanged and
// after a change, every other scene with the rows shared between two threads. Every
// pixel must come out the same on both.
#include <cstdint>
#include <random>

#include "gfx_test_util.h"

namespace gx::gfx::test {
namespace {

struct Rng {
    std::mt19937 g;
    explicit Rng(uint32_t seed) : g(seed) {}
    uint32_t operator()(uint32_t n) { return uint32_t(g() % n); }
    uint32_t bits() { return uint32_t(g()); }
};

// The frame's resources on one device, made from the same random numbers.
struct FrameRig {
    std::unique_ptr<Device> d;
    TexturePtr layer, small, image;
    SurfacePtr back, layerSurface, smallSurface;
    std::vector<TexturePtr> sprites;

    FrameRig(uint32_t w, uint32_t h, bool fast, bool twoThreads, Format layerFormat,
             uint32_t smallSide) {
        DeviceOptions o;
        o.fastPaths = fast;
        o.parallelPixels = twoThreads ? 64 : 0;  // every draw shared, or none
        d = makeDevice(w, h, o);
        d->getBackBuffer(&back);
        EXPECT_EQ(d->createTexture(w, h, 1, kUsageRenderTarget, layerFormat, Pool::Default, &layer),
                  kOk);
        EXPECT_EQ(d->createTexture(smallSide, smallSide, 1, kUsageRenderTarget, layerFormat,
                                   Pool::Default, &small),
                  kOk);
        layer->getSurfaceLevel(0, &layerSurface);
        small->getSurfaceLevel(0, &smallSurface);
        setDefaultStates(*d);
    }
};

void writeTexels(const TexturePtr& t, const std::vector<uint32_t>& texels, uint32_t w, uint32_t h) {
    LockedRect lr;
    ASSERT_EQ(t->lockRect(0, &lr, nullptr, 0), kOk);
    for (uint32_t y = 0; y < h; ++y)
        std::memcpy(static_cast<uint8_t*>(lr.bits) + size_t(y) * lr.pitch,
                    texels.data() + size_t(y) * w, w * 4);
    t->unlockRect(0);
}

// A disc of texels with alpha 0xFF (some half-transparent) in a transparent square.
std::vector<uint32_t> discTexels(Rng& rng, uint32_t side) {
    std::vector<uint32_t> t(size_t(side) * side, 0);
    float c = float(side) * 0.5f, r2 = c * c;
    for (uint32_t y = 0; y < side; ++y)
        for (uint32_t x = 0; x < side; ++x) {
            float dx = float(x) + 0.5f - c, dy = float(y) + 0.5f - c;
            if (dx * dx + dy * dy > r2) continue;
            uint32_t v = rng.bits() | 0xFF000000u;
            if (rng(10) == 0) v &= 0x80FFFFFFu;
            t[size_t(y) * side + x] = v;
        }
    return t;
}

// The particle image: transparent but for a few texels, in clusters and strewn.
std::vector<uint32_t> sparseTexels(Rng& rng, uint32_t w, uint32_t h) {
    std::vector<uint32_t> t(size_t(w) * h, 0);
    int n = int(rng(uint32_t(t.size() / 20 + 1)));
    for (int i = 0; i < n; ++i)
        t[rng(uint32_t(t.size()))] = rng.bits() | (rng(6) == 0 ? 0u : 0xFF000000u);
    uint32_t cx = rng(w), cy = rng(h);
    for (uint32_t y = cy; y < std::min(h, cy + 20); ++y)
        for (uint32_t x = cx; x < std::min(w, cx + 40); ++x)
            t[size_t(y) * w + x] = rng.bits() | 0xFF000000u;
    return t;
}

std::vector<uint32_t> front(Device& d) { return d.frontBuffer(); }

TEST(GfxFastPaths, WholeFramesMatchThePlainDevice) {
    Rng master(777);
    for (int scene = 0; scene < 36; ++scene) {
        uint32_t seed = master.bits();
        // Screen-like sizes in some scenes, so draws take the large-layer paths, and
        // rows long enough that a layer row is scanned in several chunks.
        bool large = scene % 3 == 0, wide = scene % 3 == 1 && scene % 2 == 0;
        uint32_t w = (large ? 256 : wide ? 1100 : 40) + master(large ? 100 : wide ? 1000 : 140);
        uint32_t h = (large ? 256 : wide ? 20 : 30) + master(large ? 60 : 100);
        Format layerFormat = master(3) == 0 ? Format::A8R8G8B8 : Format::X8R8G8B8;
        uint32_t smallSide = 8 + master(40);
        std::vector<uint32_t> out[2][6];
        for (int k = 0; k < 2; ++k) {
            Rng rng(seed);
            FrameRig f(w, h, k == 0, scene % 2 == 1, layerFormat, smallSide);
            Device& d = *f.d;
            auto imageTexels = sparseTexels(rng, w, h);
            ASSERT_EQ(d.createTexture(w, h, 1, 0, Format::A8R8G8B8, Pool::Managed, &f.image), kOk);
            writeTexels(f.image, imageTexels, w, h);
            for (int frame = 0; frame < 3; ++frame) {
                // The back buffer, cleared once or twice, maybe in two colours.
                ASSERT_EQ(d.setRenderTarget(0, f.back), kOk);
                d.clear(kClearTarget, rng(3) == 0 ? rng.bits() : 0u, 1, 0);
                // The sprite layer: cleared (sometimes twice), then turned discs.
                ASSERT_EQ(d.setRenderTarget(0, f.layerSurface), kOk);
                uint32_t layerClear = rng(4) == 0 ? rng.bits() : 0u;
                if (rng(2)) d.clear(kClearTarget, rng.bits(), 1, 0);
                d.clear(kClearTarget, layerClear, 1, 0);
                int discs = int(rng(5));
                for (int s = 0; s < discs; ++s) {
                    uint32_t side = 4 + rng(110);
                    TexturePtr t;
                    ASSERT_EQ(
                        d.createTexture(side, side, 1, 0, Format::A8R8G8B8, Pool::Managed, &t),
                        kOk);
                    writeTexels(t, discTexels(rng, side), side, side);
                    float cx = float(rng(w + 40)) - 20.0f, cy = float(rng(h + 40)) - 20.0f;
                    auto v =
                        turnedQuad(cx, cy, float(side) / std::sqrt(2.0f), float(rng(628)) / 100.0f);
                    ASSERT_EQ(draw(d, t, v), kOk);
                }
                // The shrink onto the small target and its read-back.
                ASSERT_EQ(d.setRenderTarget(0, f.smallSurface), kOk);
                float sx = float(smallSide) / float(w), sy = float(smallSide) / float(h);
                ASSERT_EQ(
                    draw(d, f.layer, rectQuad(0, 0, float(w) * sx, float(h) * sy, 0xFFFFFFFFu)),
                    kOk);
                out[k][0] = readBack(d, f.smallSurface);
                // Composition: cleared again, the layer 1:1 (sometimes shifted, so it
                // wraps), then the particle image, sometimes twice, sometimes changed.
                ASSERT_EQ(d.setRenderTarget(0, f.back), kOk);
                d.clear(kClearTarget, rng(2) == 0 ? rng.bits() : 0u, 1, 0);
                // A quad one texel per pixel, shifted by whole pixels at times (it then
                // wraps, or leaves part of each row undrawn).
                auto oneToOne = [&](uint32_t colour) {
                    float ox = rng(3) == 0 ? float(int(rng(60)) - 30) : 0.0f;
                    auto q = rectQuad(ox, 0, ox + float(w), float(h), colour);
                    float du =
                        rng(3) == 0 ? 0.25f * float(1 + rng(3)) : 0.0f;  // exact: wraps mid-row
                    for (auto& v : q) v.u += du;
                    return q;
                };
                if (rng(5) != 0) {
                    ASSERT_EQ(draw(d, f.layer, oneToOne(0xFFFFFFFFu)), kOk);
                }
                uint32_t diffuse = rng(4) == 0 ? rng.bits() : 0xFFFFFFFFu;
                int imageDraws = 1 + int(rng(2));
                for (int i = 0; i < imageDraws; ++i)
                    ASSERT_EQ(draw(d, f.image, oneToOne(diffuse)), kOk);
                if (rng(2)) {
                    for (int i = 0; i < 30; ++i)
                        imageTexels[rng(uint32_t(imageTexels.size()))] ^= 0xFF000000u;
                    writeTexels(f.image, imageTexels, w, h);
                    ASSERT_EQ(draw(d, f.image, oneToOne(diffuse)), kOk);
                }
                ASSERT_EQ(d.present(), kOk);
                out[k][1 + frame] = front(d);
            }
            out[k][4] = readBack(d, f.layerSurface);
            out[k][5] = readBackBuffer(d);
        }
        for (int i = 0; i < 6; ++i) {
            ASSERT_EQ(out[0][i].size(), out[1][i].size());
            size_t first = 0;
            while (first < out[0][i].size() && out[0][i][first] == out[1][i][first]) ++first;
            ASSERT_EQ(first, out[0][i].size())
                << "scene " << scene << " picture " << i << " pixel " << first << " size " << w
                << "x" << h << std::hex << " quick " << out[0][i][first] << " plain "
                << out[1][i][first];
        }
    }
}

// A clear that is only recorded must read as the colour on every path that reads.
TEST(GfxClear, RecordedClearReadsAsTheColourEverywhere) {
    auto d = makeDevice(37, 23);
    setDefaultStates(*d);
    ASSERT_EQ(d->clear(kClearTarget, 0x00336699u, 1, 0), kOk);
    ASSERT_EQ(d->present(), kOk);
    for (uint32_t p : d->frontBuffer()) ASSERT_EQ(p, 0xFF336699u);
    SurfacePtr shot;
    ASSERT_EQ(d->createOffscreenPlainSurface(37, 23, Format::A8R8G8B8, Pool::SystemMem, &shot),
              kOk);
    ASSERT_EQ(d->getFrontBufferData(0, shot), kOk);
    // A small quad leaves the rest of the clear as it was, in the back buffer and on screen.
    auto tex = makeTexture(*d, 1, 1, {0xFF00FF00u});
    ASSERT_EQ(draw(*d, tex, rectQuad(30, 20, 32, 21, 0xFFFFFFFFu)), kOk);
    ASSERT_EQ(d->present(), kOk);
    auto px = readBackBuffer(*d);
    for (size_t i = 0; i < px.size(); ++i) {
        bool in = i == 20 * 37 + 30 || i == 20 * 37 + 31;
        ASSERT_EQ(px[i], in ? 0xFF00FF00u : 0xFF336699u) << i;
        ASSERT_EQ(d->frontBuffer()[i], px[i]) << i;
    }
    // A render-target texture cleared in A8R8G8B8 keeps the alpha it was cleared with.
    TexturePtr rtTex;
    SurfacePtr rt = useTargetTexture(*d, 20, 9, &rtTex, 0x40102030u);
    for (uint32_t p : readBack(*d, rt)) ASSERT_EQ(p, 0x40102030u);
}

}  // namespace
}  // namespace gx::gfx::test
