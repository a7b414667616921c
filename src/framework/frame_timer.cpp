#include "framework/frame_timer.h"

#include <algorithm>
#include <cerrno>
#include <ctime>

namespace gx {
namespace {
constexpr int64_t kTicksPerSecond = 1000000000;  // nanoseconds
// Waking from a sleep can be late by the timer slack and the scheduler; the last
// stretch before a deadline is spent awake instead.
constexpr int64_t kSpinTicks = 200000;
// At most this much of a late wake-up is taken back from the next frame.
constexpr int64_t kMaxCatchUp = 10000000;

int64_t monotonicNow() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * kTicksPerSecond + ts.tv_nsec;
}
}  // namespace

int64_t FrameTimer::now() const {
    if (stopped_) return stopped_;
    if (virtual_) return virtualNow_;
    return monotonicNow();
}

double FrameTimer::waitForElapsed(double minimum) {
    if (!virtual_ && !stopped_) {
        int64_t deadline = lastElapsed_ + int64_t(minimum * kTicksPerSecond);
        // When the previous frame also waited, this deadline is one frame after that
        // one, not after the moment the wait ended: a late wake-up is taken back here
        // instead of lengthening every frame.
        if (previousMark_ == waitEnd_) deadline -= std::min(waitEnd_ - lastDeadline_, kMaxCatchUp);
        lastDeadline_ = deadline;
        const int64_t wake = deadline - kSpinTicks;
        if (monotonicNow() < wake) {
            timespec ts{time_t(wake / kTicksPerSecond), long(wake % kTicksPerSecond)};
            while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) {}
        }
        while (monotonicNow() < deadline) {}
        double e = elapsedTime();
        waitEnd_ = lastElapsed_;
        return e;
    }
    return elapsedTime();
}

void FrameTimer::reset() {
    int64_t t = now();
    base_ = t;
    lastElapsed_ = t;
    stopped_ = 0;
}

double FrameTimer::absoluteTime() { return double(now() - base_) / kTicksPerSecond; }

double FrameTimer::elapsedTime() {
    int64_t t = now();
    previousMark_ = lastElapsed_;
    double e = double(t - lastElapsed_) / kTicksPerSecond;
    lastElapsed_ = t;
    return e < 0.0 ? 0.0 : e;
}

void FrameTimer::timeValues(double* time, double* absolute, float* elapsed) {
    int64_t t = now();
    previousMark_ = lastElapsed_;
    double e = double(t - lastElapsed_) / kTicksPerSecond;
    lastElapsed_ = t;
    if (e < 0.0) e = 0.0;
    if (time) *time = double(t) / kTicksPerSecond;
    if (absolute) *absolute = double(t - base_) / kTicksPerSecond;
    if (elapsed) *elapsed = float(e);
}

void FrameTimer::stop() {
    if (!stopped_) stopped_ = now();
}

void FrameTimer::start() {
    if (!stopped_) return;
    int64_t stoppedAt = stopped_;
    stopped_ = 0;
    int64_t t = now();
    base_ += t - stoppedAt;  // time spent stopped does not count
    lastElapsed_ = t;
}

void FrameTimer::setVirtual(bool on) {
    virtual_ = on;
    virtualNow_ = 0;
    reset();
}

void FrameTimer::advance(double seconds) {
    if (seconds > 0) virtualNow_ += int64_t(seconds * kTicksPerSecond + 0.5);
}

}  // namespace gx
