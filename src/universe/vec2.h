// Two-component single-precision vectors and the angle convention of the universe:
// the angle of (x, y) is atan2(x, y), and an angle a stands for (sin a, cos a). The angle
// functions are our own (universe/trig.h), so every machine gives the same bits.
#pragma once

#include <cmath>

#include "universe/trig.h"

namespace gx {

struct Vec2 {
    float x;
    float y;
};

constexpr float kPi = 3.1415927f;
constexpr float kTwoPi = 6.2831855f;

// Unit vector by the float length; a zero-length or non-finite vector gives (0, 0).
inline Vec2 unit(Vec2 v) {
    float len = std::sqrt(v.x * v.x + v.y * v.y);
    if (!(len > 0.0f) || !std::isfinite(len)) return {0.0f, 0.0f};
    Vec2 u{v.x / len, v.y / len};
    if (!std::isfinite(u.x) || !std::isfinite(u.y)) return {0.0f, 0.0f};
    return u;
}

inline float length(Vec2 v) { return std::sqrt(v.x * v.x + v.y * v.y); }

// atan2(0, -0) is pi; a zero-length vector has angle 0 so a resting particle keeps its heading.
inline float angleOf(float x, float y) {
    if (x == 0.0f && y == 0.0f) return 0.0f;
    return trig::atan2(x, y);
}

// The direction an angle stands for: (sin a, cos a).
inline Vec2 directionOf(float a) {
    const trig::SinCos sc = trig::sinCos(a);
    return {sc.sin, sc.cos};
}

#if defined(__SSE2__)
// angleOf four at a time, lane by lane the same bits.
inline __m128 angleOf4(__m128 x, __m128 y) {
    const __m128 zero = _mm_setzero_ps();
    const __m128 resting = _mm_and_ps(_mm_cmpeq_ps(x, zero), _mm_cmpeq_ps(y, zero));
    return _mm_andnot_ps(resting, trig::atan2x4(x, y));
}
#endif

// One correction into [-pi, pi]: angle differences never lie more than one turn off.
inline float correctAngle(float a) {
    if (a > kPi) return a - kTwoPi;
    if (a < -kPi) return a + kTwoPi;
    return a;
}

}  // namespace gx
