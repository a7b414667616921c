// The rules that make the ring tables: every point of the square listed ring by ring,
// and the outward step code of each point.
#include "bodies/ring_rules.h"

#include <cmath>

#include "universe/trig.h"

namespace gx {

namespace {

constexpr float kPi = 3.1415927f;
constexpr float kTwoPi = 6.2831855f;
constexpr float kPiOver16 = 0.19634955f;
constexpr float kHundredth = 0.01f;

int signOf(float v) { return v >= 0.0f ? 1 : -1; }

}  // namespace

// Sweeping a ring evaluates cos and sin at about forty angles per unit of radius, while
// a point moves only a sixth of a pixel per angle step. After each evaluation we bound
// how far the point can move and step the angle (exactly as the plain loop would) past
// every angle that provably lands on the same pixel, or stays outside the square.
//
// Rounding: our cos and sin (universe/trig.h) are within kTrigError of the true value
// (they promise an ulp, 2^-24 or less here); c * r then adds at most r * 2^-24 and the + 800
// (result below 2400) at most 2^-13. So a computed coordinate is within pointError(r) of the exact
// r cos a + 800 (or r sin a + 800); its last term is spare room for the double arithmetic below and
// for keeping strictly inside a cell.
namespace {

constexpr double kTrigError = 0x1p-20;
double pointError(double r) { return r * (kTrigError + 0x1p-24) + 0x1p-13 + 0x1p-12; }

// How far the angle may advance from a while a coordinate computed as v = r*f(a) + 800
// stays inside (lo, hi). `slope` is the computed derivative factor of f at a (-sin for
// cos, cos for sin). Over an advance of d <= cap the true slope stays within
// slope +- (kTrigError + cap), so the true value rises by at most r*d*(slope + kTrigError
// + cap) and falls by at most r*d*(-slope + kTrigError + cap); the computed values at
// both ends are off the true ones by at most `error` each.
double advanceWithin(double v, double lo, double hi, double slope, double r, double cap,
                     double error) {
    const double roomUp = hi - v - 2.0 * error;
    const double roomDown = v - lo - 2.0 * error;
    if (!(roomUp > 0.0 && roomDown > 0.0)) return 0.0;
    double d = cap;
    const double rising = slope + kTrigError + cap;
    const double falling = -slope + kTrigError + cap;
    // Away from the turning points only one direction of motion is possible.
    if (rising > 0.0) d = std::min(d, roomUp / (r * rising));
    if (falling > 0.0) d = std::min(d, roomDown / (r * falling));
    return d;
}

// The bounds of the set of coordinates that truncate to the same value p as v: (-1, 1)
// for 0, [p, p + 1) otherwise; open bounds are fine as the caller keeps strictly inside.
// Values outside the square share one cell on each side.
void cellOf(int p, double& lo, double& hi) {
    if (p >= kRingSide) {
        lo = kRingSide;
        hi = HUGE_VAL;
    } else if (p < 0) {
        lo = -HUGE_VAL;
        hi = -1.0;
    } else {
        lo = p == 0 ? -1.0 : p;
        hi = p + 1.0;
    }
}

// From this radius on, every point of the circle has a coordinate at least 802 from
// the centre (max(|cos|, |sin|) >= 1/sqrt(2)), far past the square's -1 and 1600 edges.
bool ringWhollyOutside(int r) { return double(r) * double(r) > 2.0 * 802.0 * 802.0; }

}  // namespace

int sweepRing(int r, uint8_t* visited, RingPoint* points, int count) {
    if (ringWhollyOutside(r)) return count;
    const float radius = float(r);
    const float step = 1.0f / radius / kTwoPi;
    const double rd = r;
    const double error = pointError(rd);
    // Inside the square a point crosses a cell within about 2.3 / r radians; outside,
    // the arcs to skip are long and the slope term dominates the cap.
    const double capInside = 3.0 / rd;
    const double capOutside = 0.05;
    const double lastAngle = std::nextafter(kPi, 0.0f);  // the last float below pi
    float a = -kPi;
    while (a < kPi) {
        const trig::SinCos sc = trig::sinCos(a);
        const float c = sc.cos;
        const float s = sc.sin;
        const float fx = c * radius + float(kRingCentre);
        const float fy = s * radius + float(kRingCentre);
        const int px = int(fx);
        const int py = int(fy);
        const bool outX = px < 0 || px >= kRingSide;
        const bool outY = py < 0 || py >= kRingSide;
        double loX, hiX, loY, hiY;
        cellOf(px, loX, hiX);
        cellOf(py, loY, hiY);
        double advance;
        if (!outX && !outY) {
            uint8_t& seen = visited[py * kRingSide + px];
            if (!seen) {
                seen = 1;
                points[count++] = RingPoint{px, py};
            }
            advance = std::min(advanceWithin(fx, loX, hiX, -s, rd, capInside, error),
                               advanceWithin(fy, loY, hiY, c, rd, capInside, error));
        } else {
            advance = 0.0;
            if (outX) advance = advanceWithin(fx, loX, hiX, -s, rd, capOutside, error);
            if (outY) {
                advance = std::max(advance, advanceWithin(fy, loY, hiY, c, rd, capOutside, error));
            }
        }
        // Every angle up to `last` gives this pixel again (or stays outside). The angle
        // still advances one rounded step at a time, exactly as in the plain sweep.
        const double last = std::min(double(a) + advance, lastAngle);
        do {
            a += step;
        } while (double(a) <= last);
    }
    return count;
}

uint8_t codeForPoint(int px, int py, int k) {
    // Unit vector from the centre; the centre itself gives (0, 0) and angle 0.
    const float vx = float(px - kRingCentre);
    const float vy = float(py - kRingCentre);
    const float length = std::sqrt(vx * vx + vy * vy);
    float nx = 0.0f, ny = 0.0f;
    if (length > 0.0f && std::isfinite(length)) {
        nx = vx / length;
        ny = vy / length;
    }
    float theta = trig::atan2(nx, ny);
    theta = (k % 2 == 0) ? theta + kPiOver16 : theta - kPiOver16;

    // The twisted direction to two decimals, truncated.
    const trig::SinCos sc = trig::sinCos(theta);
    const float s = float(int(100.0f * sc.sin)) * kHundredth;
    const float c = float(int(100.0f * sc.cos)) * kHundredth;
    const float ox = float(k) * s;
    const float oy = float(k) * c;
    int dx = int(ox) - int(ox - s);
    int dy = int(oy) - int(oy - c);

    const float as = std::fabs(s), ac = std::fabs(c);
    if (dx == 0 && dy == 0) {
        if (ac < as) {
            dx = signOf(s);
        } else if (as < ac) {
            dy = signOf(c);
        } else if (!(px == kRingCentre && py == kRingCentre)) {
            dx = signOf(s);
            dy = signOf(c);
        }
    }
    // Keep the step on the dominant axis.
    if (ac < as && dx == 0 && dy != 0) {
        dx = signOf(s);
        dy = 0;
    } else if (ac > as && dy == 0 && dx != 0) {
        dx = 0;
        dy = signOf(c);
    }
    return uint8_t(ringStepCode(dx, dy));
}

}  // namespace gx
