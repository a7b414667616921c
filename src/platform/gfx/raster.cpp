// Coverage: a pixel is drawn when its centre (integer coordinates) lies inside the
// triangle, or on an edge that is a top or left edge. Each edge is evaluated from its
// endpoints taken in one fixed order, whichever triangle it belongs to, so the two
// triangles sharing an edge get exactly opposite values and a pixel on it is drawn once.
//
// Texturing: u * width and v * height are planes a * x + (b * y + c) in double, stepped
// along a span in 32.32 fixed point. A quad drawn one texel per pixel gets a = 1, b = 0
// and a c with few fraction bits, so its texel addresses come out exact at any screen
// width.
//
// Three loops draw a span: the plain one (any states, the reference), one for a
// constant diffuse colour (the stage reduced to a per-channel multiply; where no texel
// wraps, texels are gathered a block at a time and drawn four at a time), and one for
// quads mapped one texel per pixel (four pixels at a time, transparent texels skipped
// sixteen at a time). Turned textures are drawn in small
// tiles, so that the texture lines fetched for one row serve the rows below. A target
// that is a pending clear is read as its colour, and so is a texture that is one. All
// of it gives the pixels of the plain loop on a plainly cleared target; tests compare.

#include "platform/gfx/raster.h"

#include <emmintrin.h>
#include <xmmintrin.h>

#include <algorithm>
#include <climits>
#include <cmath>

#include "platform/gfx/draw_worker.h"

namespace gx::gfx {

namespace {

constexpr uint32_t kAlpha = 0xFF000000u;
constexpr double kMaxCoordinate = 16777216.0;  // the guard band
constexpr double kMaxTexCoordinate = 268435456.0;

inline uint32_t channel(uint32_t c, int i) { return (c >> (8 * i)) & 0xFFu; }

inline uint32_t argValue(uint32_t arg, uint32_t texel, uint32_t diffuse) {
    return arg == kTaTexture ? texel : diffuse;
}

inline uint32_t applyOp(uint32_t op, uint32_t a1, uint32_t a2, int ch) {
    switch (op) {
    case kTopModulate: return mul255(channel(a1, ch), channel(a2, ch));
    case kTopSelectArg1: return channel(a1, ch);
    case kTopSelectArg2: return channel(a2, ch);
    default: return 0;
    }
}

inline uint32_t blendFactor(uint32_t f, int ch, uint32_t s, uint32_t d) {
    switch (f) {
    case kBlendZero: return 0;
    case kBlendOne: return 255;
    case kBlendSrcColor: return channel(s, ch);
    case kBlendInvSrcColor: return 255 - channel(s, ch);
    case kBlendSrcAlpha: return s >> 24;
    case kBlendInvSrcAlpha: return 255 - (s >> 24);
    case kBlendDestAlpha: return d >> 24;
    case kBlendInvDestAlpha: return 255 - (d >> 24);
    case kBlendDestColor: return channel(d, ch);
    case kBlendInvDestColor: return 255 - channel(d, ch);
    default: return 0;
    }
}

// round(x / 255) for x in 0..65025.
inline uint32_t div255(uint32_t x) {
    x += 128;
    return (x + (x >> 8)) >> 8;
}

inline uint32_t alphaBlend(uint32_t s, uint32_t d) {
    uint32_t a = s >> 24, ia = 255 - a, out = 0;
    for (int ch = 0; ch < 4; ++ch)
        out |= div255(channel(s, ch) * a + channel(d, ch) * ia) << (8 * ch);
    return out;
}

struct Point {
    double x, y;
};

struct Edge {
    double px, py, dx, dy;  // from the endpoint that comes first in (y, x) order
    bool neg;               // the triangle runs the edge the other way
    bool tieIn;             // top or left edge: centres on it are inside
    double k = 0;

