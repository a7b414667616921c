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
// constant diffuse colour (the stage reduced to a per-channel multiply), and one for
// quads mapped one texel per pixel (four pixels at a time, transparent texels skipped
// sixteen at a time). All three give the same pixels; tests compare them.

#include "platform/gfx/raster.h"

#include <emmintrin.h>
#include <xmmintrin.h>

#include <algorithm>
#include <cmath>

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
    for (int ch = 0; ch < 4; ++ch) out |= div255(channel(s, ch) * a + channel(d, ch) * ia) << (8 * ch);
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
    if (!st.blend || (st.srcBlend == kBlendOne && st.destBlend == kBlendZero)) return BlendKind::Replace;
    if (st.srcBlend == kBlendSrcAlpha && st.destBlend == kBlendInvSrcAlpha) return BlendKind::AlphaBlend;
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

inline void blendGroup(uint32_t* d, __m128i t, const Simd& s) {
    __m128i src = source4(t, s);
    __m128i a = _mm_and_si128(src, s.alpha);
    int clear = _mm_movemask_ps(_mm_castsi128_ps(_mm_cmpeq_epi32(a, s.zero)));
    if (clear == 0xF) return;
    int opaque = _mm_movemask_ps(_mm_castsi128_ps(_mm_cmpeq_epi32(a, s.alpha)));
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
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d), _mm_or_si128(alphaBlend4(src, dst, s), s.orMask));
}

inline int alphaMask(__m128i a, __m128i v) { return _mm_movemask_ps(_mm_castsi128_ps(_mm_cmpeq_epi32(a, v))); }

// Sixteen pixels of a layer whose alphas are mostly 0 or 255: one test for the usual
// case, then only the opaque pixels are stored, without reading the target.
inline void blendSixteen(uint32_t* d, const uint32_t* texels, const __m128i* t, const Simd& s, const Reduced& r,
                         uint32_t orMask) {
    __m128i src[4];
    int clear = 0, opaque = 0;
    for (int g = 0; g < 4; ++g) {
        src[g] = source4(t[g], s);
        __m128i a = _mm_and_si128(src[g], s.alpha);
        clear |= alphaMask(a, s.zero) << (4 * g);
        opaque |= alphaMask(a, s.alpha) << (4 * g);
    }
    if ((clear | opaque) != 0xFFFF) {
        for (int g = 0; g < 4; ++g) blendGroup(d + 4 * g, t[g], s);
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

void alignedBlendRun(uint32_t* d, const uint32_t* t, int n, const Simd& s, const Reduced& r, uint32_t orMask,
                     bool skipByTexelAlpha) {
    int i = 0;
    if (skipByTexelAlpha) {
        constexpr int kAhead = 512;  // texels: about a memory latency of scanning
        for (; i + 16 <= n; i += 16) {
            // Keep the layer streaming in, and ask early for the target lines that the
            // layer ahead will write, so the stores do not wait for them.
            _mm_prefetch(reinterpret_cast<const char*>(t + i + 2048), _MM_HINT_T0);
            if (i + kAhead + 16 <= n) {
                const uint32_t* ahead = t + i + kAhead;
                __m128i av = _mm_or_si128(
                    _mm_or_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(ahead)),
                                 _mm_loadu_si128(reinterpret_cast<const __m128i*>(ahead + 4))),
                    _mm_or_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(ahead + 8)),
                                 _mm_loadu_si128(reinterpret_cast<const __m128i*>(ahead + 12))));
                bool empty = _mm_movemask_epi8(_mm_cmpeq_epi32(_mm_and_si128(av, s.alpha), s.zero)) == 0xFFFF;
                // Without a branch: an empty group asks again for the layer line just read.
                const void* want = empty ? static_cast<const void*>(t + i) : static_cast<const void*>(d + i + kAhead);
                __builtin_prefetch(want, 1, 3);
            }
            __m128i tv[4];
            for (int g = 0; g < 4; ++g) tv[g] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(t + i + 4 * g));
            __m128i any = _mm_and_si128(_mm_or_si128(_mm_or_si128(tv[0], tv[1]), _mm_or_si128(tv[2], tv[3])), s.alpha);
            if (_mm_movemask_epi8(_mm_cmpeq_epi32(any, s.zero)) == 0xFFFF) continue;
            blendSixteen(d + i, t + i, tv, s, r, orMask);
        }
    }
    for (; i + 4 <= n; i += 4) blendGroup(d + i, _mm_loadu_si128(reinterpret_cast<const __m128i*>(t + i)), s);
    for (; i < n; ++i) {
        uint32_t src = applyReduced(t[i], r);
        uint32_t a = src >> 24;
        if (a == 0) continue;
        d[i] = (a == 255 ? src : alphaBlend(src, d[i] | orMask)) | orMask;
    }
}

