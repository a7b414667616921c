// Fetch hints for walks along member lists.
//
// A body's members are linked through particles scattered over many megabytes, so each
// step of a walk waits for memory. Every walk records the order in which it met the
// members; the next walk of the same body asks the cache for the members a few steps
// ahead of it from that record. The walk itself always follows the links: a record gone
// stale (members left, joined or moved) only makes some hints miss.
#pragma once

#include <cstdint>

#include "bodies/bodies.h"
#include "core/prefetch.h"
#include "universe/world.h"

namespace gx {

struct TrailStep {
    Particle* member;
    int32_t cell;
};

// Starts a new round of walks: the walks of the round just ended become the record.
void beginTrailPass();
// Frees both records (on a world reset and at exit).
void releaseMemberTrail();

class MemberWalk {
public:
    explicit MemberWalk(Body* body) : body_(body) {
        MemberTrailBuffers& t = sim.memberTrail;
        if (body->trailPass + 1 == t.pass &&
            body->trailStart + body->trailCount <= t.previousSize) {
            ahead_ = t.previous + body->trailStart;
            aheadCount_ = body->trailCount;
        }
        start_ = t.currentSize;
    }

    ~MemberWalk() {
        MemberTrailBuffers& t = sim.memberTrail;
        body_->trailPass = t.pass;
        body_->trailStart = start_;
        body_->trailCount = t.currentSize - start_;
    }

    MemberWalk(const MemberWalk&) = delete;
    MemberWalk& operator=(const MemberWalk&) = delete;

    // Called once per member, in walk order, before the member is worked on.
    void step(Particle* link) {
        const uint32_t far = seen_ + kMemberAhead;
        if (far < aheadCount_) {
            prefetchForRead(ahead_[far].member);
        }
        const uint32_t near = seen_ + kCellAhead;
        if (near < aheadCount_) {
            const int32_t cell = ahead_[near].cell;
            if (cell >= 0 && cell < sim.cellCount) prefetchForRead(&sim.grid[cell]);
        }
        ++seen_;
        MemberTrailBuffers& t = sim.memberTrail;
        if (t.currentSize < t.capacity) {
            t.current[t.currentSize++] = TrailStep{link, link->cell};
        } else {
            t.overflowed = true;
        }
    }

private:
    static constexpr uint32_t kMemberAhead = 10;
    static constexpr uint32_t kCellAhead = 5;
    Body* body_;
    const TrailStep* ahead_ = nullptr;
    uint32_t aheadCount_ = 0;
    uint32_t seen_ = 0;
    uint32_t start_ = 0;
};

}  // namespace gx
