// Drawing pre-transformed triangles into a surface: coverage, texturing, the stage-0
// colour and alpha operations, and blending.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/gfx/gfx.h"
#include "platform/gfx/resources.h"

namespace gx::gfx {

class DrawWorker;

struct PixelTarget {
    uint32_t* bits = nullptr;
    int width = 0, height = 0;
    bool opaqueAlpha = false;   // X8: alpha reads and is stored as 0xFF
    LazyFill* lazy = nullptr;   // set while the target is a pending clear
    bool streamWrites = false;  // too large to stay in the cache until it is read
};

struct PixelSource {
    const uint32_t* bits = nullptr;  // none: samples read opaque black
    int width = 0, height = 0;
    bool opaqueAlpha = false;
    const LazyFill* lazy = nullptr;  // set while the texture is a pending clear
};

struct DrawStates {
    bool blend = false;
    uint32_t srcBlend = kBlendOne, destBlend = kBlendZero;
    uint32_t colorOp = kTopModulate, colorArg1 = kTaTexture, colorArg2 = kTaCurrent;
    uint32_t alphaOp = kTopSelectArg1, alphaArg1 = kTaTexture, alphaArg2 = kTaCurrent;
    bool fastPaths = true;
    // Draws reaching at least this many rows times the target's width share their rows
    // with the worker; none without one.
    DrawWorker* worker = nullptr;
    size_t parallelPixels = 0;
};

// round(a * b / 255), exact for a, b in 0..255.
inline uint32_t mul255(uint32_t a, uint32_t b) {
    uint32_t x = a * b + 128;
    return (x + (x >> 8)) >> 8;
}

// Rounds half away from zero as llround does (NaN gives INT64_MIN as there), for
// |x| <= 2^62, without the library call: each piece of a tiled sprite starts its texel
// walk with four of them.
inline int64_t roundToInt64(double x) {
    if (!(x == x)) return INT64_MIN;
    int64_t r = int64_t(x);
    const double f = x - double(r);  // exact: below 2^52, x and r lie within one binade
    if (f >= 0.5) ++r;
    else if (f <= -0.5) --r;
    return r;
}

// The stage-0 result for one texel and diffuse colour.
uint32_t combinePixel(uint32_t texel, uint32_t diffuse, const DrawStates& st);
// The blender's result for a source and the target's current pixel.
uint32_t blendPixel(uint32_t src, uint32_t dst, const DrawStates& st, bool opaqueTarget);

// Draws one triangle (clockwise on screen; counter-clockwise ones are culled, as the
// default cull mode does).
void drawTriangle(const PixelTarget& target, const PixelSource& texture, const DrawStates& st,
                  const ScreenVertex* v);
// A triangle list of count triangles (3 * count vertices), drawn in order.
void drawTriangles(const PixelTarget& target, const PixelSource& texture, const DrawStates& st,
                   const ScreenVertex* v, size_t count);

// Texels at the given offsets of a texture the size of the target, each drawn onto the
// pixel at the same offset through the stage (with one diffuse colour) and the blend. Where
// every other texel leaves its pixel as it is, this is a whole-target quad of the texture,
// at a cost that follows the list. An offset listed twice is drawn twice.
void drawTexelList(const PixelTarget& target, const PixelSource& tex, const DrawStates& st,
                   uint32_t diffuse, const uint32_t* offsets, size_t count);

}  // namespace gx::gfx
