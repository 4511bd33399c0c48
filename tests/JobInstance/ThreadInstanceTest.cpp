#include "JobInstance/ThreadInstance.h"

#include "JobInstance/ThreadMessages.h"
#include "JobTestSupport.h"
#include "Time/Timer.h"

#include <atomic>
#include <gtest/gtest.h>

namespace Kalvor {
namespace {

using Test::captureJobError;
using Test::waitFor;

constexpr uint32_t kProbe = 0x0400; // WM_USER: a message nobody acts on

// What a test routine shares with its test. The routine ends on WM_DESTROY (unless it ignores
// it), returning the message's first parameter, or once `quit` is set, returning `result`.
struct Shared {
    bool withQueue = true;
    bool ignoreDestroy = false;
    std::atomic<uint32_t> result{0};
    std::atomic<bool> ready{false};
    std::atomic<bool> quit{false};
    std::atomic<bool> returned{false};
    std::atomic<uint32_t> passes{0};
};

uint32_t messageLoop(void* raw) {
    auto& shared = *static_cast<Shared*>(raw);
    if (shared.withQueue)
        ensureMessageQueue();
    shared.ready = true;
    while (!shared.quit) {
        ThreadMessage message;
        if (shared.withQueue && peekMessage(message) && message.message == kWmDestroy &&
            !shared.ignoreDestroy) {
            shared.returned = true;
            return static_cast<uint32_t>(message.wParam);
        }
        ++shared.passes;
        sleepMilliseconds(1);
    }
    const uint32_t result = shared.result;
    shared.returned = true; // the last touch of shared: the test may let it go now
    return result;
}

uint32_t returnResult(void* raw) {
    auto& shared = *static_cast<Shared*>(raw);
    const uint32_t result = shared.result;
    shared.returned = true; // the last touch of shared: the test may let it go now
    return result;
}

// A started job whose routine has set up its queue.
std::unique_ptr<ThreadInstance> startLoop(Shared& shared) {
    auto job = std::make_unique<ThreadInstance>(messageLoop, &shared);
    job->execute();
    EXPECT_TRUE(waitFor([&] { return shared.ready.load(); }));
    return job;
}

bool threadIsGone(uint32_t threadId) {
    return waitFor([&] { return !postThreadMessage(threadId, kProbe, 0, 0); });
}

int32_t exitCodeOf(ThreadInstance& job) {
    int32_t code = kStillActive;
    EXPECT_EQ(job.exitCode(code), 0);
    return code;
}

TEST(ThreadInstance, IsNotStartedUntilExecuted) {
    Shared shared;
    ThreadInstance job(returnResult, &shared);
    EXPECT_TRUE(job.stopWhenDestroyed());
    EXPECT_EQ(job.status(), JobNotStarted);
    int32_t code = 5;
    EXPECT_EQ(job.exitCode(code), JobNotStarted);
    EXPECT_EQ(captureJobError([&] { job.suspend(); }).code(), JB_NEVER_STARTED);
    EXPECT_EQ(captureJobError([&] { job.resume(); }).code(), JB_NEVER_STARTED);
    job.stop();
    EXPECT_FALSE(shared.returned);
}

TEST(ThreadInstance, TheExitCodeIsTheRoutinesResult) {
    Shared shared;
    shared.result = 42;
    ThreadInstance job(returnResult, &shared);
    job.execute();
    EXPECT_NE(job.threadId(), 0u);
    EXPECT_TRUE(waitFor([&] { return job.status() == JobFinished; }));
    EXPECT_EQ(exitCodeOf(job), 42);
    EXPECT_EQ(job.suspend(), 0) << "an ended thread is not suspended";
}

TEST(ThreadInstance, ARoutineThatReturns259ReadsAsRunning) {
    Shared shared;
    shared.result = kStillActive;
    ThreadInstance job(returnResult, &shared);
    job.execute();
    ASSERT_TRUE(waitFor([&] { return shared.returned.load(); }));
    EXPECT_EQ(job.status(), JobRunning);
}

// A thread that has returned may be in its exit path, where a forced end can leave the system's
// locks held and hang the program; once ended, there is nothing left to end.
TEST(ThreadInstance, AThreadThatReturned259IsNeverForced) {
    for (int round = 0; round < 100; ++round) {
        Shared shared;
        shared.result = kStillActive;
        auto job = std::make_unique<ThreadInstance>(returnResult, &shared);
        job->execute();
        ASSERT_TRUE(waitFor([&] { return shared.returned.load(); }));
        job.reset(); // reads as running, and may well be leaving just now
    }

    Shared shared;
    shared.result = kStillActive;
    auto job = startLoop(shared);
    const uint32_t threadId = job->threadId();
    shared.quit = true;
    ASSERT_TRUE(threadIsGone(threadId));
    job->terminate(true, 5, 0);
    job->stop();
    EXPECT_EQ(exitCodeOf(*job), kStillActive) << "the routine's own code, not a forced one";
}

TEST(ThreadInstance, RunsUntilItsLoopEnds) {
    Shared shared;
    auto job = startLoop(shared);
    EXPECT_EQ(job->status(), JobRunning);
    int32_t code = 7;
    EXPECT_EQ(job->exitCode(code), 0);
    EXPECT_EQ(code, 7);
    EXPECT_EQ(captureJobError([&] { job->execute(); }).code(), JB_STILL_RUNNING);
    shared.result = 3;
    shared.quit = true;
    EXPECT_TRUE(waitFor([&] { return job->status() == JobFinished; }));
    EXPECT_EQ(exitCodeOf(*job), 3);
}

TEST(ThreadInstance, SuspendCountsAsOnWindows) {
    Shared shared;
    auto job = startLoop(shared);
    EXPECT_EQ(job->suspend(), 1);
    EXPECT_EQ(job->suspend(), 2);
    EXPECT_EQ(job->resume(), 3);
    EXPECT_EQ(job->resume(), 2);
    EXPECT_EQ(job->resume(), 1) << "resuming a thread that is not suspended";
    // Running again: it still answers a polite stop.
    job->stop();
    EXPECT_EQ(job->status(), JobClosed);
}

TEST(ThreadInstance, AResumedThreadGoesOn) {
    Shared shared;
    auto job = startLoop(shared);
    job->suspend();
    job->resume();
    const uint32_t before = shared.passes;
    EXPECT_TRUE(waitFor([&] { return shared.passes > before + 2; }));
}

TEST(ThreadInstance, APoliteStopPostsWmDestroy) {
    Shared first;
    auto stopped = startLoop(first);
    stopped->stop();
    EXPECT_EQ(stopped->status(), JobClosed);
    EXPECT_EQ(exitCodeOf(*stopped), -1);

    Shared second;
    auto terminated = startLoop(second);
    terminated->terminate(false, 5, 10000);
    EXPECT_EQ(terminated->status(), JobClosed);
    EXPECT_EQ(exitCodeOf(*terminated), 5);
    EXPECT_TRUE(second.returned);
}

TEST(ThreadInstance, AThreadThatOutlivesTheGraceTimeIsEndedByForce) {
    Shared shared;
    shared.ignoreDestroy = true;
    auto job = startLoop(shared);
    job->terminate(false, 6, 100);
    EXPECT_EQ(job->status(), JobKilled);
    EXPECT_EQ(exitCodeOf(*job), 6);
    EXPECT_FALSE(shared.returned);
}

TEST(ThreadInstance, AForcedEndReadsKilledWithTheGivenCode) {
    Shared shared;
    auto job = startLoop(shared);
    const uint32_t threadId = job->threadId();
    job->terminate(true, 8, 0);
    EXPECT_EQ(job->status(), JobKilled);
    EXPECT_EQ(exitCodeOf(*job), 8);
    EXPECT_TRUE(threadIsGone(threadId));
}

TEST(ThreadInstance, AThreadWithoutAQueueIsEndedByForce) {
    // Static: on posix a thread that reaches no safe point outlives its job until it sees quit.
    static Shared shared;
    shared.withQueue = false;
    auto job = startLoop(shared);
    job->terminate(false, 7, 60000); // the post fails, so no grace time is waited
    EXPECT_EQ(job->status(), JobKilled);
    EXPECT_EQ(exitCodeOf(*job), 7);
    job.reset();
    shared.quit = true;
}

TEST(ThreadInstance, DestroyingARunningJobEndsItsThread) {
    Shared shared;
    auto job = startLoop(shared);
    const uint32_t threadId = job->threadId();
    job.reset();
    EXPECT_TRUE(threadIsGone(threadId));
    EXPECT_FALSE(shared.returned) << "the thread was ended, its loop did not finish";
}

TEST(ThreadInstance, DestroyingASuspendedJobEndsItsThread) {
    Shared shared;
    auto job = startLoop(shared);
    const uint32_t threadId = job->threadId();
    EXPECT_EQ(job->suspend(), 1);
    job.reset();
    EXPECT_TRUE(threadIsGone(threadId));
}

TEST(ThreadInstance, WithoutStopWhenDestroyedTheThreadRunsOn) {
    Shared shared;
    auto job = startLoop(shared);
    const uint32_t threadId = job->threadId();
    job->setStopWhenDestroyed(false);
    job.reset();
    EXPECT_TRUE(postThreadMessage(threadId, kWmDestroy, 0, 0));
    EXPECT_TRUE(waitFor([&] { return shared.returned.load(); }));
    EXPECT_TRUE(threadIsGone(threadId));
}

} // namespace
} // namespace Kalvor
