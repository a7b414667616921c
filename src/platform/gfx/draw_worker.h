// A second thread for large draws. The caller cuts the work into chunks (bands of rows)
// that both threads take in turn; a chunk is drawn whole by one thread, so the pixels
// come out as they would on one. If the worker has not woken by the time the caller
// has taken every chunk, the caller does not wait for it.
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace gx::gfx {

class DrawWorker {
public:
    DrawWorker() = default;
    ~DrawWorker();
    DrawWorker(const DrawWorker&) = delete;
    DrawWorker& operator=(const DrawWorker&) = delete;

    // Runs body(i) for every i in [0, count), on this thread and the worker; returns when
    // all have run. Without a worker thread (it could not be started) all run here.
    void forChunks(int count, const std::function<void(int)>& body);

private:
    void loop();
    bool start();

    std::mutex mutex_;
    std::condition_variable wake_, finished_;
    const std::function<void(int)>* body_ = nullptr;
    int count_ = 0;
    std::atomic<int> next_{0};
    bool posted_ = false, running_ = false, quit_ = false, failed_ = false;
    std::thread thread_;
};

}  // namespace gx::gfx