void alignedReplaceRun(uint32_t* d, const uint32_t* t, int n, const Simd& s, const Reduced& r, uint32_t orMask) {
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
    return int64_t(std::llround(std::clamp(v, -1073741824.0, 1073741824.0) * 4294967296.0));
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
struct Sampler {
    const uint32_t* bits;
    int width, height;
    uint32_t texOr;
    int64_t u, v, du, dv;

    Sampler(const Setup& S, int y, int xs) {
        const PixelSource& t = *S.tex;
        bits = t.bits;
        width = t.width;
        height = t.height;
        texOr = S.texOr;
        double fy = y;
        u = toFixed(S.pu.at(xs, S.pu.row(fy)));
        v = toFixed(S.pv.at(xs, S.pv.row(fy)));
        du = toFixed(S.pu.a);
        dv = toFixed(S.pv.a);
    }
    // The texel of the current pixel; moves on to the next.
    uint32_t next() {
        if (!bits) return kAlpha;
        int tx = wrapInt(int(u >> 32), width), ty = wrapInt(int(v >> 32), height);
        u += du;
        v += dv;
        return bits[size_t(ty) * width + tx] | texOr;
    }
};

void referenceSpan(const Setup& S, uint32_t* row, int y, int xs, int xe) {
    double fy = y;
    Sampler sampler(S, y, xs);
    double rowC[4];
    for (int ch = 0; ch < 4; ++ch) rowC[ch] = S.pc[ch].row(fy);
    bool opaque = S.target->opaqueAlpha;
    for (int x = xs; x < xe; ++x) {
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

template <BlendKind K>
void affineSpan(const Setup& S, uint32_t* row, int y, int xs, int xe) {
    Sampler sampler(S, y, xs);
    uint32_t orMask = S.orMask;
    for (int x = xs; x < xe; ++x) {
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

void alignedSpan(const Setup& S, const Simd& simd, int texBase, uint32_t* row, int y, int xs, int xe) {
    const PixelSource& t = *S.tex;
    int ty = wrapInt(int(toFixed(S.pv.at(xs, S.pv.row(double(y)))) >> 32), t.height);
    const uint32_t* texRow = t.bits + size_t(ty) * t.width;
    bool skip = !(S.red.pre & kAlpha);
    int x = xs;
    while (x < xe) {
        int tx = wrapInt(x + texBase, t.width);
        int n = std::min(xe - x, t.width - tx);
        if (S.kind == BlendKind::Replace) alignedReplaceRun(row + x, texRow + tx, n, simd, S.red, S.orMask);
        else alignedBlendRun(row + x, texRow + tx, n, simd, S.red, S.orMask, skip);
        x += n;
    }
}

bool finiteWithin(double v, double limit) { return std::isfinite(v) && std::fabs(v) <= limit; }

}  // namespace

uint32_t combinePixel(uint32_t texel, uint32_t diffuse, const DrawStates& st) {
    if (st.colorOp == kTopDisable) return diffuse;
    uint32_t c1 = argValue(st.colorArg1, texel, diffuse), c2 = argValue(st.colorArg2, texel, diffuse);
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
bool prepare(const PixelTarget& target, const PixelSource& tex, const DrawStates& st, const ScreenVertex* sv,
             Job* job) {
    Point v[3];
    for (int i = 0; i < 3; ++i) {
        v[i] = {double(sv[i].x), double(sv[i].y)};
        if (!finiteWithin(v[i].x, kMaxCoordinate) || !finiteWithin(v[i].y, kMaxCoordinate)) return false;
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
            if (!finiteWithin(us[i], kMaxTexCoordinate) || !finiteWithin(vs[i], kMaxTexCoordinate)) return false;
        }
        S.pu = makePlane(v, det, us[0], us[1], us[2]);
        S.pv = makePlane(v, det, vs[0], vs[1], vs[2]);
    }
    S.diffuse = sv[0].colour;
    S.constDiffuse = sv[1].colour == sv[0].colour && sv[2].colour == sv[0].colour;
    if (!S.constDiffuse) {
        for (int ch = 0; ch < 4; ++ch)
            S.pc[ch] = makePlane(v, det, channel(sv[0].colour, ch), channel(sv[1].colour, ch), channel(sv[2].colour, ch));
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
            // A source alpha that is always 0 leaves the target as it is.
            if (S.kind == BlendKind::AlphaBlend && channel(S.red.k, 3) == 0) return false;
            double scaled = std::ldexp(S.pu.c, 20);
            bool exactBase = std::fabs(S.pu.c) < kMaxTexCoordinate && scaled == std::floor(scaled);
            if (tex.bits && S.kind != BlendKind::Generic && S.pu.a == 1.0 && S.pu.b == 0.0 && S.pv.a == 0.0 &&
                exactBase) {
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

void drawRow(Job& job, int y, Bounds* drawn) {
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
    if (xs >= xe) return;
    drawn->add(xs, y, xe, y + 1);
    uint32_t* row = target.bits + size_t(y) * target.width;
    const Setup& S = job.S;
    switch (job.loop) {
    case Loop::Reference: referenceSpan(S, row, y, xs, xe); break;
    case Loop::Aligned: alignedSpan(S, job.simd, job.texBase, row, y, xs, xe); break;
    case Loop::Affine:
        if (S.kind == BlendKind::Replace) affineSpan<BlendKind::Replace>(S, row, y, xs, xe);
        else if (S.kind == BlendKind::AlphaBlend) affineSpan<BlendKind::AlphaBlend>(S, row, y, xs, xe);
        else affineSpan<BlendKind::Generic>(S, row, y, xs, xe);
        break;
    }
}

}  // namespace

void drawTriangles(const PixelTarget& target, const PixelSource& tex, const DrawStates& st, const ScreenVertex* v,
                   size_t count, Bounds* drawn) {
    // A few triangles at a time, row by row: the two halves of a quad then read each
    // layer row in one sweep. Every pixel still sees the triangles in their order.
    constexpr size_t kBatch = 8;
    for (size_t first = 0; first < count; first += kBatch) {
        Job jobs[kBatch];
        int n = 0, y0 = target.height, y1 = -1;
        for (size_t i = first; i < std::min(count, first + kBatch); ++i) {
            if (!prepare(target, tex, st, v + 3 * i, &jobs[n])) continue;
            y0 = std::min(y0, jobs[n].yStart);
            y1 = std::max(y1, jobs[n].yEnd);
            ++n;
        }
        for (int y = y0; y <= y1; ++y)
            for (int k = 0; k < n; ++k)
                if (y >= jobs[k].yStart && y <= jobs[k].yEnd) drawRow(jobs[k], y, drawn);
    }
}

void drawTriangle(const PixelTarget& target, const PixelSource& tex, const DrawStates& st,
                  const ScreenVertex* sv, Bounds* drawn) {
    drawTriangles(target, tex, st, sv, 1, drawn);
}

}  // namespace gx::gfx
