// The first-run generator of the ring tables, with a progress window on a worker
// thread so the window stays responsive while the calling thread computes.
#pragma once

#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "bodies/ring_rules.h"
#include "bodies/ring_tables.h"
#include "ui/progress_window.h"

namespace gx {

// Owns one thread that runs `run`.
class Thread {
public:
    Thread() = default;
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;
    virtual ~Thread();
    virtual int run();

    // Joins a previous thread first; on failure to create one, says so on standard
    // output. Either way the object counts as running afterwards.
    void start();
    void join();
    bool running() const { return runningFlag_ != 0; }
    bool hasThread() const { return handle_.joinable(); }

private:
    std::thread handle_;
    int runningFlag_ = 0;
};

// The progress window: its thread shows the display until the generator ends it or
// the user presses QUIT.
class DataGenWindow : public Thread {
public:
    DataGenWindow() = default;
    ~DataGenWindow() override;
    int run() override;

    // From the generating thread. Ignored until the window is up; a percentage equal to
    // the last shown one is not sent again.
    void setProgress(int percent);
    bool closed() const { return link_.quit.load(std::memory_order_relaxed); }
    bool windowShown() const { return link_.shown.load(); }
    int lastShown() const { return lastShown_; }
    // Every percentage sent to the window, in order.
    const std::vector<int>& shownPercentages() const { return shown_; }
    // Presses QUIT, as the button (or Ctrl-C) would.
    void pressQuit();

private:
    ProgressLink link_;
    int lastShown_ = -1;
    std::vector<int> shown_;
};

// Computes all four tables into ringTables, showing the progress window, and writes
// the data file (a file that cannot be written is not an error). False when the user
// pressed QUIT (tables left empty, no file written) or memory ran out.
bool generateRingTables();
bool generateRingTablesTo(const std::string& path);

// Observation points for tests and benchmarks; empty functions cost nothing.
struct RingGeneratorHooks {
    // After each ring (stage 1, step r) and each direction code (stage 2, step i),
    // before the QUIT check.
    std::function<void(int stage, int step, DataGenWindow& window)> afterStep;
    // Just before the window is taken down, on every way out.
    std::function<void(DataGenWindow& window)> beforeClose;
    // Makes the allocation of stage 1 or 2 fail.
    int failAllocationInStage = 0;
};
void setRingGeneratorHooks(RingGeneratorHooks hooks);

}  // namespace gx
