// Generating the ring tables: the two compute stages (bodies/ring_rules.h) with their
// progress and QUIT checks, the worker thread and the progress window object.
#include "ui/ring_generator.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <system_error>

#include "framework/failures.h"

namespace gx {

// ---- Thread ----

Thread::~Thread() { join(); }

int Thread::run() { return 0; }

void Thread::start() {
    if (handle_.joinable()) {
        runningFlag_ = 0;
        handle_.join();
    }
    try {
        handle_ = std::thread([this] { run(); });
    } catch (const std::system_error&) {
        std::fputs("ERROR: No thread created\n", stdout);
        std::fflush(stdout);
    }
    runningFlag_ = 1;
}

void Thread::join() {
    if (!handle_.joinable()) return;
    runningFlag_ = 0;
    handle_.join();
}

// ---- DataGenWindow ----

DataGenWindow::~DataGenWindow() {
    // End the display and wait here: the thread still uses this object's members,
    // which are gone before the base destructor would join.
    link_.ended.store(true);
    wakeProgressDisplay(link_);
    join();
}

int DataGenWindow::run() { return runProgressDisplay(link_); }

void DataGenWindow::setProgress(int percent) {
    if (!link_.shown.load(std::memory_order_acquire)) return;
    if (percent == lastShown_) return;
    lastShown_ = percent;
    shown_.push_back(percent);
    link_.percent.store(percent);
    wakeProgressDisplay(link_);
}

void DataGenWindow::pressQuit() {
    link_.quit.store(true);
    wakeProgressDisplay(link_);
}

// ---- generateRingTables ----

namespace {
RingGeneratorHooks hooks;
}  // namespace

void setRingGeneratorHooks(RingGeneratorHooks h) { hooks = std::move(h); }

namespace {

// The window's destructor ends it and joins its thread when the generator returns;
// before that, the hook sees it one last time.
void beforeWindowCloses(DataGenWindow& window) {
    if (hooks.beforeClose) hooks.beforeClose(window);
}

bool outOfMemory(DataGenWindow& window, uint8_t* visited) {
    delete[] visited;
    freeRingTables();
    reportOutOfMemory();
    beforeWindowCloses(window);
    return false;
}

bool stoppedByUser(DataGenWindow& window, uint8_t* visited) {
    delete[] visited;
    freeRingTables();
    beforeWindowCloses(window);
    return false;
}

}  // namespace

namespace {

// A line for standard error, printed once the progress display is gone (it is
// declared before the window, so it outlives it).
struct NoticeAfterWindow {
    std::string text;
    ~NoticeAfterWindow() {
        if (!text.empty()) std::fputs(text.c_str(), stderr);
    }
};

}  // namespace

bool generateRingTablesTo(const std::string& path) {
    freeRingTables();
    NoticeAfterWindow notice;
    DataGenWindow window;
    window.start();

    // Stage 1: the rings, 0% to 96%.
    RingTables& t = ringTables;
    uint8_t* visited = nullptr;
    if (hooks.failAllocationInStage != 1) {
        visited = new (std::nothrow) uint8_t[kRingPointCount]();
        // Left unset here: the sweep writes every listed entry and the rest are cleared
        // after it, so each page is touched once.
        t.ringPoints = new (std::nothrow) RingPoint[kRingPointCount];
        t.ringStart = new (std::nothrow) int32_t[kRingCount]();
    }
    if (!visited || !t.ringPoints || !t.ringStart) return outOfMemory(window, visited);
    t.ringCentreX = kRingCentre;
    t.ringCentreY = kRingCentre;
    t.ringStart[0] = 0;

    int count = 0;
    for (int r = 1; r < kRingCount; ++r) {
        t.ringStart[r] = count;
        count = sweepRing(r, visited, t.ringPoints, count);
        if (hooks.afterStep) hooks.afterStep(1, r, window);
        if (window.closed()) return stoppedByUser(window, visited);
        const float done = float(r + 1) / float(kRingCount);
        window.setProgress(int(done * done * 96.0f));
    }
    std::fill(t.ringPoints + count, t.ringPoints + kRingPointCount, RingPoint{0, 0});
    delete[] visited;
    visited = nullptr;
    for (int32_t& shade : t.ringShades) shade = std::rand() % 32 + 191;

    // Stage 2: the direction codes, 96% to 99%.
    if (hooks.failAllocationInStage != 2) {
        t.directionCodes = new (std::nothrow) uint8_t[kRingPointCount]();
    }
    if (!t.directionCodes) return outOfMemory(window, nullptr);
    int k = 0;
    for (int i = 0; i < kRingPointCount; ++i) {
        // Rings that add no point share a start, so k moves at most one per point.
        if (i == t.ringStart[std::min(k + 1, kRingCount - 1)]) ++k;
        const RingPoint p = t.ringPoints[i];
        t.directionCodes[p.y * kRingSide + p.x] = codeForPoint(p.x, p.y, k);
        if (hooks.afterStep) hooks.afterStep(2, i, window);
        if (window.closed()) return stoppedByUser(window, nullptr);
        window.setProgress(int(float(i) / float(kRingPointCount) * 4.0f + 96.0f));
    }

    window.setProgress(100);
    int error = 0;
    if (!writeRingTables(t, path, &error)) {
        // The tables serve this run; without the file the next run makes them again.
        notice.text = "glimmerax: the data file could not be written to " + path + " (" +
                      std::strerror(error) + "); it will be made again next time.\n";
    }
    beforeWindowCloses(window);
    return true;
}

bool generateRingTables() { return generateRingTablesTo(ringTablesPath()); }

}  // namespace gx