    void setRow(double y) { k = dx * (y - py); }
    bool inside(int x) const {
        double f = k - dy * (double(x) - px);
        if (neg) f = -f;
        return f > 0 || (f == 0 && tieIn);
    }
};

Edge makeEdge(Point a, Point b) {
    bool swap = b.y < a.y || (b.y == a.y && b.x < a.x);
    Point p = swap ? b : a, q = swap ? a : b;
    Edge e;
    e.px = p.x;
    e.py = p.y;
    e.dx = q.x - p.x;
    e.dy = q.y - p.y;
    e.neg = swap;
    double ady = b.y - a.y, adx = b.x - a.x;
    e.tieIn = ady < 0 || (ady == 0 && adx > 0);
    return e;
}

inline int clampToInt(double v, int lo, int hi) {
    if (!(v >= lo)) return lo;
    if (!(v <= hi)) return hi;
    return int(v);
}

// Inside for x >= the result (edge value rising with x); lo..hi.
int firstInside(const Edge& e, int lo, int hi) {
    int x = clampToInt(std::ceil(e.px + e.k / e.dy), lo, hi);
    while (x > lo && e.inside(x - 1)) --x;
    while (x < hi && !e.inside(x)) ++x;
    return x;
}

// Inside for x < the result (edge value falling with x); lo..hi.
int firstOutside(const Edge& e, int lo, int hi) {
    int x = clampToInt(std::floor(e.px + e.k / e.dy) + 1, lo, hi);
    while (x < hi && e.inside(x)) ++x;
    while (x > lo && !e.inside(x - 1)) --x;
    return x;
}

struct Plane {
    double a = 0, b = 0, c = 0;
    double row(double y) const { return b * y + c; }
    double at(int x, double row) const { return a * double(x) + row; }
};

Plane makePlane(const Point* v, double det, double a0, double a1, double a2) {
    double x10 = v[1].x - v[0].x, y10 = v[1].y - v[0].y;
    double x20 = v[2].x - v[0].x, y20 = v[2].y - v[0].y;
    double d1 = a1 - a0, d2 = a2 - a0;
    Plane p;
    p.a = (d1 * y20 - d2 * y10) / det;
    p.b = (d2 * x10 - d1 * x20) / det;
    p.c = a0 - p.a * v[0].x - p.b * v[0].y;
    return p;
}

enum class BlendKind { Replace, AlphaBlend, Generic };

BlendKind blendKind(const DrawStates& st) {
    if (!st.blend || (st.srcBlend == kBlendOne && st.destBlend == kBlendZero))
        return BlendKind::Replace;
    if (st.srcBlend == kBlendSrcAlpha && st.destBlend == kBlendInvSrcAlpha)
        return BlendKind::AlphaBlend;
    return BlendKind::Generic;
}

// With one diffuse colour for the whole triangle, every channel of the stage result
// is mul255(texel channel, k) once `pre` has forced the channels that do not depend
// on the texel to 0xFF (their k then holds the constant).
struct Reduced {
    uint32_t pre = 0;
    uint32_t k = 0;
    bool identity = false;
    bool linear = true;  // false: a channel squares the texel
};

Reduced reduceStage(const DrawStates& st, uint32_t d, bool opaqueTexels) {
    Reduced r;
    for (int ch = 0; ch < 4; ++ch) {
        uint32_t dc = channel(d, ch);
        bool isConst = false;
        uint32_t value = 255;
        uint32_t op = ch < 3 ? st.colorOp : st.alphaOp;
        uint32_t a1 = ch < 3 ? st.colorArg1 : st.alphaArg1;
        uint32_t a2 = ch < 3 ? st.colorArg2 : st.alphaArg2;
        if (st.colorOp == kTopDisable || (ch == 3 && st.alphaOp == kTopDisable)) {
            isConst = true;
            value = dc;
        } else if (op == kTopModulate) {
            bool t1 = a1 == kTaTexture, t2 = a2 == kTaTexture;
            if (t1 && t2) r.linear = false;
            else if (t1 || t2) value = dc;
            else isConst = true, value = mul255(dc, dc);
        } else {
            uint32_t a = op == kTopSelectArg1 ? a1 : a2;
            if (a != kTaTexture) isConst = true, value = dc;
        }
        if (isConst) r.pre |= 0xFFu << (8 * ch);
        r.k |= value << (8 * ch);
    }
    if (opaqueTexels) r.pre |= kAlpha;
    r.identity = r.k == 0xFFFFFFFFu;
    return r;
}

inline uint32_t applyReduced(uint32_t t, const Reduced& r) {
    t |= r.pre;
    if (r.identity) return t;
    uint32_t out = 0;
    for (int ch = 0; ch < 4; ++ch) out |= mul255(channel(t, ch), channel(r.k, ch)) << (8 * ch);
    return out;
}

// --- four pixels at a time ---------------------------------------------------------

struct Simd {
    __m128i pre, k16, orMask, alpha, zero, c128, c255, c257;
    bool identity;
};

Simd makeSimd(const Reduced& r, uint32_t orMask) {
    Simd s;
    s.pre = _mm_set1_epi32(int(r.pre));
    s.k16 = _mm_setr_epi16(short(channel(r.k, 0)), short(channel(r.k, 1)), short(channel(r.k, 2)),
                           short(channel(r.k, 3)), short(channel(r.k, 0)), short(channel(r.k, 1)),
                           short(channel(r.k, 2)), short(channel(r.k, 3)));
    s.orMask = _mm_set1_epi32(int(orMask));
    s.alpha = _mm_set1_epi32(int(kAlpha));
    s.zero = _mm_setzero_si128();
    s.c128 = _mm_set1_epi16(128);
    s.c255 = _mm_set1_epi16(255);
    s.c257 = _mm_set1_epi16(257);
    s.identity = r.identity;
    return s;
}

// (y + (y >> 8)) >> 8 with y = x + 128 is (y * 257) >> 16.
inline __m128i div255x8(__m128i x, const Simd& s) {
    return _mm_mulhi_epu16(_mm_add_epi16(x, s.c128), s.c257);
}

inline __m128i source4(__m128i t, const Simd& s) {
    t = _mm_or_si128(t, s.pre);
    if (s.identity) return t;
    __m128i lo = div255x8(_mm_mullo_epi16(_mm_unpacklo_epi8(t, s.zero), s.k16), s);
    __m128i hi = div255x8(_mm_mullo_epi16(_mm_unpackhi_epi8(t, s.zero), s.k16), s);
    return _mm_packus_epi16(lo, hi);
}

inline __m128i blendHalf(__m128i s16, __m128i d16, const Simd& s) {
    __m128i a = _mm_shufflehi_epi16(_mm_shufflelo_epi16(s16, 0xFF), 0xFF);
    __m128i ia = _mm_sub_epi16(s.c255, a);
    return div255x8(_mm_add_epi16(_mm_mullo_epi16(s16, a), _mm_mullo_epi16(d16, ia)), s);
}

inline __m128i alphaBlend4(__m128i src, __m128i dst, const Simd& s) {
    __m128i lo = blendHalf(_mm_unpacklo_epi8(src, s.zero), _mm_unpacklo_epi8(dst, s.zero), s);
    __m128i hi = blendHalf(_mm_unpackhi_epi8(src, s.zero), _mm_unpackhi_epi8(dst, s.zero), s);
    return _mm_packus_epi16(lo, hi);
}

// Four stage results src over d; clear and opaque mark the lanes of alpha 0 and 255.
inline void blendGroupSrc(uint32_t* d, __m128i src, int clear, int opaque, const Simd& s) {
    if (clear == 0xF) return;
    if ((clear | opaque) == 0xF) {
        // Nothing to mix: store the opaque pixels without reading the target, whose
        // lines are mostly not in the cache when the layer is sparse.
        __m128i out = _mm_or_si128(src, s.orMask);
        if (opaque == 0xF) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(d), out);
            return;
        }
        alignas(16) uint32_t px[4];
        _mm_store_si128(reinterpret_cast<__m128i*>(px), out);
        for (int k = 0; k < 4; ++k)
            if (opaque & (1 << k)) d[k] = px[k];
        return;
    }
    __m128i dst = _mm_or_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(d)), s.orMask);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d),
                     _mm_or_si128(alphaBlend4(src, dst, s), s.orMask));
}

inline void blendGroup(uint32_t* d, __m128i t, const Simd& s) {
    __m128i src = source4(t, s);
    __m128i a = _mm_and_si128(src, s.alpha);
    int clear = _mm_movemask_ps(_mm_castsi128_ps(_mm_cmpeq_epi32(a, s.zero)));
    int opaque = _mm_movemask_ps(_mm_castsi128_ps(_mm_cmpeq_epi32(a, s.alpha)));
    blendGroupSrc(d, src, clear, opaque, s);
}

