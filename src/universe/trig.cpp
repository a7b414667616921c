// Our own atan2 and sin/cos (see trig.h). Both forms work in double precision and
// round once to float. The scalar form and the four-wide form below are written step
// for step alike: every product, sum and quotient is one IEEE operation in both (the
// build has -ffp-contract=off and no fused multiply-add is written), comparisons and
// selections pick the same values, and the conversions round to nearest. So each lane
// of the four-wide form gives the scalar form's bits.
//
// Polynomial coefficients: near-minimax fits (Chebyshev) over the reduced intervals,
// slightly widened, computed for this project.
#include "universe/trig.h"

#include <bit>
#include <cmath>
#include <cstdint>

namespace gx::trig {

namespace {

constexpr double kPi = 0x1.921fb54442d18p+1;
constexpr double kHalfPi = 0x1.921fb54442d18p+0;
constexpr double kSixthPi = 0x1.0c152382d7366p-1;
constexpr double kSqrt3 = 0x1.bb67ae8584caap+0;
constexpr double kTanTwelfthPi = 0x1.126145e9ecd56p-2;  // 2 - sqrt(3)

// atan(u) = u + u^3 A(u^2) for |u| <= tan(pi/12), relative error below 2^-35.
constexpr double kAtan[5] = {-0x1.55555550ac85ap-2, 0x1.999980b7af883p-3, -0x1.24879928972b9p-3,
                             0x1.c3df37f6a42b3p-4, -0x1.4024f2e27ad29p-4};
// sin(r) = r + r^3 S(r^2) and cos(r) = 1 + r^2 C(r^2) for |r| <= pi/4, relative errors
// below 2^-35 and 2^-31: a float ulp is 2^-24 or more of the value, so the result is
// within an ulp of the correctly rounded one (and is that one but for a few in 10^4).
constexpr double kSin[4] = {-0x1.5555555449984p-3, 0x1.11110dbdfb290p-7, -0x1.a01365cb7d412p-13,
                            0x1.6da8eb8e30cdfp-19};
constexpr double kCos[4] = {-0x1.fffffffa41990p-2, 0x1.55554c3439fe3p-5, -0x1.6c0dae39709bep-10,
                            0x1.9a52331e9a9f3p-16};

// Reduction by pi/2 = kPio2a + kPio2b + kPio2c; the first two have 33 significant bits, so
// their products with a quadrant count below 2^20 are exact.
constexpr double kTwoOverPi = 0x1.45f306dc9c883p-1;
constexpr double kPio2a = 0x1.921fb54400000p+0;
constexpr double kPio2b = 0x1.0b4611a600000p-34;
constexpr double kPio2c = 0x1.3198a2e037073p-69;
constexpr double kShifter = 0x1.8p52;  // adding and taking it off rounds to an integer
constexpr float kReducedRange = 0x1p20f;

constexpr uint32_t kNaNBits = 0x7FC00000u;

float nanFloat() { return std::bit_cast<float>(kNaNBits); }

// The polynomials go by pairs of terms (Estrin), which halves the chain of dependent
// operations; both forms group them the same way.
double atanPoly(double u) {
    const double s = u * u;
    const double s2 = s * s;
    const double p = (kAtan[0] + kAtan[1] * s) + s2 * ((kAtan[2] + kAtan[3] * s) + s2 * kAtan[4]);
    const double t = u * s;
    return u + t * p;
}

// The angle in [0, pi/2] of (mn, mx) as made below, before the quadrant is applied.
double atan2Scalar(float y, float x) {
    const double ay = std::fabs(double(y));
    const double ax = std::fabs(double(x));
    const bool swap = ay > ax;
    double mn = swap ? ax : ay;
    double mx = swap ? ay : ax;
    if (mn == INFINITY) mn = mx = 1.0;  // both infinite: the diagonal
    const bool reduce = mn > kTanTwelfthPi * mx;
    const double num = reduce ? mn * kSqrt3 - mx : mn;
    double den = reduce ? mn + mx * kSqrt3 : mx;
    if (mx == 0.0) den = 1.0;  // both zero: angle 0 before the quadrant
    double a = atanPoly(num / den);
    if (reduce) a = kSixthPi + a;
    if (swap) a = kHalfPi - a;
    if (std::signbit(x)) a = kPi - a;
    if (std::signbit(y)) a = -a;
    return a;
}

// 2/pi in bits after the point, behind one zero word (for arguments whose window starts
// before the point); 288 bits reach past every float's need.
constexpr uint32_t kTwoOverPiBits[10] = {0,          0xA2F9836E, 0x4E441529, 0xFC2757D1,
                                         0xF534DDC0, 0xDB629599, 0x3C439041, 0xFE5163AB,
                                         0xDEBBC561, 0xB7246E3A};

// Exact reduction of a finite float with |a| > 2^20 (Payne and Hanek): with a = m 2^E
// (m the 24-bit significand), a 2/pi mod 4 needs only the bits of 2/pi from 2^(1-E) on;
// 96 of them give the quadrant and a fraction good to about 2^-70.
double reduceLarge(float a, uint32_t* quadrant) {
    using U128 = unsigned __int128;
    const uint32_t bits = std::bit_cast<uint32_t>(a);
    const int e = int((bits >> 23) & 0xFFu) - 127;
    const uint64_t m = (bits & 0x7FFFFFu) | 0x800000u;
    const int off = e - 23 - 2 + 32;  // where the window starts in kTwoOverPiBits
    const int w = off / 32, sh = off % 32;
    const U128 q = (U128(kTwoOverPiBits[w]) << 96) | (U128(kTwoOverPiBits[w + 1]) << 64) |
                   (U128(kTwoOverPiBits[w + 2]) << 32) | U128(kTwoOverPiBits[w + 3]);
    const U128 window = (q << sh) >> 32;  // 96 bits
    const U128 low96 = (U128(1) << 96) - 1;
    const U128 product = (window * m + (U128(1) << 93)) & low96;  // a 2/pi + 1/2 quarter, mod 4
    uint32_t n = uint32_t(product >> 94);
    const __int128 f = __int128(product & ((U128(1) << 94) - 1)) - (__int128(1) << 93);
    double r = double(f) * (kHalfPi * 0x1p-94);
    if (bits >> 31) {
        r = -r;
        n = (4u - n) & 3u;
    }
    *quadrant = n;
    return r;
}

double sinPoly(double r, double s, double s2) {
    const double p = (kSin[0] + kSin[1] * s) + s2 * (kSin[2] + kSin[3] * s);
    const double t = r * s;
    return r == 0.0 ? r : r + t * p;  // keeps the sign of a zero
}

double cosPoly(double s, double s2) {
    const double p = (kCos[0] + kCos[1] * s) + s2 * (kCos[2] + kCos[3] * s);
    return 1.0 + s * p;
}

SinCos sinCosReduced(double r, uint64_t q) {
    const double s = r * r;
    const double s2 = s * s;
    const double sr = sinPoly(r, s, s2);
    const double cr = cosPoly(s, s2);
    const bool swap = (q & 1u) != 0;
    const double sv = swap ? cr : sr;
    const double cv = swap ? sr : cr;
    const uint64_t sinSign = (q & 2u) << 62;
    const uint64_t cosSign = ((q + 1u) & 2u) << 62;
    return {float(std::bit_cast<double>(std::bit_cast<uint64_t>(sv) ^ sinSign)),
            float(std::bit_cast<double>(std::bit_cast<uint64_t>(cv) ^ cosSign))};
}

}  // namespace

namespace plain {

float atan2(float y, float x) {
    if (std::isnan(y) || std::isnan(x)) return nanFloat();
    return float(atan2Scalar(y, x));
}

SinCos sinCos(float a) {
    if (!std::isfinite(a)) return {nanFloat(), nanFloat()};
    if (std::fabs(a) > kReducedRange) {
        uint32_t q = 0;
        const double r = reduceLarge(a, &q);
        return sinCosReduced(r, q);
    }
    const double x = double(a);
    const double sum = x * kTwoOverPi + kShifter;
    const double k = sum - kShifter;
    const double r = ((x - k * kPio2a) - k * kPio2b) - k * kPio2c;
    return sinCosReduced(r, std::bit_cast<uint64_t>(sum));
}

}  // namespace plain

#if defined(__SSE2__)

namespace {

inline __m128d select(__m128d mask, __m128d yes, __m128d no) {
    return _mm_or_pd(_mm_and_pd(mask, yes), _mm_andnot_pd(mask, no));
}

// a + b s, the pair of terms the polynomials are made of.
inline __m128d terms(double a, double b, __m128d s) {
    return _mm_add_pd(_mm_set1_pd(a), _mm_mul_pd(_mm_set1_pd(b), s));
}

inline __m128d atanPoly2(__m128d u) {
    const __m128d s = _mm_mul_pd(u, u);
    const __m128d s2 = _mm_mul_pd(s, s);
    const __m128d high =
        _mm_add_pd(terms(kAtan[2], kAtan[3], s), _mm_mul_pd(s2, _mm_set1_pd(kAtan[4])));
    const __m128d p = _mm_add_pd(terms(kAtan[0], kAtan[1], s), _mm_mul_pd(s2, high));
    const __m128d t = _mm_mul_pd(u, s);
    return _mm_add_pd(u, _mm_mul_pd(t, p));
}

// atan2Scalar on two lanes.
inline __m128d atan2Pair(__m128d y, __m128d x) {
    const __m128d sign = _mm_set1_pd(-0.0);
    const __m128d ay = _mm_andnot_pd(sign, y);
    const __m128d ax = _mm_andnot_pd(sign, x);
    const __m128d swap = _mm_cmpgt_pd(ay, ax);
    __m128d mn = select(swap, ax, ay);
    __m128d mx = select(swap, ay, ax);
    const __m128d one = _mm_set1_pd(1.0);
    const __m128d bothInfinite = _mm_cmpeq_pd(mn, _mm_set1_pd(INFINITY));
    mn = select(bothInfinite, one, mn);
    mx = select(bothInfinite, one, mx);
    const __m128d sqrt3 = _mm_set1_pd(kSqrt3);
    const __m128d reduce = _mm_cmpgt_pd(mn, _mm_mul_pd(_mm_set1_pd(kTanTwelfthPi), mx));
    const __m128d num = select(reduce, _mm_sub_pd(_mm_mul_pd(mn, sqrt3), mx), mn);
    __m128d den = select(reduce, _mm_add_pd(mn, _mm_mul_pd(mx, sqrt3)), mx);
    den = select(_mm_cmpeq_pd(mx, _mm_setzero_pd()), one, den);
    __m128d a = atanPoly2(_mm_div_pd(num, den));
    a = select(reduce, _mm_add_pd(_mm_set1_pd(kSixthPi), a), a);
    a = select(swap, _mm_sub_pd(_mm_set1_pd(kHalfPi), a), a);
    // The sign bits of x and y as lane masks.
    const __m128i xs = _mm_srai_epi32(_mm_castpd_si128(x), 31);
    const __m128d xNegative = _mm_castsi128_pd(_mm_shuffle_epi32(xs, _MM_SHUFFLE(3, 3, 1, 1)));
    a = select(xNegative, _mm_sub_pd(_mm_set1_pd(kPi), a), a);
    return _mm_xor_pd(a, _mm_and_pd(sign, y));
}

inline __m128d sinPoly2(__m128d r, __m128d s, __m128d s2) {
    const __m128d p =
        _mm_add_pd(terms(kSin[0], kSin[1], s), _mm_mul_pd(s2, terms(kSin[2], kSin[3], s)));
    const __m128d t = _mm_mul_pd(r, s);
    return select(_mm_cmpeq_pd(r, _mm_setzero_pd()), r, _mm_add_pd(r, _mm_mul_pd(t, p)));
}

inline __m128d cosPoly2(__m128d s, __m128d s2) {
    const __m128d p =
        _mm_add_pd(terms(kCos[0], kCos[1], s), _mm_mul_pd(s2, terms(kCos[2], kCos[3], s)));
    return _mm_add_pd(_mm_set1_pd(1.0), _mm_mul_pd(s, p));
}

// The reduction and sinCosReduced on two lanes of |a| <= 2^20.
inline void sinCosPair(__m128d x, __m128d* sinOut, __m128d* cosOut) {
    const __m128d shifter = _mm_set1_pd(kShifter);
    const __m128d sum = _mm_add_pd(_mm_mul_pd(x, _mm_set1_pd(kTwoOverPi)), shifter);
    const __m128d k = _mm_sub_pd(sum, shifter);
    const __m128d r = _mm_sub_pd(_mm_sub_pd(_mm_sub_pd(x, _mm_mul_pd(k, _mm_set1_pd(kPio2a))),
                                            _mm_mul_pd(k, _mm_set1_pd(kPio2b))),
                                 _mm_mul_pd(k, _mm_set1_pd(kPio2c)));
    const __m128d s = _mm_mul_pd(r, r);
    const __m128d s2 = _mm_mul_pd(s, s);
    const __m128d sr = sinPoly2(r, s, s2);
    const __m128d cr = cosPoly2(s, s2);
    const __m128i q = _mm_castpd_si128(sum);
    const __m128i one = _mm_set1_epi64x(1), two = _mm_set1_epi64x(2);
    const __m128d swap =
        _mm_castsi128_pd(_mm_sub_epi64(_mm_setzero_si128(), _mm_and_si128(q, one)));
    const __m128d sv = select(swap, cr, sr);
    const __m128d cv = select(swap, sr, cr);
    const __m128i sinSign = _mm_slli_epi64(_mm_and_si128(q, two), 62);
    const __m128i cosSign = _mm_slli_epi64(_mm_and_si128(_mm_add_epi64(q, one), two), 62);
    *sinOut = _mm_xor_pd(sv, _mm_castsi128_pd(sinSign));
    *cosOut = _mm_xor_pd(cv, _mm_castsi128_pd(cosSign));
}

inline __m128d lowPair(__m128 v) { return _mm_cvtps_pd(v); }
inline __m128d highPair(__m128 v) { return _mm_cvtps_pd(_mm_movehl_ps(v, v)); }
inline __m128 joinPairs(__m128d lo, __m128d hi) {
    return _mm_movelh_ps(_mm_cvtpd_ps(lo), _mm_cvtpd_ps(hi));
}

}  // namespace

// The scalar forms run the same kernels on one lane: no branch on the data, and the
// four-wide form's bits by construction.
float atan2(float y, float x) {
    if (std::isnan(y) || std::isnan(x)) return nanFloat();
    const __m128d r = atan2Pair(lowPair(_mm_set_ss(y)), lowPair(_mm_set_ss(x)));
    return _mm_cvtss_f32(_mm_cvtpd_ps(r));
}

SinCos sinCos(float a) {
    if (!(std::fabs(a) <= kReducedRange)) return plain::sinCos(a);  // far, or not finite
    __m128d s, c;
    sinCosPair(lowPair(_mm_set_ss(a)), &s, &c);
    return {_mm_cvtss_f32(_mm_cvtpd_ps(s)), _mm_cvtss_f32(_mm_cvtpd_ps(c))};
}

__m128 atan2x4(__m128 y, __m128 x) {
    const __m128 r =
        joinPairs(atan2Pair(lowPair(y), lowPair(x)), atan2Pair(highPair(y), highPair(x)));
    const __m128 nan = _mm_cmpunord_ps(y, x);
    return _mm_or_ps(_mm_andnot_ps(nan, r),
                     _mm_and_ps(nan, _mm_castsi128_ps(_mm_set1_epi32(int(kNaNBits)))));
}

void sinCos4(__m128 a, __m128* sin, __m128* cos) {
    __m128d slo, clo, shi, chi;
    sinCosPair(lowPair(a), &slo, &clo);
    sinCosPair(highPair(a), &shi, &chi);
    __m128 s = joinPairs(slo, shi);
    __m128 c = joinPairs(clo, chi);
    // Lanes beyond the reduction's range (or not finite) take the scalar fallback.
    const __m128 magnitude = _mm_andnot_ps(_mm_set1_ps(-0.0f), a);
    const int far = _mm_movemask_ps(_mm_cmpnle_ps(magnitude, _mm_set1_ps(kReducedRange)));
    if (far != 0) {
        alignas(16) float as[4], ss[4], cs[4];
        _mm_store_ps(as, a);
        _mm_store_ps(ss, s);
        _mm_store_ps(cs, c);
        for (int i = 0; i < 4; ++i) {
            if ((far >> i & 1) == 0) continue;
            const SinCos sc = plain::sinCos(as[i]);
            ss[i] = sc.sin;
            cs[i] = sc.cos;
        }
        s = _mm_load_ps(ss);
        c = _mm_load_ps(cs);
    }
    *sin = s;
    *cos = c;
}

#else

float atan2(float y, float x) { return plain::atan2(y, x); }
SinCos sinCos(float a) { return plain::sinCos(a); }

#endif

}  // namespace gx::trig
