// Snapshot smoothing: hand-worked cases and a literal two-pass reference on images
// with different row pitches.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "pictures/smoothing.h"

namespace gx {
namespace {

// The filter as described, with float division truncated, on a packed image.
std::vector<uint32_t> reference(std::vector<uint32_t> img, int w, int rows) {
    auto avg = [&](int x, int y) {
        int r = 0, g = 0, b = 0, n = 0;
        for (int dy = -1; dy <= 1; ++dy)
            for (int dx = -1; dx <= 1; ++dx) {
                int xx = x + dx, yy = y + dy;
                if (xx < 0 || xx >= w || yy < 0 || yy >= rows) continue;
                uint32_t p = img[size_t(yy) * w + xx];
                r += (p >> 16) & 0xFF, g += (p >> 8) & 0xFF, b += p & 0xFF, ++n;
            }
        auto t = [&](int s) { return uint32_t(std::trunc(float(s) / float(n))); };
        img[size_t(y) * w + x] = 0xFF000000u | t(r) << 16 | t(g) << 8 | t(b);
    };
    for (int y = 0; y < rows; ++y)
        for (int x = 0; x < w; ++x) avg(x, y);
    for (int y = rows - 1; y >= 0; --y)
        for (int x = w - 1; x >= 0; --x) avg(x, y);
    return img;
}

std::vector<uint32_t> smoothPacked(const std::vector<uint32_t>& src, int w, int rows) {
    std::vector<uint32_t> dst(src.size(), 0xDEADBEEFu);
    smoothSnapshot(src.data(), w * 4, dst.data(), w * 4, w * 4, rows);
    return dst;
}

TEST(Smoothing, UniformAndSinglePixelImagesKeepTheirColourWithFullAlpha) {
    std::vector<uint32_t> uniform(7 * 5, 0x00336699u);
    for (uint32_t p : smoothPacked(uniform, 7, 5)) EXPECT_EQ(p, 0xFF336699u);
    EXPECT_EQ(smoothPacked({0x12ABCDEFu}, 1, 1), std::vector<uint32_t>{0xFFABCDEFu});
}

TEST(Smoothing, HandWorkedTwoPixelRow) {
    // Forward: (10+20)/2 = 15, then (15+20)/2 = 17; backward: (15+17)/2 = 16, (15+16)/2 = 15.
    EXPECT_EQ(smoothPacked({0x000A0000u, 0x00140000u}, 2, 1),
              (std::vector<uint32_t>{0xFF0F0000u, 0xFF100000u}));
}

TEST(Smoothing, CornersEdgesAndInsideAverageOverTheirNeighbours) {
    // Only the first pixel of the forward pass sees the original image alone: with a
    // single bright pixel just below-right of a pixel, the division by 4 (corner), 6
    // (edge) or 9 (inside) shows in the result as long as nothing else reaches it.
    // A 3 × 3 image with red 255 at the centre: the corner's first value is 63; the
    // reference confirms how the later steps carry it on.
    std::vector<uint32_t> img(9, 0);
    img[4] = 0x00FF0000u;
    EXPECT_EQ(smoothPacked(img, 3, 3), reference(img, 3, 3));
    // A white dot inside black: its upper-left neighbour picks up trunc(255 / 9) = 28
    // during the forward pass; on a wide image nothing comes back from the right in
    // the backward pass before that pixel except the smeared dot itself.
    std::vector<uint32_t> dot(9 * 9, 0);
    dot[4 * 9 + 4] = 0x00FFFFFFu;
    std::vector<uint32_t> out = smoothPacked(dot, 9, 9);
    EXPECT_EQ(out, reference(dot, 9, 9));
    EXPECT_NE(out[3 * 9 + 3] & 0xFF, 0u);
    // Nine red bytes summing to 17 truncate to 1.
    std::vector<uint32_t> tiny = {0x00010000u, 0x00020000u, 0x00030000u, 0x00010000u, 0x00020000u,
                                  0x00030000u, 0x00010000u, 0x00020000u, 0x00030000u};
    EXPECT_EQ(smoothPacked(tiny, 3, 3), reference(tiny, 3, 3));
}

TEST(Smoothing, HandWorkedCornersAndEdges) {
    auto red = [](std::vector<uint32_t> v) {
        for (auto& p : v) p = 0xFF000000u | p << 16;
        return v;
    };
    // 2 × 2: every pixel a corner of 4. Forward 25, 6, 7, 9; backward 11, 12, 13, 15.
    EXPECT_EQ(smoothPacked({100u << 16, 0, 0, 0}, 2, 2), red({15, 13, 12, 11}));
    // 3 × 2: the middle column on an edge of 6.
    // Forward 30, 25, 6 / 13, 12, 10; backward 13, 16, 21 / 15, 20, 21.
    EXPECT_EQ(smoothPacked({0, 120u << 16, 0, 0, 0, 0}, 3, 2), red({21, 20, 15, 21, 16, 13}));
}

TEST(Smoothing, MatchesTheReferenceOnRandomImages) {
    std::mt19937 rng(5);
    for (auto [w, h] : {std::pair{1, 7}, std::pair{7, 1}, std::pair{13, 9}, std::pair{64, 33}}) {
        std::vector<uint32_t> img(size_t(w) * h);
        for (auto& p : img) p = rng();
        EXPECT_EQ(smoothPacked(img, w, h), reference(img, w, h)) << w << "x" << h;
    }
}

TEST(Smoothing, SeparatePitchesAndTrailingBytes) {
    const int w = 5, rows = 4, srcPitch = 28, dstPitch = 40, rowBytes = w * 4 + 2;
    std::mt19937 rng(9);
    std::vector<uint8_t> src(size_t(srcPitch) * rows), dst(size_t(dstPitch) * rows, 0xAB);
    for (auto& b : src) b = uint8_t(rng());
    smoothSnapshot(src.data(), srcPitch, dst.data(), dstPitch, rowBytes, rows);

    std::vector<uint32_t> packed(size_t(w) * rows);
    for (int y = 0; y < rows; ++y)
        std::memcpy(&packed[size_t(y) * w], &src[size_t(y) * srcPitch], size_t(w) * 4);
    std::vector<uint32_t> want = reference(packed, w, rows);
    for (int y = 0; y < rows; ++y) {
        const uint8_t* line = &dst[size_t(y) * dstPitch];
        std::vector<uint32_t> got(w);
        std::memcpy(got.data(), line, size_t(w) * 4);
        EXPECT_EQ(got, std::vector<uint32_t>(want.begin() + y * w, want.begin() + (y + 1) * w))
            << y;
        // The two trailing bytes are copied, not filtered; the pitch's padding is untouched.
        EXPECT_EQ(line[w * 4], src[size_t(y) * srcPitch + w * 4]);
        EXPECT_EQ(line[w * 4 + 1], src[size_t(y) * srcPitch + w * 4 + 1]);
        for (int i = rowBytes; i < dstPitch; ++i) EXPECT_EQ(line[i], 0xAB);
    }
}

}  // namespace
}  // namespace gx