inline int alphaMask(__m128i a, __m128i v) {
    return _mm_movemask_ps(_mm_castsi128_ps(_mm_cmpeq_epi32(a, v)));
}

// Sixteen pixels of a layer whose alphas are mostly 0 or 255: one test for the usual
// case, then only the opaque pixels are stored, without reading the target.
inline void blendSixteen(uint32_t* d, const uint32_t* texels, const __m128i* t, const Simd& s,
                         const Reduced& r, uint32_t orMask) {
    __m128i src[4];
    int clear = 0, opaque = 0;
    for (int g = 0; g < 4; ++g) {
        src[g] = source4(t[g], s);
        __m128i a = _mm_and_si128(src[g], s.alpha);
        clear |= alphaMask(a, s.zero) << (4 * g);
        opaque |= alphaMask(a, s.alpha) << (4 * g);
    }
    if ((clear | opaque) != 0xFFFF) {
        for (int g = 0; g < 4; ++g)
            blendGroupSrc(d + 4 * g, src[g], (clear >> (4 * g)) & 0xF, (opaque >> (4 * g)) & 0xF,
                          s);
        return;
    }
    if (opaque == 0xFFFF) {
        for (int g = 0; g < 4; ++g)
            _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 4 * g), _mm_or_si128(src[g], s.orMask));
        return;
    }
    // Recomputed from the texel (still in the nearest cache): reading a lane back from
    // a vector just spilled stalls.
    for (unsigned m = unsigned(opaque); m; m &= m - 1) {
        int k = __builtin_ctz(m);
        d[k] = applyReduced(texels[k], r) | orMask;
    }
}

// Texels [i, n) of a blended run: four at a time, then one by one.
void blendRest(uint32_t* d, const uint32_t* t, int i, int n, const Simd& s, const Reduced& r,
               uint32_t orMask) {
    for (; i + 4 <= n; i += 4)
        blendGroup(d + i, _mm_loadu_si128(reinterpret_cast<const __m128i*>(t + i)), s);
    for (; i < n; ++i) {
        uint32_t src = applyReduced(t[i], r);
        uint32_t a = src >> 24;
        if (a == 0) continue;
        d[i] = (a == 255 ? src : alphaBlend(src, d[i] | orMask)) | orMask;
    }
}

// A run of a mostly transparent layer drawn over real target pixels, a chunk at a
// time: each chunk is scanned for the sixteen-texel groups that can change the target
// and their target lines are asked for; the chunk is drawn only after the next one has
// been scanned, so its stores rarely wait for memory.
class SparseRun {
public:
    SparseRun() = default;
    SparseRun(uint32_t* d, const uint32_t* t, int n, const Simd* s, const Reduced* r,
              uint32_t orMask)
        : d_(d), t_(t), s_(s), r_(r), n_(n), orMask_(orMask) {}

    // Scans the next chunk and draws the one before; false once the whole run is drawn.
    bool step() {
        if (i_ + 16 > n_) {
            finish();
            return false;
        }
        const Simd& s = *s_;
        const int base = i_, end = i_ + std::min(kChunk, (n_ - i_) & ~15);
        uint64_t groups = 0;
        for (int g = 0; i_ < end; i_ += 16, ++g) {
            const uint32_t* t = t_ + i_;
            _mm_prefetch(reinterpret_cast<const char*>(t + 2048), _MM_HINT_T0);
            __m128i any = _mm_and_si128(
                _mm_or_si128(
                    _mm_or_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(t)),
                                 _mm_loadu_si128(reinterpret_cast<const __m128i*>(t + 4))),
                    _mm_or_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(t + 8)),
                                 _mm_loadu_si128(reinterpret_cast<const __m128i*>(t + 12)))),
                s.alpha);
            bool empty = _mm_movemask_epi8(_mm_cmpeq_epi32(any, s.zero)) == 0xFFFF;
            groups |= uint64_t(!empty) << g;
            // Without a branch: an empty group asks again for the layer line just read.
            __builtin_prefetch(
                empty ? static_cast<const void*>(t) : static_cast<const void*>(d_ + i_), 1, 3);
        }
        drawPending();
        pendingBase_ = base;
        pending_ = groups;
        return true;
    }

private:
    static constexpr int kChunk = 64 * 16;

    void drawPending() {
        for (; pending_; pending_ &= pending_ - 1) {
            int k = pendingBase_ + 16 * __builtin_ctzll(pending_);
            __m128i tv[4];
            for (int g = 0; g < 4; ++g)
                tv[g] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(t_ + k + 4 * g));
            blendSixteen(d_ + k, t_ + k, tv, *s_, *r_, orMask_);
        }
    }

    void finish() {
        drawPending();
        blendRest(d_, t_, i_, n_, *s_, *r_, orMask_);
        i_ = n_;
    }

    uint32_t* d_ = nullptr;
    const uint32_t* t_ = nullptr;
    const Simd* s_ = nullptr;
    const Reduced* r_ = nullptr;
    int n_ = 0, i_ = 0, pendingBase_ = 0;
    uint32_t orMask_ = 0;
    uint64_t pending_ = 0;
};

void alignedBlendRun(uint32_t* d, const uint32_t* t, int n, const Simd& s, const Reduced& r,
                     uint32_t orMask, bool skipByTexelAlpha) {
    if (skipByTexelAlpha) {
        SparseRun run(d, t, n, &s, &r, orMask);
        while (run.step()) {}
        return;
    }
    blendRest(d, t, 0, n, s, r, orMask);
}

void alignedReplaceRun(uint32_t* d, const uint32_t* t, int n, const Simd& s, const Reduced& r,
                       uint32_t orMask) {
    int i = 0;
    for (; i + 4 <= n; i += 4) {
        __m128i src = source4(_mm_loadu_si128(reinterpret_cast<const __m128i*>(t + i)), s);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d + i), _mm_or_si128(src, s.orMask));
    }
    for (; i < n; ++i) d[i] = applyReduced(t[i], r) | orMask;
}

