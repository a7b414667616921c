// One task at a time on a thread of its own, for work that can run beside the caller's.
// The caller waits for the task before it touches what the task touches.
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace gx {

class BackgroundTask {
public:
    BackgroundTask() = default;
    ~BackgroundTask();
    BackgroundTask(const BackgroundTask&) = delete;
    BackgroundTask& operator=(const BackgroundTask&) = delete;

    // Starts task (which must not throw) on the thread. False when no thread could be started or a
    // task is still running; the task has then not run.
    bool start(std::function<void()> task);
    // Returns once the started task has finished; at once when none was started.
    void wait();

private:
    void loop();

    std::mutex mutex_;
    std::condition_variable wake_, finished_;
    std::function<void()> task_;
    bool pending_ = false, quit_ = false, failed_ = false;
    std::thread thread_;
};

}  // namespace gx
