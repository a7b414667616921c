#include "reference_rings.h"

#include <cmath>

#include "universe/trig.h"

namespace reference {

namespace {

int sgn(float v) {
    if (v < 0.0f) return -1;
    return 1;
}

uint8_t code(int dx, int dy) {
    if (dx == -1 && dy == -1) return 5;
    if (dx == -1 && dy == 0) return 4;
    if (dx == -1 && dy == 1) return 3;
    if (dx == 0 && dy == -1) return 6;
    if (dx == 0 && dy == 1) return 2;
    if (dx == 1 && dy == -1) return 7;
    if (dx == 1 && dy == 0) return 8;
    if (dx == 1 && dy == 1) return 9;
    return 0;
}

}  // namespace

Tables build() {
    const float pi = 3.1415927f;
    const float twoPi = 6.2831855f;
    Tables t;
    t.ringStart.assign(1600, 0);
    t.points.assign(2 * 2560000, 0);
    t.codes.assign(1600 * 1600, 0);
    std::vector<bool> visited(1600 * 1600, false);

    int j = 0;
    for (int r = 1; r <= 1599; r++) {
        t.ringStart[r] = j;
        float rr = (float)r;
        float step = 1.0f / rr;
        step = step / twoPi;
        float a = -pi;
        while (a < pi) {
            // The rules' cos and sin are the program's own (universe/trig.h).
            const gx::trig::SinCos sc = gx::trig::sinCos(a);
            float fx = sc.cos * rr + 800.0f;
            float fy = sc.sin * rr + 800.0f;
            int px = (int)fx;
            int py = (int)fy;
            if (px >= 0 && px <= 1599 && py >= 0 && py <= 1599) {
                if (!visited[px + py * 1600]) {
                    visited[px + py * 1600] = true;
                    t.points[2 * j] = px;
                    t.points[2 * j + 1] = py;
                    j++;
                }
            }
            a = a + step;
        }
    }
    t.listed = j;

    int k = 0;
    for (int i = 0; i < 2560000; i++) {
        int next = k + 1;
        if (next > 1599) next = 1599;
        if (i == t.ringStart[next]) k++;
        int px = t.points[2 * i];
        int py = t.points[2 * i + 1];
        float x = (float)(px - 800);
        float y = (float)(py - 800);
        float len = sqrtf(x * x + y * y);
        float nx = 0.0f;
        float ny = 0.0f;
        if (len != 0.0f) {
            nx = x / len;
            ny = y / len;
        }
        float theta = gx::trig::atan2(nx, ny);
        if (k % 2 == 0) {
            theta = theta + 0.19634955f;
        } else {
            theta = theta - 0.19634955f;
        }
        float s = (float)(int)(100.0f * gx::trig::sinCos(theta).sin) * 0.01f;
        float c = (float)(int)(100.0f * gx::trig::sinCos(theta).cos) * 0.01f;
        float ox = (float)k * s;
        float oy = (float)k * c;
        int dx = (int)ox - (int)(ox - s);
        int dy = (int)oy - (int)(oy - c);
        if (dx == 0 && dy == 0) {
            if (fabsf(c) < fabsf(s)) {
                dx = sgn(s);
            } else if (fabsf(s) < fabsf(c)) {
                dy = sgn(c);
            } else if (px != 800 || py != 800) {
                dx = sgn(s);
                dy = sgn(c);
            }
        }
        if (fabsf(c) < fabsf(s) && dx == 0 && dy != 0) {
            dx = sgn(s);
            dy = 0;
        }
        if (fabsf(c) > fabsf(s) && dy == 0 && dx != 0) {
            dx = 0;
            dy = sgn(c);
        }
        t.codes[py * 1600 + px] = code(dx, dy);
    }
    return t;
}

}  // namespace reference
