// The global frame clock. Real time from a monotonic counter, or virtual time that a
// headless run advances by hand, so tests and frame dumps are repeatable.
#pragma once

#include <cstdint>

namespace gx {

class FrameTimer {
public:
    void reset();
    double absoluteTime();
    // Seconds since the previous call (never negative).
    double elapsedTime();
    void timeValues(double* time, double* absoluteTime, float* elapsed);
    bool isStopped() const { return stopped_ != 0; }
    void stop();
    void start();
    // Waits until at least `minimum` seconds have passed since the previous elapsed-time
    // query and returns the elapsed time then: asleep until just before that deadline
    // (an absolute one, and one frame after the previous deadline when the previous frame
    // waited too, so late wake-ups do not add up), awake for the last moment.
    double waitForElapsed(double minimum);

    // Virtual clock: time moves only through advance().
    void setVirtual(bool on);
    bool isVirtual() const { return virtual_; }
    void advance(double seconds);

private:
    int64_t now() const;
    bool virtual_ = false;
    int64_t virtualNow_ = 0;
    int64_t base_ = 0;
    int64_t lastElapsed_ = 0;
    int64_t previousMark_ = -1;  // lastElapsed_ before its last move
    int64_t waitEnd_ = -2;       // where the last wait left lastElapsed_
    int64_t lastDeadline_ = 0;
    int64_t stopped_ = 0;
};

}  // namespace gx