// --- the triangle ------------------------------------------------------------------

struct Setup {
    const PixelTarget* target;
    const PixelSource* tex;
    const DrawStates* st;
    Plane pu, pv, pc[4];
    bool constDiffuse;
    uint32_t diffuse;
    BlendKind kind;
    Reduced red;
    uint32_t orMask;
    uint32_t texOr;
};

inline int64_t toFixed(double v) {
    return roundToInt64(std::clamp(v, -1073741824.0, 1073741824.0) * 4294967296.0);
}

inline int wrapInt(int i, int n) {
    if (unsigned(i) >= unsigned(n)) {
        i %= n;
        if (i < 0) i += n;
    }
    return i;
}

// Texel addresses along a span in 32.32 fixed point, started from the planes at the
// span's first pixel. Whole steps and whole starts (the one-to-one quads) stay exact.
// The steps wrap modulo 2^64 rather than overflow; only the whole part is ever used.
inline int64_t stepFixed(int64_t a, int64_t b, int64_t n = 1) {
    return int64_t(uint64_t(a) + uint64_t(b) * uint64_t(n));
}

struct Sampler {
    const uint32_t* bits;
    const LazyFill* lazy;
    int width, height;
    uint32_t texOr;
    int64_t u, v, du, dv;

    Sampler(const Setup& S, int y, int xs) {
        const PixelSource& t = *S.tex;
        bits = t.bits;
        lazy = t.lazy;
        width = t.width;
        height = t.height;
        texOr = S.texOr;
        double fy = y;
        u = toFixed(S.pu.at(xs, S.pu.row(fy)));
        v = toFixed(S.pv.at(xs, S.pv.row(fy)));
        du = toFixed(S.pu.a);
        dv = toFixed(S.pv.a);
    }
    // Moves on by n pixels, exactly as n calls of next() would.
    void skip(int n) {
        u = stepFixed(u, du, n);
        v = stepFixed(v, dv, n);
    }
    // The texel of the current pixel; moves on to the next.
    uint32_t next() {
        if (!bits) return kAlpha;
        int tx = wrapInt(int(u >> 32), width), ty = wrapInt(int(v >> 32), height);
        u = stepFixed(u, du);
        v = stepFixed(v, dv);
        if (lazy && !lazy->isReal(ty, tx)) return lazy->colour | texOr;
        return bits[size_t(ty) * width + tx] | texOr;
    }
    // True when the next n texels all lie inside the texture without wrapping, so
    // they can be addressed without the wrap.
    bool staysInside(int n) const {
        if (!bits || lazy || n <= 0) return false;
        constexpr int64_t kStepLimit = int64_t(1) << 44;
        if (du > kStepLimit || du < -kStepLimit || dv > kStepLimit || dv < -kStepLimit)
            return false;
        constexpr int64_t kPosLimit = int64_t(1) << 60;
        if (u > kPosLimit || u < -kPosLimit || v > kPosLimit || v < -kPosLimit) return false;
        int64_t ue = u + du * (n - 1), ve = v + dv * (n - 1);
        auto inside = [](int64_t a, int size) { return a >= 0 && (a >> 32) < size; };
        return inside(u, width) && inside(ue, width) && inside(v, height) && inside(ve, height);
    }
};

void referenceSpan(const Setup& S, uint32_t* row, int y, int xs, int xa, int xe) {
    double fy = y;
    Sampler sampler(S, y, xs);
    sampler.skip(xa - xs);
    double rowC[4];
    for (int ch = 0; ch < 4; ++ch) rowC[ch] = S.pc[ch].row(fy);
    bool opaque = S.target->opaqueAlpha;
    for (int x = xa; x < xe; ++x) {
        uint32_t diffuse = S.diffuse;
        if (!S.constDiffuse) {
            diffuse = 0;
            for (int ch = 0; ch < 4; ++ch) {
                double c = S.pc[ch].at(x, rowC[ch]) + 0.5;
                diffuse |= uint32_t(std::clamp(c, 0.0, 255.0)) << (8 * ch);
            }
        }
        uint32_t src = combinePixel(sampler.next(), diffuse, *S.st);
        row[x] = blendPixel(src, row[x], *S.st, opaque);
    }
}

// The turned sprites: texels without a wrap, gathered a block at a time and then
// drawn four at a time like a layer. The texture was just written through a lock and
// is rarely in the cache; the walk across its rows defeats the hardware's prefetch, so
// the texels a few rows below are asked for ahead (prefetches never fault, wherever
// they point), and so are the target lines.
template <bool Ahead>
void affineInsideRun(Sampler& sm, const Setup& S, const Simd& simd, uint32_t* d, int n,
                     int64_t aheadU, int64_t aheadV, ptrdiff_t aheadRow) {
    const uint32_t* bits = sm.bits;
    const int64_t w = sm.width;
    const uintptr_t base = reinterpret_cast<uintptr_t>(bits);
    int64_t u = sm.u, v = sm.v;
    const int64_t du = sm.du, dv = sm.dv;
    int64_t pu = stepFixed(u, aheadU), pv = stepFixed(v, aheadV);
    constexpr int kBlock = 64;
    alignas(16) uint32_t texels[kBlock];
    for (int i0 = 0; i0 < n; i0 += kBlock) {
        int m = std::min(kBlock, n - i0);
        if constexpr (Ahead)
            for (int i = 0; i < m; i += 16)
                __builtin_prefetch(
                    reinterpret_cast<const void*>(reinterpret_cast<uintptr_t>(d + i0 + i) +
                                                  uintptr_t(aheadRow * 4)),
                    1);
        for (int i = 0; i < m; ++i) {
            if constexpr (Ahead) {
                __builtin_prefetch(reinterpret_cast<const void*>(
                    base + uintptr_t(((pv >> 32) * w + (pu >> 32)) * 4)));
                pu = stepFixed(pu, du);
                pv = stepFixed(pv, dv);
            }
            texels[i] = bits[(v >> 32) * w + (u >> 32)];
            u += du;
            v += dv;
        }
        if (S.kind == BlendKind::Replace)
            alignedReplaceRun(d + i0, texels, m, simd, S.red, S.orMask);
        else alignedBlendRun(d + i0, texels, m, simd, S.red, S.orMask, !(S.red.pre & kAlpha));
    }
    sm.u = u;
    sm.v = v;
}

