// unit() (vec2.h) four vectors at a time, with SSE.
#pragma once

#if defined(__SSE2__)
#include <emmintrin.h>

#include <cmath>

namespace gx {

// unit() four at a time: the float length, and the unit vector or (0, 0) where unit()
// gives that. SSE rounds the square root and quotients as the scalar instructions do.
struct Unit4 {
    __m128 length, x, y;
};
inline Unit4 unit4(__m128 dx, __m128 dy) {
    const __m128 signBit = _mm_set1_ps(-0.0f), infinity = _mm_set1_ps(INFINITY),
                 zero = _mm_setzero_ps();
    const __m128 len = _mm_sqrt_ps(_mm_add_ps(_mm_mul_ps(dx, dx), _mm_mul_ps(dy, dy)));
    const __m128 ux = _mm_div_ps(dx, len), uy = _mm_div_ps(dy, len);
    const __m128 ok = _mm_and_ps(_mm_and_ps(_mm_cmpgt_ps(len, zero), _mm_cmplt_ps(len, infinity)),
                                 _mm_and_ps(_mm_cmplt_ps(_mm_andnot_ps(signBit, ux), infinity),
                                            _mm_cmplt_ps(_mm_andnot_ps(signBit, uy), infinity)));
    return {len, _mm_and_ps(ok, ux), _mm_and_ps(ok, uy)};
}

}  // namespace gx
#endif
