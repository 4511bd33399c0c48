// The one wait of a loop: ends of watched processes reported once each, whatever their number,
// and wake-ups from other threads, a posted message or a stop request ending it at once.
#include "JobInstance/StopFlag.h"
#include "JobInstance/ThreadMessages.h"
#include "JobInstance/WaitSet.h"
#include "JobTestSupport.h"

#include <algorithm>
#include <chrono>
#include <gtest/gtest.h>
#include <thread>

namespace Kalvor {
namespace {

using Test::startHelper;
using Test::waitFor;

// Generous: a wait that is not ended by what the test does runs this long and fails the bound.
constexpr uint32_t kLongWait = 30000;
constexpr auto kWellBefore = std::chrono::seconds(20);

template <typename Action> bool endsTheWaitEarly(WaitSet& set, Action&& action) {
    const auto start = std::chrono::steady_clock::now();
    std::thread other(std::forward<Action>(action));
    set.wait(kLongWait);
    other.join();
    return std::chrono::steady_clock::now() - start < kWellBefore;
}

TEST(WaitSet, AProcessEndIsReportedOnceAndThenNoLongerWatched) {
    // 259 is the code that reads as "still running" on Windows: its handle stays signalled.
    const auto job = startHelper("exit 259");
    WaitSet set;
    set.watch(job->waitable());
    std::vector<intptr_t> ended;
    ASSERT_TRUE(waitFor([&] {
        const std::vector<intptr_t> got = set.wait(100);
        ended.insert(ended.end(), got.begin(), got.end());
        return !ended.empty();
    }));
    EXPECT_EQ(ended, std::vector<intptr_t>{job->waitable()});
    EXPECT_TRUE(set.wait(50).empty()) << "an end seen once must not end every later wait";
}

TEST(WaitSet, EveryOneOfManyProcessesIsReported) {
    // More than a single Windows wait can hold (64 handles).
    constexpr int kProcesses = 70;
    std::vector<std::unique_ptr<ProcessInstance>> jobs;
    WaitSet set;
    for (int index = 0; index < kProcesses; ++index) {
        jobs.push_back(startHelper("exit 0"));
        set.watch(jobs.back()->waitable());
    }
    std::vector<intptr_t> ended;
    ASSERT_TRUE(waitFor([&] {
        const std::vector<intptr_t> got = set.wait(100);
        ended.insert(ended.end(), got.begin(), got.end());
        return ended.size() >= kProcesses;
    }));
    std::sort(ended.begin(), ended.end());
    EXPECT_EQ(std::unique(ended.begin(), ended.end()), ended.end()) << "each end once";
    EXPECT_EQ(ended.size(), static_cast<std::size_t>(kProcesses));
}

TEST(WaitSet, AForgottenProcessIsNotReported) {
    const auto job = startHelper("exit 0");
    WaitSet set;
    set.watch(job->waitable());
    set.forget(job->waitable());
    ASSERT_TRUE(waitFor([&] { return job->status() != JobRunning; }));
    EXPECT_TRUE(set.wait(50).empty());
}

TEST(WaitSet, AWakeAPostedMessageAndAStopEachEndTheWaitAtOnce) {
    WaitSet set;
    EXPECT_TRUE(endsTheWaitEarly(set, [&] { set.wake(); }));

    ensureMessageQueue();
    const uint32_t owner = currentThreadId();
    EXPECT_TRUE(endsTheWaitEarly(set, [&] { postThreadMessage(owner, kWmClose, 0, 0); }));
    ThreadMessage message;
    EXPECT_TRUE(peekMessage(message));
    EXPECT_EQ(message.message, kWmClose);

    StopFlag stop(set);
    EXPECT_TRUE(endsTheWaitEarly(set, [&] { stop.request(StopFlag::kCommand); }));
    EXPECT_TRUE(stop.requestedBy(StopFlag::kCommand));
    EXPECT_FALSE(stop.requestedBy(StopFlag::kSessionEnd));
}

} // namespace
} // namespace Kalvor
