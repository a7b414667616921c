// Our own single-precision angle functions: atan2, and sin and cos computed together.
//
// The simulation depends on every bit of these results, so they are the project's own
// rather than the C library's (whose low bits change between versions and machines):
// the same picture gives the same universe everywhere. Each comes as a scalar and a
// four-wide (SSE2) form that give identical bits for identical inputs, in every build
// type: both work in double precision with the same operations in the same order (no
// fused multiply-add), and round once to float at the end.
//
// Accuracy: at most 1 ulp from the correctly rounded result (and that result itself for
// all but a few inputs in 10^4) over the whole float range for atan2, and for sin/cos over
// |a| <= 2^20 by a three-part reduction by pi/2; beyond 2^20 both forms fall back to an
// exact reduction in integer arithmetic (slower, same accuracy). tests/universe/trig_test
// checks a fixed sample and the edges; tools/trig_sweep checks every float by hand.
//
// Special values: NaN or an infinite angle gives a quiet NaN (0x7FC00000) for sin and
// cos; atan2 follows the IEEE table (atan2(+-0, -0) = +-pi, atan2(+-inf, -inf) =
// +-3pi/4, ...) and gives that NaN when either input is NaN.
#pragma once

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace gx::trig {

// atan2 in the usual argument order: the angle of the point (x, y) from the +x axis.
float atan2(float y, float x);

struct SinCos {
    float sin;
    float cos;
};
SinCos sinCos(float a);

#if defined(__SSE2__)
// Four at once, lane by lane the same bits as the scalar forms.
__m128 atan2x4(__m128 y, __m128 x);
void sinCos4(__m128 a, __m128* sin, __m128* cos);
#endif

// The same functions in plain C++ (the scalar forms where SSE2 is missing, and the far
// range of sin/cos everywhere); the tests hold all the forms to the same bits.
namespace plain {
float atan2(float y, float x);
SinCos sinCos(float a);
}  // namespace plain

}  // namespace gx::trig
