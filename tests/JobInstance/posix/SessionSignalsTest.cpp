#include "JobInstance/SessionSignals.h"

#include "TestSupport.h"

#include <csignal>
#include <gtest/gtest.h>
#include <unistd.h>

namespace Kalvor {
namespace {

using Test::waitFor;

TEST(SessionSignals, TerminateAndHangUpEndTheSessionAndInterruptCloses) {
    const struct {
        int signal;
        StopFlag::Source source;
    } cases[] = {{SIGTERM, StopFlag::kSessionEnd},
                 {SIGHUP, StopFlag::kSessionEnd},
                 {SIGINT, StopFlag::kClose}};
    for (const auto& entry : cases) {
        WaitSet wait;
        StopFlag stop(wait);
        SessionSignals signals(stop);
        ::kill(::getpid(), entry.signal);
        EXPECT_TRUE(waitFor([&] { return stop.requestedBy(entry.source); })) << entry.signal;
        EXPECT_EQ(stop.requestedBy(StopFlag::kClose), entry.source == StopFlag::kClose);
    }
}

void testHandler(int) {}

TEST(SessionSignals, DestructionRestoresTheHandlersThatWereThere) {
    struct sigaction custom {};
    custom.sa_handler = testHandler;
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    struct sigaction savedTerminate {
    }, savedHangUp{}, current{};
    ::sigaction(SIGTERM, &custom, &savedTerminate);
    ::sigaction(SIGHUP, &ignore, &savedHangUp);
    {
        WaitSet wait;
        StopFlag stop(wait);
        SessionSignals signals(stop);
        ::sigaction(SIGTERM, nullptr, &current);
        EXPECT_NE(current.sa_handler, testHandler);
    }
    ::sigaction(SIGTERM, &savedTerminate, &current);
    EXPECT_EQ(current.sa_handler, testHandler);
    ::sigaction(SIGHUP, &savedHangUp, &current);
    EXPECT_EQ(current.sa_handler, SIG_IGN);
    ::sigaction(SIGINT, nullptr, &current);
    EXPECT_EQ(current.sa_handler, SIG_DFL);
}

bool blockedHere(int signal) {
    sigset_t mask;
    ::pthread_sigmask(SIG_SETMASK, nullptr, &mask);
    return ::sigismember(&mask, signal) == 1;
}

// Threads started while the object lives must not take the signals (a handler on a thread asleep
// elsewhere may never run under ThreadSanitizer), and the thread gets its own mask back after.
TEST(SessionSignals, AreBlockedInTheMakingThreadWhileTheObjectLivesAndStillReachTheFlag) {
    WaitSet wait;
    StopFlag stop(wait);
    {
        SessionSignals signals(stop);
        for (const int signal : {SIGTERM, SIGHUP, SIGINT})
            EXPECT_TRUE(blockedHere(signal)) << signal;
        ::kill(::getpid(), SIGINT);
        EXPECT_TRUE(waitFor([&] { return stop.requestedBy(StopFlag::kClose); }));
    }
    for (const int signal : {SIGTERM, SIGHUP, SIGINT})
        EXPECT_FALSE(blockedHere(signal)) << signal;
}

TEST(SessionSignals, ASecondObjectLeavesTheFirstInCharge) {
    WaitSet wait;
    StopFlag first(wait), second(wait);
    SessionSignals inCharge(first);
    { SessionSignals inert(second); }
    ::kill(::getpid(), SIGTERM);
    EXPECT_TRUE(waitFor([&] { return first.requested(); }));
    EXPECT_FALSE(second.requested());
}

} // namespace
} // namespace Kalvor
