#include "universe/pull_blocks.h"

#include "universe/unit4.h"

namespace gx {

#if defined(__SSE2__)
void BlockPull::fill(uint32_t first, const BodyNode* node) {
    node_ = node;
    body_ = node_->body;
    cx_ = bitsOf(body_->centroid.x);
    cy_ = bitsOf(body_->centroid.y);
    mass_ = bitsOf(body_->mass);
    first_ = first;
    const uint32_t n = sim.particleCount - first < kBlock ? sim.particleCount - first : kBlock;
    end_ = first + n;
    for (uint32_t k = 0; k < kBlock; ++k) {
        const Particle& p = sim.particles[first + (k < n ? k : 0)];
        x_[k] = p.x;
        y_[k] = p.y;
    }
    const __m128 signBit = _mm_set1_ps(-0.0f);
    const __m128 zero = _mm_setzero_ps();
    const __m128 halfX = _mm_set1_ps(float(sim.halfWidth)),
                 halfY = _mm_set1_ps(float(sim.halfHeight));
    const __m128 cx = _mm_set1_ps(body_->centroid.x), cy = _mm_set1_ps(body_->centroid.y);
    const __m128 mass = _mm_set1_ps(body_->mass);
    const __m128 softening = _mm_set1_ps(kSoftening);
    const __m128 speed = _mm_set1_ps(sim.inverseSpeed);
    const __m128 g = _mm_set1_ps(sim.gravityStrength);
    uint32_t usable = 0;
    for (uint32_t k = 0; k < kBlock; k += 4) {
        const __m128 dx = _mm_sub_ps(cx, _mm_load_ps(&x_[k]));
        const __m128 dy = _mm_sub_ps(cy, _mm_load_ps(&y_[k]));
        // Beyond half a period the scalar wrap rule decides.
        const __m128 near = _mm_and_ps(_mm_cmple_ps(_mm_andnot_ps(signBit, dx), halfX),
                                       _mm_cmple_ps(_mm_andnot_ps(signBit, dy), halfY));
        usable |= uint32_t(_mm_movemask_ps(near)) << k;
        const Unit4 u = unit4(dx, dy);
        const __m128 dist = _mm_add_ps(u.length, softening);
        const __m128 f = _mm_mul_ps(g, _mm_div_ps(mass, _mm_mul_ps(_mm_mul_ps(dist, dist), speed)));
        _mm_store_ps(&ax_[k], _mm_add_ps(zero, _mm_mul_ps(u.x, f)));
        _mm_store_ps(&ay_[k], _mm_add_ps(zero, _mm_mul_ps(u.y, f)));
    }
    usable_ = usable;
}
#endif

}  // namespace gx
