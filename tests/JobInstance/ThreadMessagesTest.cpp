#include "JobInstance/ThreadMessages.h"

#include "TestSupport.h"

#include <atomic>
#include <condition_variable>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>

namespace Kalvor {
namespace {

using Test::waitFor;

// A thread that does what it is told, one step at a time, and reports its id.
class Worker {
public:
    explicit Worker(bool withQueue)
        : thread_([this, withQueue] {
              if (withQueue)
                  ensureMessageQueue();
              id_ = currentThreadId();
              std::unique_lock<std::mutex> lock(mutex_);
              changed_.wait(lock, [this] { return quit_; });
          }) {
        waitFor([this] { return id_ != 0; });
    }
    ~Worker() { finish(); }

    uint32_t id() const { return id_; }
    void finish() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            quit_ = true;
        }
        changed_.notify_all();
        if (thread_.joinable())
            thread_.join();
    }

private:
    std::atomic<uint32_t> id_{0};
    std::mutex mutex_;
    std::condition_variable changed_;
    bool quit_ = false;
    std::thread thread_;
};

TEST(ThreadMessages, ThreadIdsAreDistinctAndNotZero) {
    Worker worker(false);
    EXPECT_NE(currentThreadId(), 0u);
    EXPECT_NE(worker.id(), 0u);
    EXPECT_NE(worker.id(), currentThreadId());
}

TEST(ThreadMessages, PostingNeedsAQueueOnTheOtherSide) {
    Worker withoutQueue(false);
    EXPECT_FALSE(postThreadMessage(withoutQueue.id(), kWmClose, 0, 0));
    Worker withQueue(true);
    EXPECT_TRUE(postThreadMessage(withQueue.id(), kWmClose, 0, 0));
    const uint32_t ended = withQueue.id();
    withQueue.finish();
    EXPECT_FALSE(postThreadMessage(ended, kWmClose, 0, 0)) << "the queue went with its thread";
}

TEST(ThreadMessages, PeekTakesOneMessageAtATimeInOrder) {
    ensureMessageQueue();
    ThreadMessage message;
    while (peekMessage(message)) {
        // Left over from anything else on this thread.
    }
    const uint32_t self = currentThreadId();
    ASSERT_TRUE(postThreadMessage(self, kWmClose, 5, -6));
    ASSERT_TRUE(postThreadMessage(self, kWmDestroy, 7, 8));
    ASSERT_TRUE(peekMessage(message));
    EXPECT_EQ(message.message, kWmClose);
    EXPECT_EQ(message.wParam, 5u);
    EXPECT_EQ(message.lParam, -6);
    ASSERT_TRUE(peekMessage(message));
    EXPECT_EQ(message.message, kWmDestroy);
    EXPECT_EQ(message.wParam, 7u);
    EXPECT_EQ(message.lParam, 8);
    EXPECT_FALSE(peekMessage(message));
}

TEST(ThreadMessages, AMessageFromAnotherThreadArrives) {
    ensureMessageQueue();
    const uint32_t self = currentThreadId();
    std::thread([self] { EXPECT_TRUE(postThreadMessage(self, kWmClose, 1, 0)); }).join();
    ThreadMessage message;
    EXPECT_TRUE(waitFor([&] { return peekMessage(message); }));
    EXPECT_EQ(message.message, kWmClose);
}

} // namespace
} // namespace Kalvor
