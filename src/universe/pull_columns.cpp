#include "universe/pull_columns.h"

#include <new>
#include <vector>

#include "universe/pull.h"
#include "universe/unit4.h"

namespace gx {

#if defined(__SSE2__)
bool attractPairsByColumns(float g) {
    // The bodies as columns, so one body's pairs with all later ones go four at a time.
    BodyColumns& c = sim.columns;
    size_t n = 0;
    try {
        c.body.clear();
        for (BodyNode* node = bodyList(); node != nullptr; node = node->next)
            c.body.push_back(node->body);
        n = c.body.size();
        for (auto* v : {&c.cx, &c.cy, &c.mass, &c.vx, &c.vy, &c.termX, &c.termY}) v->resize(n);
    } catch (const std::bad_alloc&) {
        return false;
    }
    for (size_t k = 0; k < n; ++k) {
        const Body* b = c.body[k];
        c.cx[k] = b->centroid.x;
        c.cy[k] = b->centroid.y;
        c.mass[k] = b->mass;
        c.vx[k] = b->velocity.x;
        c.vy[k] = b->velocity.y;
    }
    const __m128 periodX = _mm_set1_ps(float(sim.wrapWidth)),
                 periodY = _mm_set1_ps(float(sim.wrapHeight));
    const __m128 halfX = _mm_set1_ps(float(sim.halfWidth)),
                 halfY = _mm_set1_ps(float(sim.halfHeight));
    const __m128 signBit = _mm_set1_ps(-0.0f);
    const __m128 softening = _mm_set1_ps(kSoftening);
    const __m128 speed = _mm_set1_ps(sim.inverseSpeed);
    const __m128 gv = _mm_set1_ps(g);
    auto select = [](__m128 mask, __m128 yes, __m128 no) {
        return _mm_or_ps(_mm_and_ps(mask, yes), _mm_andnot_ps(mask, no));
    };
    // One step toward the nearer image, as the scalar rule does for |d| below a period.
    auto nearer = [&](__m128 d, __m128 half, __m128 period) {
        const __m128 down = _mm_sub_ps(d, period), up = _mm_add_ps(d, period);
        const __m128 negHalf = _mm_xor_ps(half, signBit);
        return select(_mm_cmpgt_ps(d, half), down, select(_mm_cmplt_ps(d, negHalf), up, d));
    };
    for (size_t i = 0; i < n; ++i) {
        const Vec2 ca{c.cx[i], c.cy[i]};
        const float ma = c.mass[i];
        const __m128 ax = _mm_set1_ps(ca.x), ay = _mm_set1_ps(ca.y), mav = _mm_set1_ps(ma);
        // The scalar rule, for the pairs the four-wide step does not cover.
        auto onePair = [&](size_t k) {
            const PairPull f = pairPull(ca, ma, {c.cx[k], c.cy[k]}, c.mass[k], g);
            c.termX[k] = f.ax;
            c.termY[k] = f.ay;
            c.vx[k] -= f.bx;
            c.vy[k] -= f.by;
        };
        size_t j = i + 1;
        for (; j + 4 <= n; j += 4) {
            const __m128 dx0 = _mm_sub_ps(_mm_loadu_ps(&c.cx[j]), ax);
            const __m128 dy0 = _mm_sub_ps(_mm_loadu_ps(&c.cy[j]), ay);
            const __m128 within = _mm_and_ps(_mm_cmplt_ps(_mm_andnot_ps(signBit, dx0), periodX),
                                             _mm_cmplt_ps(_mm_andnot_ps(signBit, dy0), periodY));
            if (_mm_movemask_ps(within) != 0xF) {
                for (size_t k = j; k < j + 4; ++k) onePair(k);
                continue;
            }
            const __m128 dx = nearer(dx0, halfX, periodX);
            const __m128 dy = nearer(dy0, halfY, periodY);
            const Unit4 u = unit4(dx, dy);
            const __m128 nx = u.x, ny = u.y;
            const __m128 dist = _mm_add_ps(u.length, softening);
            const __m128 denominator = _mm_mul_ps(_mm_mul_ps(dist, dist), speed);
            const __m128 fa = _mm_mul_ps(gv, _mm_div_ps(_mm_loadu_ps(&c.mass[j]), denominator));
            const __m128 fb = _mm_mul_ps(gv, _mm_div_ps(mav, denominator));
            _mm_storeu_ps(&c.termX[j], _mm_mul_ps(nx, fa));
            _mm_storeu_ps(&c.termY[j], _mm_mul_ps(ny, fa));
            _mm_storeu_ps(&c.vx[j], _mm_sub_ps(_mm_loadu_ps(&c.vx[j]), _mm_mul_ps(nx, fb)));
            _mm_storeu_ps(&c.vy[j], _mm_sub_ps(_mm_loadu_ps(&c.vy[j]), _mm_mul_ps(ny, fb)));
        }
        for (; j < n; ++j) onePair(j);
        float vx = c.vx[i], vy = c.vy[i];
        for (size_t k = i + 1; k < n; ++k) {
            vx += c.termX[k];
            vy += c.termY[k];
        }
        c.vx[i] = vx;
        c.vy[i] = vy;
    }
    for (size_t k = 0; k < n; ++k) {
        c.body[k]->velocity.x = c.vx[k];
        c.body[k]->velocity.y = c.vy[k];
    }
    return true;
}

#else
bool attractPairsByColumns(float) { return false; }
#endif

}  // namespace gx