template <BlendKind K>
void affineSpan(const Setup& S, const Simd& simd, uint32_t* row, int y, int xs, int xa, int xe) {
    Sampler sampler(S, y, xs);
    sampler.skip(xa - xs);
    uint32_t orMask = S.orMask;
    if constexpr (K != BlendKind::Generic) {
        if (sampler.staysInside(xe - xa)) {
            constexpr int kRowsAhead = 4;
            int64_t au = toFixed(S.pu.b * kRowsAhead), av = toFixed(S.pv.b * kRowsAhead);
            ptrdiff_t ad = ptrdiff_t(S.target->width) * kRowsAhead;
            // Only a walk across the texture's rows needs the help (not the shrink).
            if (std::fabs(S.pv.a) >= 0.125)
                affineInsideRun<true>(sampler, S, simd, row + xa, xe - xa, au, av, ad);
            else affineInsideRun<false>(sampler, S, simd, row + xa, xe - xa, au, av, ad);
            return;
        }
    }
    for (int x = xa; x < xe; ++x) {
        uint32_t src = applyReduced(sampler.next(), S.red);
        if constexpr (K == BlendKind::Replace) {
            row[x] = src | orMask;
        } else if constexpr (K == BlendKind::AlphaBlend) {
            uint32_t a = src >> 24;
            if (a == 0) continue;
            row[x] = (a == 255 ? src : alphaBlend(src, row[x] | orMask)) | orMask;
        } else {
            row[x] = blendPixel(src, row[x], *S.st, S.target->opaqueAlpha);
        }
    }
}

// Fills tiles [k0, k1] of row y with the clear colour and marks them real.
void fillTiles(const PixelTarget& t, int y, int k0, int k1) {
    LazyFill& z = *t.lazy;
    uint32_t* row = t.bits + size_t(y) * t.width;
    std::fill(row + (k0 << z.tileShift), row + z.tileEnd(k1), z.colour);
    z.rows[size_t(y)] |= z.tilesOf(k0 << z.tileShift, z.tileEnd(k1));
}

// Makes pixels [a, b) of row y real memory before they are drawn on.
void touch(const PixelTarget& t, int y, int a, int b) {
    if (!t.lazy || a >= b) return;
    const LazyFill& z = *t.lazy;
    z.forRuns(y, a, b, [&](int ra, int rb, bool real) {
        if (!real) fillTiles(t, y, ra >> z.tileShift, (rb - 1) >> z.tileShift);
    });
}

// The stage and blend applied to one constant source pixel over d[0..n).
void constantOver(uint32_t* d, int n, uint32_t src, BlendKind kind, uint32_t orMask) {
    uint32_t a = src >> 24;
    if (kind == BlendKind::Replace || a == 255) {
        std::fill(d, d + n, src | orMask);
        return;
    }
    if (a == 0) return;
    for (int i = 0; i < n; ++i) d[i] = alphaBlend(src, d[i] | orMask) | orMask;
}

// Pixels [x, x + n) of row y drawn from a stretch of a pending clear: one source value.
// Where the target is itself a pending clear that the value would leave as it is,
// nothing needs doing.
void constantRun(const Setup& S, int y, int x, int n, uint32_t texel) {
    const PixelTarget& t = *S.target;
    uint32_t src = applyReduced(texel | S.texOr, S.red);
    if (S.kind == BlendKind::AlphaBlend && (src >> 24) == 0) return;
    uint32_t* row = t.bits + size_t(y) * t.width;
    if (t.lazy) {
        uint32_t c = t.lazy->colour;
        uint32_t result = c;
        constantOver(&result, 1, src, S.kind, S.orMask);
        if (result == c) {
            t.lazy->forRuns(y, x, x + n, [&](int a, int b, bool real) {
                if (real) constantOver(row + a, b - a, src, S.kind, S.orMask);
            });
            return;
        }
        touch(t, y, x, x + n);
    }
    constantOver(row + x, n, src, S.kind, S.orMask);
}

// A layer blended over pixels that all hold the clear colour c: nothing to read from
// the target, and every pixel written, so on a target too large for the cache the
// lines are streamed out whole without being fetched first.
template <bool Stream>
inline void put4(uint32_t* d, __m128i v) {
    if constexpr (Stream) _mm_stream_si128(reinterpret_cast<__m128i*>(d), v);
    else _mm_store_si128(reinterpret_cast<__m128i*>(d), v);
}

template <bool Stream>
void blendOverConstantRun(uint32_t* d, const uint32_t* t, int n, const Simd& s, const Reduced& r,
                          uint32_t orMask, uint32_t c) {
    const uint32_t cc = c | orMask;
    auto one = [&](uint32_t texel) {
        uint32_t src = applyReduced(texel, r);
        uint32_t a = src >> 24;
        return a == 0 ? cc : (a == 255 ? src : alphaBlend(src, cc)) | orMask;
    };
    int i = 0;
    for (; i < n && (reinterpret_cast<uintptr_t>(d + i) & 15); ++i) d[i] = one(t[i]);
    const __m128i cv = _mm_set1_epi32(int(cc));
    const bool skip = !(r.pre & kAlpha);
    auto put = [&](int k, __m128i tv) {
        __m128i src = source4(tv, s);
        __m128i a = _mm_and_si128(src, s.alpha);
        __m128i clear = _mm_cmpeq_epi32(a, s.zero), opaque = _mm_cmpeq_epi32(a, s.alpha);
        __m128i out;
        if (_mm_movemask_epi8(_mm_or_si128(clear, opaque)) == 0xFFFF)
            out = _mm_or_si128(_mm_or_si128(_mm_and_si128(clear, cv), _mm_andnot_si128(clear, src)),
                               s.orMask);
        else out = _mm_or_si128(alphaBlend4(src, cv, s), s.orMask);
        put4<Stream>(d + k, out);
    };
    for (; i + 16 <= n; i += 16) {
        _mm_prefetch(reinterpret_cast<const char*>(t + i + 1024), _MM_HINT_T0);
        __m128i tv[4];
        for (int g = 0; g < 4; ++g)
            tv[g] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(t + i + 4 * g));
        if (skip) {
            __m128i any = _mm_and_si128(
                _mm_or_si128(_mm_or_si128(tv[0], tv[1]), _mm_or_si128(tv[2], tv[3])), s.alpha);
            if (_mm_movemask_epi8(_mm_cmpeq_epi32(any, s.zero)) == 0xFFFF) {
                for (int g = 0; g < 4; ++g) put4<Stream>(d + i + 4 * g, cv);
                continue;
            }
        }
        for (int g = 0; g < 4; ++g) put(i + 4 * g, tv[g]);
    }
    for (; i + 4 <= n; i += 4) put(i, _mm_loadu_si128(reinterpret_cast<const __m128i*>(t + i)));
    for (; i < n; ++i) d[i] = one(t[i]);
}

