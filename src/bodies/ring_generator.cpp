// Generating the ring tables: the two compute stages with their progress and QUIT
// checks, the worker thread and the progress window object.
#include "bodies/ring_generator.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <system_error>

#include "platform/os/message_box.h"

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

// ---- the rules ----

namespace {

constexpr float kPi = 3.1415927f;
constexpr float kTwoPi = 6.2831855f;
constexpr float kPiOver16 = 0.19634955f;
constexpr float kHundredth = 0.01f;

RingGeneratorHooks hooks;

int signOf(float v) { return v >= 0.0f ? 1 : -1; }

}  // namespace

int sweepRing(int r, uint8_t* visited, RingPoint* points, int count) {
  const float radius = float(r);
  const float step = 1.0f / radius / kTwoPi;
  for (float a = -kPi; a < kPi; a += step) {
    const int px = int(std::cos(a) * radius + float(kRingCentre));
    const int py = int(std::sin(a) * radius + float(kRingCentre));
    if (px < 0 || px >= kRingSide || py < 0 || py >= kRingSide) continue;
    uint8_t& seen = visited[py * kRingSide + px];
    if (seen) continue;
    seen = 1;
    points[count++] = RingPoint{px, py};
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
  float theta = std::atan2(nx, ny);
  theta = (k % 2 == 0) ? theta + kPiOver16 : theta - kPiOver16;

  // The twisted direction to two decimals, truncated.
  const float s = float(int(100.0f * std::sin(theta))) * kHundredth;
  const float c = float(int(100.0f * std::cos(theta))) * kHundredth;
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

// ---- generateRingTables ----

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

bool generateRingTablesTo(const std::string& path) {
  freeRingTables();
  DataGenWindow window;
  window.start();

  // Stage 1: the rings, 0% to 96%.
  RingTables& t = ringTables;
  uint8_t* visited = nullptr;
  if (hooks.failAllocationInStage != 1) {
    visited = new (std::nothrow) uint8_t[kRingPointCount]();
    t.ringPoints = new (std::nothrow) RingPoint[kRingPointCount]();
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
  writeRingTables(t, path);
  beforeWindowCloses(window);
  return true;
}

bool generateRingTables() { return generateRingTablesTo(ringTablesPath()); }

}  // namespace gx
