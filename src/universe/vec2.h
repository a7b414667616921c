// Two-component single-precision vectors and the angle convention of the universe:
// the angle of (x, y) is atan2(x, y), and an angle a stands for (sin a, cos a).
#pragma once

#include <cmath>

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
    return std::atan2(x, y);
}

// One correction into [-pi, pi]: angle differences never lie more than one turn off.
inline float correctAngle(float a) {
    if (a > kPi) return a - kTwoPi;
    if (a < -kPi) return a + kTwoPi;
    return a;
}

}  // namespace gx