void alignedRealRun(const Setup& S, const Simd& simd, uint32_t* d, const uint32_t* texels, int n) {
    bool skip = !(S.red.pre & kAlpha);
    if (S.kind == BlendKind::Replace) alignedReplaceRun(d, texels, n, simd, S.red, S.orMask);
    else alignedBlendRun(d, texels, n, simd, S.red, S.orMask, skip);
}

// Whether any of texels [0, n) has a non-zero alpha.
bool anyAlpha(const uint32_t* t, int n, const Simd& s) {
    int i = 0;
    __m128i any = s.zero;
    for (; i + 4 <= n; i += 4)
        any = _mm_or_si128(any, _mm_loadu_si128(reinterpret_cast<const __m128i*>(t + i)));
    if (_mm_movemask_epi8(_mm_cmpeq_epi32(_mm_and_si128(any, s.alpha), s.zero)) != 0xFFFF)
        return true;
    for (; i < n; ++i)
        if (t[i] & kAlpha) return true;
    return false;
}

// Pixels [x, x + n) of row y from texels. On a pending clear the tiles not yet real are
// drawn against the clear colour (the parts of their edge tiles outside the run get
// the colour), and become real. A mostly transparent layer leaves the tiles it has
// nothing for pending, so neither this draw nor the present writes them.
void alignedRun(const Setup& S, const Simd& simd, uint32_t* row, int y, int x,
                const uint32_t* texels, int n) {
    const PixelTarget& tg = *S.target;
    if (!tg.lazy) {
        alignedRealRun(S, simd, row + x, texels, n);
        return;
    }
    LazyFill& z = *tg.lazy;
    const uint32_t c = z.colour;
    // A texel of alpha 0 then leaves the clear colour exactly as it is.
    const bool keepClear =
        S.kind == BlendKind::AlphaBlend && !(S.red.pre & kAlpha) && (c | S.orMask) == c;
    uint64_t madeReal = 0;
    auto overClear = [&](int a, int b) {
        int k0 = a >> z.tileShift, k1 = (b - 1) >> z.tileShift;
        std::fill(row + (k0 << z.tileShift), row + a, c);
        std::fill(row + b, row + z.tileEnd(k1), c);
        if (S.kind == BlendKind::Replace)
            alignedReplaceRun(row + a, texels + (a - x), b - a, simd, S.red, S.orMask);
        else if (tg.streamWrites)
            blendOverConstantRun<true>(row + a, texels + (a - x), b - a, simd, S.red, S.orMask, c);
        else
            blendOverConstantRun<false>(row + a, texels + (a - x), b - a, simd, S.red, S.orMask, c);
        madeReal |= z.tilesOf(a, b);
    };
    z.forRuns(y, x, x + n, [&](int a, int b, bool real) {
        if (real) {
            alignedRealRun(S, simd, row + a, texels + (a - x), b - a);
            return;
        }
        if (!keepClear) {
            overClear(a, b);
            return;
        }
        // Tile by tile, joining neighbours that have something to draw.
        int from = -1;
        for (int ta = a; ta < b;) {
            int tb = std::min(b, z.tileEnd(ta >> z.tileShift));
            if (anyAlpha(texels + (ta - x), tb - ta, simd)) {
                if (from < 0) from = ta;
            } else if (from >= 0) {
                overClear(from, ta);
                from = -1;
            }
            ta = tb;
        }
        if (from >= 0) overClear(from, b);
    });
    z.rows[size_t(y)] |= madeReal;
}

void alignedSpan(const Setup& S, const Simd& simd, int texBase, uint32_t* row, int y, int xs,
                 int xe) {
    const PixelSource& t = *S.tex;
    int ty = wrapInt(int(toFixed(S.pv.at(xs, S.pv.row(double(y)))) >> 32), t.height);
    const uint32_t* texRow = t.bits + size_t(ty) * t.width;
    int x = xs;
    while (x < xe) {
        int tx = wrapInt(x + texBase, t.width);
        int n = std::min(xe - x, t.width - tx);
        if (!t.lazy) {
            alignedRun(S, simd, row, y, x, texRow + tx, n);
        } else {
            t.lazy->forRuns(ty, tx, tx + n, [&](int a, int b, bool real) {
                if (real) alignedRun(S, simd, row, y, x + (a - tx), texRow + a, b - a);
                else constantRun(S, y, x + (a - tx), b - a, t.lazy->colour);
            });
        }
        x += n;
    }
}

bool finiteWithin(double v, double limit) { return std::isfinite(v) && std::fabs(v) <= limit; }

}  // namespace

uint32_t combinePixel(uint32_t texel, uint32_t diffuse, const DrawStates& st) {
    if (st.colorOp == kTopDisable) return diffuse;
    uint32_t c1 = argValue(st.colorArg1, texel, diffuse),
             c2 = argValue(st.colorArg2, texel, diffuse);
    uint32_t out = 0;
    for (int ch = 0; ch < 3; ++ch) out |= applyOp(st.colorOp, c1, c2, ch) << (8 * ch);
    uint32_t a = st.alphaOp == kTopDisable
                     ? diffuse >> 24
                     : applyOp(st.alphaOp, argValue(st.alphaArg1, texel, diffuse),
                               argValue(st.alphaArg2, texel, diffuse), 3);
    return out | a << 24;
}

