#include "core/background_task.h"

#include <system_error>

namespace gx {

BackgroundTask::~BackgroundTask() {
    if (!thread_.joinable()) return;
    {
        std::unique_lock<std::mutex> lock(mutex_);
        finished_.wait(lock, [this] { return !pending_; });
        quit_ = true;
    }
    wake_.notify_one();
    thread_.join();
}

bool BackgroundTask::start(std::function<void()> task) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (pending_ || failed_) return false;
    if (!thread_.joinable()) {
        try {
            thread_ = std::thread([this] { loop(); });
        } catch (const std::system_error&) {
            failed_ = true;  // the caller does the work itself from now on
            return false;
        }
    }
    task_ = std::move(task);
    pending_ = true;
    wake_.notify_one();
    return true;
}

void BackgroundTask::wait() {
    std::unique_lock<std::mutex> lock(mutex_);
    finished_.wait(lock, [this] { return !pending_; });
}

void BackgroundTask::loop() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return pending_ || quit_; });
        if (quit_) return;
        std::function<void()> task = std::move(task_);
        lock.unlock();
        task();
        lock.lock();
        pending_ = false;
        finished_.notify_all();
    }
}

}  // namespace gx
