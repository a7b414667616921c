// Coverage, texel addressing and the fast drawing loops of the software device.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>

#include "gfx_test_util.h"
#include "platform/gfx/raster.h"

namespace gx::gfx::test {
namespace {

std::vector<uint32_t> uniqueTexels(uint32_t w, uint32_t h) {
    std::vector<uint32_t> t(size_t(w) * h);
    for (size_t i = 0; i < t.size(); ++i) t[i] = 0xFF000000u | uint32_t(i + 1);
    return t;
}

// A screen-sized layer drawn one texel per pixel, as the frame composition does it.
TEST(GfxMapping, ScreenSizedQuadMapsEveryTexelToItsPixel) {
    for (bool fast : {true, false}) {
        for (uint32_t w : {800u, 1366u, 1600u, 1920u, 3840u}) {
            const uint32_t h = 6;
            DeviceOptions o;
            o.fastPaths = fast;
            auto d = makeDevice(w, h, o);
            setDefaultStates(*d);
            auto texels = uniqueTexels(w, h);
            auto tex = makeTexture(*d, w, h, texels);
            ASSERT_EQ(draw(*d, tex, rectQuad(0, 0, float(w), float(h), 0xFFFFFFFFu)), kOk);
            auto px = readBackBuffer(*d);
            size_t wrong = 0;
            for (size_t i = 0; i < px.size(); ++i) wrong += px[i] != texels[i];
            EXPECT_EQ(wrong, 0u) << "width " << w << (fast ? " fast" : " plain");
        }
    }
}

// A picture quad centred at a half-pixel position starts at the first centre it covers.
TEST(GfxMapping, HalfPixelOffsetQuadShiftsByWholeTexels) {
    for (bool fast : {true, false}) {
        DeviceOptions o;
        o.fastPaths = fast;
        auto d = makeDevice(40, 30, o);
        setDefaultStates(*d);
        const uint32_t tw = 13, th = 9;
        auto texels = uniqueTexels(tw, th);
        auto tex = makeTexture(*d, tw, th, texels);
        float x0 = 20 - tw * 0.5f, y0 = 15 - th * 0.5f;  // 13.5, 10.5
        ASSERT_EQ(draw(*d, tex, rectQuad(x0, y0, x0 + tw, y0 + th, 0xFFFFFFFFu)), kOk);
        auto px = readBackBuffer(*d);
        for (int y = 0; y < 30; ++y)
            for (int x = 0; x < 40; ++x) {
                bool in = x >= 14 && x < 27 && y >= 11 && y < 20;
                uint32_t want = in ? texels[size_t(y - 11) * tw + (x - 14)] : 0xFF000000u;
                ASSERT_EQ(px[size_t(y) * 40 + x], want) << x << "," << y;
            }
    }
}

// Additive drawing of 1 per triangle counts how often each pixel is drawn.
struct CountingTarget {
    std::unique_ptr<Device> d;
    TexturePtr rtTex;
    SurfacePtr rt;
    int w, h;
    CountingTarget(int w_, int h_) : d(makeDevice(8, 8)), w(w_), h(h_) {
        rt = useTargetTexture(*d, w, h, &rtTex);
        d->setRenderState(RenderState::AlphaBlendEnable, 1);
        d->setRenderState(RenderState::SrcBlend, kBlendOne);
        d->setRenderState(RenderState::DestBlend, kBlendOne);
        d->setTextureStageState(0, StageState::ColorOp, kTopDisable);
        d->setFVF(kFvfScreenVertex);
    }
    void add(std::vector<ScreenVertex> v) {
        for (auto& x : v) x.colour = 0x01010101u;
        ASSERT_EQ(draw(*d, nullptr, v), kOk);
    }
    std::vector<int> counts() {
        auto px = readBack(*d, rt);
        std::vector<int> c(px.size());
        for (size_t i = 0; i < px.size(); ++i) c[i] = int(px[i] & 0xFF);
        return c;
    }
};

TEST(GfxCoverage, FractionalQuadCoversTheCentresItContainsOnce) {
    const float rects[][4] = {{2.3f, 1.7f, 17.2f, 9.5f},
                              {3.0f, 4.0f, 12.0f, 11.0f},
                              {-5.5f, -2.25f, 4.5f, 3.75f},
                              {10.01f, 0.99f, 10.99f, 2.01f},
                              {0.5f, 0.5f, 1.5f, 1.5f}};
    for (const auto& r : rects) {
        CountingTarget t(24, 16);
        t.add(rectQuad(r[0], r[1], r[2], r[3], 0));
        auto c = t.counts();
        for (int y = 0; y < t.h; ++y)
            for (int x = 0; x < t.w; ++x) {
                // Left and top edges are inside, right and bottom edges are not.
                bool in = x >= r[0] && x < r[2] && y >= r[1] && y < r[3];
                ASSERT_EQ(c[size_t(y) * t.w + x], in ? 1 : 0)
                    << x << "," << y << " rect " << r[0] << "," << r[1];
            }
    }
}

TEST(GfxCoverage, AdjacentQuadsAndTriangleFansShareEdgesExactlyOnce) {
    CountingTarget t(40, 40);
    // Two quads meeting at a fractional x, and a third below meeting at a whole y.
    t.add(rectQuad(1.5f, 1.25f, 10.5f, 9.0f, 0));
    t.add(rectQuad(10.5f, 1.25f, 21.75f, 9.0f, 0));
    t.add(rectQuad(1.5f, 9.0f, 21.75f, 14.0f, 0));
    // A fan of eleven triangles around an irrational centre.
    std::vector<ScreenVertex> fan;
    const float cx = 28.3f, cy = 27.7f, r = 9.9f;
    for (int i = 0; i < 11; ++i) {
        float a0 = 6.2831855f * i / 11, a1 = 6.2831855f * (i + 1) / 11;
        // With y pointing down, a growing angle turns clockwise on screen.
        fan.push_back({cx, cy, 0, 1, 0, 0, 0});
        fan.push_back({cx + r * std::cos(a0), cy + r * std::sin(a0), 0, 1, 0, 0, 0});
        fan.push_back({cx + r * std::cos(a1), cy + r * std::sin(a1), 0, 1, 0, 0, 0});
    }
    t.add(fan);
    auto c = t.counts();
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 40; ++x) {
            int n = c[size_t(y) * 40 + x];
            ASSERT_LE(n, 1) << x << "," << y;
            bool inRects = x >= 1.5f && x < 21.75f && y >= 1.25f && y < 14.0f;
            if (inRects) {
                ASSERT_EQ(n, 1) << x << "," << y;
            }
            double dx = x - cx, dy = y - cy;
            // Well inside the fan's polygon every centre is drawn.
            double dist = std::sqrt(dx * dx + dy * dy);
            if (dist < r * std::cos(3.14159265 / 11) - 1e-3) {
                ASSERT_EQ(n, 1) << x << "," << y;
            }
            if (!inRects && dist > r + 1e-3) {
                ASSERT_EQ(n, 0) << x << "," << y;
            }
        }
}

TEST(GfxCoverage, TurnedQuadCoversItsInteriorOnceAndSamplesByThePointRule) {
    for (bool fast : {true, false}) {
        DeviceOptions o;
        o.fastPaths = fast;
        auto d = makeDevice(80, 80, o);
        setDefaultStates(*d);
        const uint32_t tw = 37, th = 37;
        auto texels = uniqueTexels(tw, th);
        auto tex = makeTexture(*d, tw, th, texels);
        const float cx = 40.3f, cy = 39.6f, half = 26.0f, angle = 0.4f;
        auto v = turnedQuad(cx, cy, half, angle);
        ASSERT_EQ(draw(*d, tex, v), kOk);
        auto px = readBackBuffer(*d);
        // The square's corners c0 (u 0, v 0), c4 (1, 0), c1 (1, 1), c2 (0, 1).
        const ScreenVertex& c0 = v[0];
        const ScreenVertex& c4 = v[4];
        const ScreenVertex& c2 = v[2];
        double ex = c4.x - c0.x, ey = c4.y - c0.y, fx = c2.x - c0.x, fy = c2.y - c0.y;
        double det = ex * fy - ey * fx;
        int drawnCount = 0;
        for (int y = 0; y < 80; ++y)
            for (int x = 0; x < 80; ++x) {
                double rx = x - c0.x, ry = y - c0.y;
                double u = (rx * fy - ry * fx) / det,
                       w = (ex * ry - ey * rx) / det;  // u and v at the centre
                uint32_t got = px[size_t(y) * 80 + x];
                const double eps = 1e-6;
                bool inside = u > eps && u < 1 - eps && w > eps && w < 1 - eps;
                bool outside = u < -eps || u > 1 + eps || w < -eps || w > 1 + eps;
                if (outside) {
                    ASSERT_EQ(got, 0xFF000000u) << x << "," << y;
                }
                if (!inside) continue;
                ++drawnCount;
                double tu = u * tw, tv = w * th;
                // Texel boundaries within rounding of the centre may go either way.
                if (std::fabs(tu - std::round(tu)) < 1e-4 || std::fabs(tv - std::round(tv)) < 1e-4)
                    continue;
                uint32_t want = texels[size_t(std::floor(tv)) * tw + size_t(std::floor(tu))];
                ASSERT_EQ(got, want) << x << "," << y << (fast ? " fast" : " plain");
            }
        // The square's area is 2 * half^2 pixels.
        EXPECT_NEAR(drawnCount, 2.0 * half * half, 4 * half);
    }
}

// The 128 x 128 shrink of a 1600 x 1200 layer samples texel floor(u * w), floor(v * h)
// with u, v the exact interpolation at each pixel centre.
TEST(GfxMapping, ShrinkPicksThePointSampledTexels) {
    const uint32_t lw = 1600, lh = 1200;
    const float scaleX = 128.0f / float(lw), scaleY = 128.0f / float(lh);
    const float x1 = float(lw) * scaleX, y1 = float(lh) * scaleY;
    for (bool fast : {true, false}) {
        DeviceOptions o;
        o.fastPaths = fast;
        auto d = makeDevice(64, 64, o);
        setDefaultStates(*d);
        auto texels = uniqueTexels(lw, lh);
        TexturePtr layer = makeTexture(*d, lw, lh, texels, Format::X8R8G8B8);
        TexturePtr small;
        SurfacePtr rt = useTargetTexture(*d, 128, 128, &small);
        ASSERT_EQ(draw(*d, layer, rectQuad(0, 0, x1, y1, 0xFFFFFFFFu)), kOk);
        auto px = readBack(*d, rt);
        // u * w at centre c is c * w / x1; floor it exactly with integers (x1 = m * 2^e).
        auto texelOf = [](int c, uint32_t size, float edge) {
            int e;
            double m = std::frexp(double(edge), &e);
            int64_t mant = int64_t(std::ldexp(m, 53));
            e -= 53;  // edge = mant * 2^e
            __int128 num = __int128(c) * size, den = mant;
            if (e < 0) num <<= -e;
            else den <<= e;
            return int64_t(num / den);
        };
        for (int y = 0; y < 128; ++y)
            for (int x = 0; x < 128; ++x) {
                if (x >= x1 || y >= y1) continue;
                int64_t tx = texelOf(x, lw, x1) % lw, ty = texelOf(y, lh, y1) % lh;
                ASSERT_EQ(px[size_t(y) * 128 + x], texels[size_t(ty) * lw + tx]) << x << "," << y;
            }
    }
}

// The quick loops must give exactly the pixels of the plain one, whatever is drawn.
TEST(GfxFastPaths, MatchThePlainLoopOnRandomScenes) {
    std::mt19937 rng(12345);
    auto rnd = [&](uint32_t n) { return uint32_t(rng() % n); };
    for (int scene = 0; scene < 300; ++scene) {
        DeviceOptions fastOpt, plainOpt;
        plainOpt.fastPaths = false;
        const uint32_t W = 97, H = 61;
        auto a = makeDevice(W, H, fastOpt);
        auto b = makeDevice(W, H, plainOpt);
        uint32_t tw = 1 + rnd(120), th = 1 + rnd(70);
        std::vector<uint32_t> texels(size_t(tw) * th);
        int alphaStyle = rnd(4);
        for (auto& t : texels) {
            t = rng();
            if (alphaStyle == 0)
                t &= rnd(4) == 0 ? 0xFFFFFFFFu : 0x00FFFFFFu;  // mostly transparent
            if (alphaStyle == 1) t |= 0xFF000000u;
            if (alphaStyle == 3 && rnd(40) != 0) t &= 0x00FFFFFFu;  // the sparse particle image
        }
        Format fmt = rnd(4) == 0 ? Format::X8R8G8B8 : Format::A8R8G8B8;
        bool targetTexture = rnd(2) == 0;
        std::vector<ScreenVertex> verts;
        uint32_t colour = rnd(3) == 0 ? 0xFFFFFFFFu : rng();
        switch (rnd(4)) {
        case 0: {  // one texel per pixel, possibly off-screen and wrapping
            float x0 = float(int(rnd(160)) - 60) + (rnd(2) ? 0.5f : 0.0f),
                  y0 = float(int(rnd(100)) - 30);
            float sx = rnd(3) == 0 ? 2.0f : 1.0f;
            verts = rectQuad(x0, y0, x0 + tw * sx, y0 + th, colour);
            if (sx == 2.0f)
                for (auto& v : verts) v.u *= 2;  // wraps twice across
            break;
        }
        case 1: verts = rectQuad(-3.3f, 2.7f, 90.1f, 50.2f, colour); break;
        case 2: verts = turnedQuad(48.f, 30.f, 40.f, float(rnd(628)) / 100.f); break;
        default: {
            verts = rectQuad(5, 5, 70, 50, colour);
            for (auto& v : verts) v.colour = rng();  // shaded
        }
        }
        uint32_t clearColour = rng();
        uint32_t ops[] = {kTopModulate, kTopSelectArg1, kTopSelectArg2, kTopDisable};
        uint32_t args[] = {kTaTexture, kTaDiffuse, kTaCurrent};
        uint32_t blends[] = {kBlendSrcAlpha,     kBlendInvSrcAlpha, kBlendOne,     kBlendZero,
                             kBlendInvDestColor, kBlendDestAlpha,   kBlendSrcColor};
        bool standard = rnd(2) == 0;
        uint32_t states[9] = {rnd(2),      blends[rnd(7)], blends[rnd(7)],
                              ops[rnd(4)], args[rnd(3)],   args[rnd(3)],
                              ops[rnd(4)], args[rnd(3)],   args[rnd(3)]};
        bool withTexture = rnd(8) != 0;
        std::vector<uint32_t> out[2];
        int k = 0;
        for (Device* d : {a.get(), b.get()}) {
            TexturePtr rtTex;
            SurfacePtr rt;
            if (targetTexture) rt = useTargetTexture(*d, W, H, &rtTex, clearColour);
            else d->getBackBuffer(&rt), d->clear(kClearTarget, clearColour, 1, 0);
            setDefaultStates(*d);
            if (!standard) {
                d->setRenderState(RenderState::AlphaBlendEnable, states[0]);
                d->setRenderState(RenderState::SrcBlend, states[1]);
                d->setRenderState(RenderState::DestBlend, states[2]);
                d->setTextureStageState(0, StageState::ColorOp, states[3]);
                d->setTextureStageState(0, StageState::ColorArg1, states[4]);
                d->setTextureStageState(0, StageState::ColorArg2, states[5]);
                d->setTextureStageState(0, StageState::AlphaOp, states[6]);
                d->setTextureStageState(0, StageState::AlphaArg1, states[7]);
                d->setTextureStageState(0, StageState::AlphaArg2, states[8]);
            }
            TexturePtr tex = withTexture ? makeTexture(*d, tw, th, texels, fmt) : nullptr;
            ASSERT_EQ(draw(*d, tex, verts), kOk);
            out[k++] = readBack(*d, rt);
            rt.reset();
        }
        size_t firstDiff = 0;
        while (firstDiff < out[0].size() && out[0][firstDiff] == out[1][firstDiff]) ++firstDiff;
        ASSERT_EQ(firstDiff, out[0].size())
            << "scene " << scene << " pixel " << firstDiff % W << "," << firstDiff / W << std::hex
            << " fast " << out[0][firstDiff] << " plain " << out[1][firstDiff] << " states "
            << standard << " " << states[0] << " " << states[1] << " " << states[2] << " "
            << states[3] << " " << states[4] << " " << states[5] << " " << states[6] << " "
            << states[7] << " " << states[8] << " colour " << colour;
    }
}

TEST(GfxArithmetic, ModulateAndBlendRoundExactly) {
    for (uint32_t a = 0; a < 256; ++a)
        for (uint32_t b = 0; b < 256; ++b)
            ASSERT_EQ(mul255(a, b), uint32_t(std::lround(a * b / 255.0))) << a << " " << b;

    DrawStates st;
    st.blend = true;
    st.srcBlend = kBlendSrcAlpha;
    st.destBlend = kBlendInvSrcAlpha;
    // Half-transparent red over opaque blue: colour 128 / 127, alpha round((128*128 + 255*127) /
    // 255) = 191.
    EXPECT_EQ(blendPixel(0x80FF0000u, 0xFF0000FFu, st, false), 0xBF80007Fu);
    // Same over an X8 target: alpha stays 0xFF.
    EXPECT_EQ(blendPixel(0x80FF0000u, 0x000000FFu, st, true), 0xFF80007Fu);
    // Alpha 0 keeps the target, 255 replaces it.
    EXPECT_EQ(blendPixel(0x00123456u, 0x87654321u, st, false), 0x87654321u);
    EXPECT_EQ(blendPixel(0xFF123456u, 0x87654321u, st, false), 0xFF123456u);
    // One, inverse destination colour: s + d * (255 - d) / 255, clamped at 255.
    st.srcBlend = kBlendOne;
    st.destBlend = kBlendInvDestColor;
    EXPECT_EQ(blendPixel(0x10F03040u, 0x80800080u, st, false), 0x50FF3080u);

    DrawStates mod;
    mod.colorOp = kTopModulate;
    mod.colorArg1 = kTaTexture;
    mod.colorArg2 = kTaDiffuse;
    mod.alphaOp = kTopModulate;
    mod.alphaArg1 = kTaTexture;
    mod.alphaArg2 = kTaDiffuse;
    // 0x80 * 0x80 / 255 = 64.25 -> 64; 0xFF * 0x80 -> 128; 0x40 * 0x80 = 32.125 -> 32; 0x20
    // -> 16.06 -> 16.
    EXPECT_EQ(combinePixel(0x80FF4020u, 0x80808080u, mod), 0x40802010u);
    // Alpha disabled passes the diffuse alpha (the picture fade-in).
    mod.alphaOp = kTopDisable;
    EXPECT_EQ(combinePixel(0xFFFF4020u, 0x33808080u, mod), 0x33802010u);
    // Colour disabled gives the diffuse colour whole.
    mod.colorOp = kTopDisable;
    EXPECT_EQ(combinePixel(0xFFFF4020u, 0x12345678u, mod), 0x12345678u);
}

// Texel addresses start from this rounding; it must be llround's, halves included.
TEST(GfxArithmetic, RoundingMatchesTheLibrary) {
    const double limit = std::ldexp(1.0, 62);
    for (double x :
         {0.0, -0.0, 0.5, -0.5, 1.5, -1.5, 2.5, 0.49999999999999994, -0.49999999999999994,
          4503599627370495.5, -4503599627370495.5, 4503599627370497.0, limit, -limit})
        EXPECT_EQ(roundToInt64(x), std::llround(x)) << x;
    std::mt19937_64 rng(5);
    for (int i = 0; i < 1000000; ++i) {
        const uint64_t b = rng();
        // Quarter steps (many exact halves) and values spread over every binade.
        double x =
            i % 2 ? double(int64_t(b) >> 12) / 4.0
                  : std::ldexp(double(b >> 11), int(b & 63) - 50) * ((b >> 8) & 1 ? -1.0 : 1.0);
        x = std::clamp(x, -limit, limit);
        ASSERT_EQ(roundToInt64(x), std::llround(x)) << x;
    }
    EXPECT_EQ(roundToInt64(NAN), INT64_MIN);
}

TEST(GfxArithmetic, DrawnPixelsFollowTheStageAndBlend) {
    auto d = makeDevice(4, 4);
    TexturePtr rtTex;
    SurfacePtr rt = useTargetTexture(*d, 4, 4, &rtTex, 0xFF0000FFu);
    setDefaultStates(*d);
    auto tex = makeTexture(*d, 1, 1, {0xFFFF0000u});
    // The picture states: colour modulated, alpha from the diffuse colour.
    d->setTextureStageState(0, StageState::AlphaOp, kTopDisable);
    ASSERT_EQ(draw(*d, tex, rectQuad(0, 0, 2, 4, 0x80FFFFFFu)), kOk);
    // No texture reads opaque black.
    d->setTextureStageState(0, StageState::AlphaOp, kTopModulate);
    ASSERT_EQ(draw(*d, nullptr, rectQuad(2, 0, 3, 4, 0xFFFFFFFFu)), kOk);
    // An X8 texture reads alpha 0xFF whatever its memory holds.
    auto x8 = makeTexture(*d, 1, 1, {0x0000FF00u}, Format::X8R8G8B8);
    ASSERT_EQ(draw(*d, x8, rectQuad(3, 0, 4, 4, 0xFFFFFFFFu)), kOk);
    auto px = readBack(*d, rt);
    EXPECT_EQ(px[0], 0xBF80007Fu);
    EXPECT_EQ(px[2], 0xFF000000u);
    EXPECT_EQ(px[3], 0xFF00FF00u);
}

// A sparse layer drawn texel by texel from a list of its non-transparent texels gives the
// pixels of the whole-target quad of it, over targets partly drawn and partly a pending
// clear, in the quick loops and the plain one.
TEST(GfxTexelList, MatchesTheWholeTargetQuadOfASparseLayer) {
    std::mt19937 rng(777);
    auto rnd = [&](uint32_t n) { return uint32_t(rng() % n); };
    for (int scene = 0; scene < 120; ++scene) {
        const uint32_t W = rnd(2) ? 97 : 1300, H = 23;
        std::vector<uint32_t> texels(size_t(W) * H, 0), listed;
        for (uint32_t i = 0; i < texels.size(); ++i)
            if (rnd(25) == 0) {
                texels[i] = rng() | (rnd(3) ? 0xFF000000u : 0u);
                if (texels[i] >> 24) listed.push_back(i);
            }
        std::shuffle(listed.begin(), listed.end(), rng);
        const uint32_t clearColour = rnd(2) ? 0u : rng(), diffuse = rnd(2) ? 0xFFFFFFFFu : rng();
        const bool targetTexture = rnd(2) == 0, underlay = rnd(2) == 0, select = rnd(3) == 0;
        const std::vector<ScreenVertex> patch = turnedQuad(float(rnd(W)), 11.f, 9.f, 0.4f);
        std::vector<uint32_t> underTexels(size_t(W) * H);
        for (auto& t : underTexels) t = rng();
        for (bool fast : {true, false}) {
            std::vector<uint32_t> out[2];
            for (int how = 0; how < 2; ++how) {
                DeviceOptions o;
                o.fastPaths = fast;
                auto d = makeDevice(W, H, o);
                TexturePtr rtTex;
                SurfacePtr rt;
                if (targetTexture) rt = useTargetTexture(*d, W, H, &rtTex, clearColour);
                else d->getBackBuffer(&rt), d->clear(kClearTarget, clearColour, 1, 0);
                setDefaultStates(*d);
                // Some tiles drawn for real, the rest still a pending clear.
                if (underlay) {
                    ASSERT_EQ(draw(*d, makeTexture(*d, W, H, underTexels), patch), kOk);
                }
                if (select) {
                    d->setTextureStageState(0, StageState::ColorOp, kTopSelectArg1);
                    d->setTextureStageState(0, StageState::AlphaOp, kTopSelectArg1);
                }
                TexturePtr layer = makeTexture(*d, W, H, texels);
                if (how == 0) {
                    ASSERT_EQ(draw(*d, layer, rectQuad(0, 0, float(W), float(H), diffuse)), kOk);
                } else {
                    d->setTexture(0, layer);
                    ASSERT_EQ(d->beginScene(), kOk);
                    ASSERT_EQ(d->drawTexels(diffuse, listed.data(), listed.size()), kOk);
                    d->endScene();
                }
                out[how] = readBack(*d, rt);
            }
            size_t firstDiff = 0;
            while (firstDiff < out[0].size() && out[0][firstDiff] == out[1][firstDiff]) ++firstDiff;
            ASSERT_EQ(firstDiff, out[0].size())
                << "scene " << scene << (fast ? " fast" : " plain") << " pixel " << firstDiff
                << std::hex << " quad " << out[0][firstDiff] << " list " << out[1][firstDiff];
        }
    }
}

TEST(GfxTexelList, RefusesWhatAQuadCouldNotDraw) {
    auto d = makeDevice(40, 30);
    setDefaultStates(*d);
    const uint32_t inside[] = {0, 1199}, outside[] = {5, 1200};
    TexturePtr same = makeTexture(*d, 40, 30, std::vector<uint32_t>(1200, 0xFF00FF00u));
    TexturePtr smaller = makeTexture(*d, 39, 30, std::vector<uint32_t>(1170, 0xFF00FF00u));
    d->setTexture(0, same);
    EXPECT_EQ(d->drawTexels(0xFFFFFFFFu, inside, 2), kInvalidCall) << "outside a scene";
    ASSERT_EQ(d->beginScene(), kOk);
    EXPECT_EQ(d->drawTexels(0xFFFFFFFFu, outside, 2), kInvalidCall) << "past the last texel";
    EXPECT_EQ(d->drawTexels(0xFFFFFFFFu, nullptr, 2), kInvalidCall);
    d->setTexture(0, smaller);
    EXPECT_EQ(d->drawTexels(0xFFFFFFFFu, inside, 2), kInvalidCall) << "not the target's size";
    d->setTexture(0, nullptr);
    EXPECT_EQ(d->drawTexels(0xFFFFFFFFu, inside, 2), kInvalidCall) << "no texture";
    d->setTexture(0, same);
    LockedRect lr;
    ASSERT_EQ(same->lockRect(0, &lr, nullptr, 0), kOk);
    EXPECT_EQ(d->drawTexels(0xFFFFFFFFu, inside, 2), kInvalidCall) << "a locked texture";
    same->unlockRect(0);
    EXPECT_EQ(d->drawTexels(0xFFFFFFFFu, inside, 2), kOk);
    d->endScene();
    auto px = readBackBuffer(*d);
    EXPECT_EQ(px[0], 0xFF00FF00u);
    EXPECT_EQ(px[1199], 0xFF00FF00u);
    EXPECT_EQ(px[600], 0xFF000000u) << "only the listed texels";
}

}  // namespace
}  // namespace gx::gfx::test
