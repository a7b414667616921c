#include "platform/gfx/draw_worker.h"

#include <emmintrin.h>

#include <system_error>

namespace gx::gfx {

DrawWorker::~DrawWorker() {
    if (!thread_.joinable()) return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        quit_ = true;
    }
    wake_.notify_one();
    thread_.join();
}

bool DrawWorker::start() {
    if (thread_.joinable()) return true;
    if (failed_) return false;
    try {
        thread_ = std::thread([this] { loop(); });
    } catch (const std::system_error&) {
        failed_ = true;  // drawing goes on, on one thread
        return false;
    }
    return true;
}

void DrawWorker::forChunks(int count, const std::function<void(int)>& body) {
    if (count <= 0) return;
    if (count == 1 || !start()) {
        for (int i = 0; i < count; ++i) body(i);
        return;
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        body_ = &body;
        count_ = count;
        next_.store(0, std::memory_order_relaxed);
        posted_ = true;
    }
    wake_.notify_one();
    for (int i; (i = next_.fetch_add(1, std::memory_order_relaxed)) < count;) body(i);
    std::unique_lock<std::mutex> lock(mutex_);
    if (posted_) posted_ = false;  // the worker never took it: nothing of it to wait for
    else finished_.wait(lock, [this] { return !running_; });
    body_ = nullptr;
}

void DrawWorker::loop() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return posted_ || quit_; });
        if (quit_) return;
        posted_ = false;
        running_ = true;
        const std::function<void(int)>* body = body_;
        int count = count_;
        lock.unlock();
        for (int i; (i = next_.fetch_add(1, std::memory_order_relaxed)) < count;) (*body)(i);
        _mm_sfence();  // streaming stores are seen by the caller once it wakes
        lock.lock();
        running_ = false;
        finished_.notify_one();
    }
}

}  // namespace gx::gfx
