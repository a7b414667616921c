#include "bodies/member_trail.h"

#include <new>
#include <utility>

namespace gx {

void beginTrailPass() {
    MemberTrailBuffers& t = sim.memberTrail;
    // Grow to the round that did not fit; without memory the walks just go unhinted.
    if (t.overflowed || t.capacity == 0) {
        const uint32_t wanted = t.capacity == 0 ? 4096u : t.capacity * 2u;
        TrailStep* a = new (std::nothrow) TrailStep[wanted];
        TrailStep* b = new (std::nothrow) TrailStep[wanted];
        if (a && b) {
            delete[] t.previous;
            delete[] t.current;
            t.previous = a;
            t.current = b;
            t.capacity = wanted;
            t.previousSize = 0;
            t.currentSize = 0;
        } else {
            delete[] a;
            delete[] b;
        }
        t.overflowed = false;
    }
    std::swap(t.previous, t.current);
    t.previousSize = t.currentSize;
    t.currentSize = 0;
    t.pass += 1;
}

void releaseMemberTrail() {
    MemberTrailBuffers& t = sim.memberTrail;
    delete[] t.previous;
    delete[] t.current;
    const uint32_t pass = t.pass + 2;  // records made before the release never match
    t = MemberTrailBuffers{};
    t.pass = pass;
}

}  // namespace gx