uint32_t blendPixel(uint32_t src, uint32_t dst, const DrawStates& st, bool opaqueTarget) {
    uint32_t orMask = opaqueTarget ? kAlpha : 0;
    dst |= orMask;
    uint32_t out = src;
    if (st.blend) {
        out = 0;
        for (int ch = 0; ch < 4; ++ch) {
            uint32_t v = channel(src, ch) * blendFactor(st.srcBlend, ch, src, dst) +
                         channel(dst, ch) * blendFactor(st.destBlend, ch, src, dst);
            out |= std::min<uint32_t>(255, (2 * v + 255) / 510) << (8 * ch);
        }
    }
    return out | orMask;
}

void drawTexelList(const PixelTarget& target, const PixelSource& tex, const DrawStates& st,
                   uint32_t diffuse, const uint32_t* offsets, size_t count) {
    const uint32_t texOr = tex.opaqueAlpha ? kAlpha : 0;
    const Reduced r = reduceStage(st, diffuse, tex.opaqueAlpha);
    const BlendKind kind = blendKind(st);
    const bool fast = st.fastPaths && r.linear && kind != BlendKind::Generic;
    const uint32_t orMask = target.opaqueAlpha ? kAlpha : 0;
    LazyFill* z = target.lazy;
    // The texels lie anywhere in layers of many megabytes: fetch both lines ahead.
    constexpr size_t kAhead = 16;
    for (size_t k = 0; k < count; ++k) {
        if (k + kAhead < count) {
            __builtin_prefetch(target.bits + offsets[k + kAhead], 1, 3);
            __builtin_prefetch(tex.bits + offsets[k + kAhead], 0, 3);
        }
        const uint32_t at = offsets[k];
        const int y = int(at / uint32_t(target.width)), x = int(at - uint32_t(y) * target.width);
        if (z && !z->isReal(y, x)) fillTiles(target, y, x >> z->tileShift, x >> z->tileShift);
        uint32_t& d = target.bits[at];
        const uint32_t texel =
            (tex.lazy && !tex.lazy->isReal(y, x) ? tex.lazy->colour : tex.bits[at]) | texOr;
        if (!fast) {
            d = blendPixel(combinePixel(texel, diffuse, st), d, st, target.opaqueAlpha);
            continue;
        }
        const uint32_t src = applyReduced(texel, r);
        const uint32_t a = src >> 24;
        if (kind == BlendKind::Replace) d = src | orMask;
        else if (a != 0) d = (a == 255 ? src : alphaBlend(src, d | orMask)) | orMask;
    }
}

