#include "core/background_task.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

namespace gx {
namespace {

TEST(BackgroundTask, RunsOnItsOwnThreadAndWaitReturnsOnlyWhenDone) {
    BackgroundTask task;
    task.wait();  // nothing started: returns at once
    std::atomic<bool> done{false};
    std::thread::id ran;
    ASSERT_TRUE(task.start([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        ran = std::this_thread::get_id();
        done = true;
    }));
    task.wait();
    EXPECT_TRUE(done);
    EXPECT_NE(ran, std::this_thread::get_id());
    // Many rounds in a row, each seen whole by the waiter.
    int count = 0;
    for (int i = 0; i < 2000; ++i) {
        ASSERT_TRUE(task.start([&count] { ++count; }));
        task.wait();
        ASSERT_EQ(count, i + 1);
    }
}

TEST(BackgroundTask, RefusesASecondTaskWhileOneIsPending) {
    BackgroundTask task;
    std::promise<void> release;
    std::shared_future<void> gate = release.get_future().share();
    std::atomic<int> runs{0};
    ASSERT_TRUE(task.start([&] {
        gate.wait();
        ++runs;
    }));
    EXPECT_FALSE(task.start([&] { runs += 100; }));
    release.set_value();
    task.wait();
    EXPECT_EQ(runs, 1);
    ASSERT_TRUE(task.start([&] { ++runs; }));
    task.wait();
    EXPECT_EQ(runs, 2);
}

TEST(BackgroundTask, EndingWaitsForTheRunningTask) {
    std::atomic<bool> done{false};
    {
        BackgroundTask task;
        ASSERT_TRUE(task.start([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
            done = true;
        }));
    }
    EXPECT_TRUE(done);
}

}  // namespace
}  // namespace gx
