// Frame pacing on the real clock: the frame loop's wait (sleep to an absolute
// deadline, awake only for its last moment) held against the minimum frame times of
// the phases. Reports the mean frame interval, its error against the target, the
// spread, and the CPU the waits cost.
//   bench_pacing [--seconds S] [--work MS]
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "framework/frame_timer.h"

namespace {

double cpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + 1e-9 * double(ts.tv_nsec);
}

// Stands in for a frame's simulation and drawing.
void busy(double seconds) {
    auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < end) {}
}

}  // namespace

int main(int argc, char** argv) {
    double seconds = 60, workMs = 8;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--seconds")) seconds = std::atof(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--work")) workMs = std::atof(argv[i + 1]);
    }
    std::printf("# frame pacing, %.0f s per rate, %.1f ms of work per frame\n", seconds, workMs);
    std::printf("# target_ms   mean_ms   error_%%   p1_ms   p99_ms   frames   wait_cpu_per_s\n");
    for (double target : {1.0 / 15.0, 1.0 / 30.0}) {
        gx::FrameTimer timer;
        timer.reset();
        std::vector<double> intervals;
        auto last = std::chrono::steady_clock::now();
        double waitCpu = 0;
        auto start = last;
        while (std::chrono::duration<double>(last - start).count() < seconds) {
            double t = 0, absolute = 0;
            float elapsed = 0;
            timer.timeValues(&t, &absolute, &elapsed);
            if (elapsed < target) {
                double c0 = cpuSeconds();
                timer.waitForElapsed(target - elapsed);
                waitCpu += cpuSeconds() - c0;
            }
            auto now = std::chrono::steady_clock::now();
            intervals.push_back(std::chrono::duration<double>(now - last).count());
            last = now;
            busy(workMs / 1000.0);
        }
        intervals.erase(intervals.begin());  // the first one starts from nothing
        double mean = 0;
        for (double v : intervals) mean += v;
        mean /= double(intervals.size());
        std::vector<double> sorted = intervals;
        std::sort(sorted.begin(), sorted.end());
        double p1 = sorted[sorted.size() / 100], p99 = sorted[sorted.size() * 99 / 100];
        double wall = std::chrono::duration<double>(last - start).count();
        std::printf("%10.3f %9.3f %9.3f %7.3f %8.3f %8zu %14.4f\n", target * 1e3, mean * 1e3,
                    (mean - target) / target * 100.0, p1 * 1e3, p99 * 1e3, intervals.size(),
                    waitCpu / wall);
    }
    return 0;
}