namespace {

enum class Loop { Reference, Affine, Aligned };

struct Job {
    Setup S;
    Edge e[3];
    int yStart, yEnd;
    Loop loop;
    Simd simd;
    int texBase;
};

// Sets a triangle up; false when it draws nothing.
bool prepare(const PixelTarget& target, const PixelSource& tex, const DrawStates& st,
             const ScreenVertex* sv, Job* job) {
    Point v[3];
    for (int i = 0; i < 3; ++i) {
        v[i] = {double(sv[i].x), double(sv[i].y)};
        if (!finiteWithin(v[i].x, kMaxCoordinate) || !finiteWithin(v[i].y, kMaxCoordinate))
            return false;
    }
    double det = (v[1].x - v[0].x) * (v[2].y - v[0].y) - (v[2].x - v[0].x) * (v[1].y - v[0].y);
    if (!(det > 0)) return false;  // counter-clockwise or degenerate

    double minY = std::min({v[0].y, v[1].y, v[2].y}), maxY = std::max({v[0].y, v[1].y, v[2].y});
    job->yStart = std::max(0, int(std::ceil(minY)));
    job->yEnd = std::min(target.height - 1, int(std::floor(maxY)));
    if (job->yStart > job->yEnd || target.width <= 0) return false;

    Setup& S = job->S;
    S = Setup{};
    S.target = &target;
    S.tex = &tex;
    S.st = &st;
    if (tex.bits) {
        double us[3], vs[3];
        for (int i = 0; i < 3; ++i) {
            us[i] = double(sv[i].u) * tex.width;
            vs[i] = double(sv[i].v) * tex.height;
            if (!finiteWithin(us[i], kMaxTexCoordinate) || !finiteWithin(vs[i], kMaxTexCoordinate))
                return false;
        }
        S.pu = makePlane(v, det, us[0], us[1], us[2]);
        S.pv = makePlane(v, det, vs[0], vs[1], vs[2]);
    }
    S.diffuse = sv[0].colour;
    S.constDiffuse = sv[1].colour == sv[0].colour && sv[2].colour == sv[0].colour;
    if (!S.constDiffuse) {
        for (int ch = 0; ch < 4; ++ch)
            S.pc[ch] = makePlane(v, det, channel(sv[0].colour, ch), channel(sv[1].colour, ch),
                                 channel(sv[2].colour, ch));
    }
    S.kind = blendKind(st);
    S.orMask = target.opaqueAlpha ? kAlpha : 0;
    S.texOr = tex.opaqueAlpha ? kAlpha : 0;

    job->loop = Loop::Reference;
    job->texBase = 0;
    if (st.fastPaths && S.constDiffuse) {
        S.red = reduceStage(st, S.diffuse, !tex.bits || tex.opaqueAlpha);
        if (S.red.linear) {
            job->loop = Loop::Affine;
            job->simd = makeSimd(S.red, S.orMask);
            // A source alpha that is always 0 leaves the target as it is.
            if (S.kind == BlendKind::AlphaBlend && channel(S.red.k, 3) == 0) return false;
            double scaled = std::ldexp(S.pu.c, 20);
            bool exactBase = std::fabs(S.pu.c) < kMaxTexCoordinate && scaled == std::floor(scaled);
            if (tex.bits && S.kind != BlendKind::Generic && S.pu.a == 1.0 && S.pu.b == 0.0 &&
                S.pv.a == 0.0 && exactBase) {
                job->loop = Loop::Aligned;
                job->simd = makeSimd(S.red, S.orMask);
                job->texBase = int(std::floor(S.pu.c));
            }
        }
    }
    job->e[0] = makeEdge(v[0], v[1]);
    job->e[1] = makeEdge(v[1], v[2]);
    job->e[2] = makeEdge(v[2], v[0]);
    return true;
}

// The covered pixels of row y: [*xs, *xe), maybe empty.
void rowSpan(Job& job, int y, int* xsOut, int* xeOut) {
    const PixelTarget& target = *job.S.target;
    int xs = 0, xe = target.width;
    for (Edge& edge : job.e) {
        edge.setRow(double(y));
        if (edge.dy == 0) {
            if (!edge.inside(0)) xe = 0;
        } else if (edge.neg) {
            xs = std::max(xs, firstInside(edge, 0, target.width));
        } else {
            xe = std::min(xe, firstOutside(edge, 0, target.width));
        }
    }
    *xsOut = xs;
    *xeOut = xe;
}

// Pixels [xa, xe) of the span that starts at xs.
void drawPiece(const Job& job, int y, int xs, int xa, int xe) {
    const Setup& S = job.S;
    uint32_t* row = S.target->bits + size_t(y) * S.target->width;
    if (job.loop != Loop::Aligned) touch(*S.target, y, xa, xe);
    switch (job.loop) {
    case Loop::Reference: referenceSpan(S, row, y, xs, xa, xe); break;
    case Loop::Aligned: alignedSpan(S, job.simd, job.texBase, row, y, xa, xe); break;
    case Loop::Affine:
        if (S.kind == BlendKind::Replace)
            affineSpan<BlendKind::Replace>(S, job.simd, row, y, xs, xa, xe);
        else if (S.kind == BlendKind::AlphaBlend)
            affineSpan<BlendKind::AlphaBlend>(S, job.simd, row, y, xs, xa, xe);
        else affineSpan<BlendKind::Generic>(S, job.simd, row, y, xs, xa, xe);
        break;
    }
}

void drawRow(Job& job, int y) {
    int xs, xe;
    rowSpan(job, y, &xs, &xe);
    if (xs >= xe) return;
    drawPiece(job, y, xs, xs, xe);
}

// A texture walked across its rows (a turned sprite) misses the cache at nearly every
// pixel when drawn row by row; in small tiles the lines it brings in serve the rows
// below as well.
bool wantsTiles(const Job& job) {
    return job.loop == Loop::Affine && job.S.tex->bits && std::fabs(job.S.pv.a) >= 0.125 &&
           size_t(job.S.tex->width) * size_t(job.S.tex->height) > 4096;
}

constexpr int kTileRows = 16, kTileColumns = 64;

// The rows y0..y1 of jobs, tile by tile. Every pixel still sees the jobs in order, and
// each piece starts its texel walk where the whole span would have reached it.
constexpr size_t kBatch = 8;

void drawTiled(Job* jobs, int n, int y0, int y1) {
    int spans[kBatch][kTileRows][2];
    for (int band = y0; band <= y1; band += kTileRows) {
        int rows = std::min(kTileRows, y1 - band + 1);
        int bx0 = INT32_MAX, bx1 = INT32_MIN;
        for (int k = 0; k < n; ++k)
            for (int r = 0; r < rows; ++r) {
                int y = band + r, xs = 0, xe = 0;
                if (y >= jobs[k].yStart && y <= jobs[k].yEnd) rowSpan(jobs[k], y, &xs, &xe);
                if (xs >= xe) xs = xe = 0;
                spans[k][r][0] = xs;
                spans[k][r][1] = xe;
                if (xs < xe) {
                    bx0 = std::min(bx0, xs);
                    bx1 = std::max(bx1, xe);
                }
            }
        for (int cx = bx0; cx < bx1; cx += kTileColumns) {
            int cx1 = cx + kTileColumns;
            for (int r = 0; r < rows; ++r)
                for (int k = 0; k < n; ++k) {
                    int xs = spans[k][r][0], xe = spans[k][r][1];
                    int a = std::max(xs, cx), b = std::min(xe, cx1);
                    if (a < b) drawPiece(jobs[k], band + r, xs, a, b);
                }
        }
    }
}

}  // namespace

void drawTriangles(const PixelTarget& target, const PixelSource& tex, const DrawStates& st,
                   const ScreenVertex* v, size_t count) {
    // A few triangles at a time, row by row: the two halves of a quad then read each
    // layer row in one sweep. Every pixel still sees the triangles in their order.
    for (size_t first = 0; first < count; first += kBatch) {
        Job jobs[kBatch];
        int n = 0, y0 = target.height, y1 = -1;
        bool tiles = false;
        for (size_t i = first; i < std::min(count, first + kBatch); ++i) {
            if (!prepare(target, tex, st, v + 3 * i, &jobs[n])) continue;
            y0 = std::min(y0, jobs[n].yStart);
            y1 = std::max(y1, jobs[n].yEnd);
            tiles = tiles || wantsTiles(jobs[n]);
            ++n;
        }
        auto drawRows = [&](Job* js, int from, int to) {
            if (tiles) {
                drawTiled(js, n, from, to);
                return;
            }
            for (int y = from; y <= to; ++y)
                for (int k = 0; k < n; ++k)
                    if (y >= js[k].yStart && y <= js[k].yEnd) drawRow(js[k], y);
        };
        if (n == 0) continue;
        int rows = y1 - y0 + 1;
        if (st.worker && st.parallelPixels > 0 &&
            size_t(rows) * size_t(target.width) >= st.parallelPixels) {
            // Bands of rows for either thread, each with its own copy of the jobs (the
            // edges keep per-row state).
            int band = std::max(kTileRows, (rows / 16 + kTileRows - 1) / kTileRows * kTileRows);
            st.worker->forChunks((rows + band - 1) / band, [&](int c) {
                Job local[kBatch];
                std::copy(jobs, jobs + n, local);
                int from = y0 + c * band;
                drawRows(local, from, std::min(y1, from + band - 1));
                _mm_sfence();
            });
            continue;
        }
        drawRows(jobs, y0, y1);
    }
    _mm_sfence();  // the streaming stores are seen before anything reads the target
}

void drawTriangle(const PixelTarget& target, const PixelSource& tex, const DrawStates& st,
                  const ScreenVertex* sv) {
    drawTriangles(target, tex, st, sv, 1);
}

}  // namespace gx::gfx
