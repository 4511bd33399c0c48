#include "JobInstance/SessionSignals.h"

#include "JobInstance/ThreadMessages.h"
#include "TestSupport.h"

#include <csignal>
#include <gtest/gtest.h>
#include <unistd.h>

namespace Kalvor {
namespace {

using Test::waitFor;

void dropMessages() {
    ThreadMessage message;
    while (peekMessage(message)) {
    }
}

bool wmCloseArrives() {
    ThreadMessage message;
    return waitFor([&] { return peekMessage(message) && message.message == kWmClose; });
}

TEST(SessionSignals, TerminateAndHangUpSetTheSystemStop) {
    for (const int signal : {SIGTERM, SIGHUP}) {
        SessionSignals signals;
        EXPECT_FALSE(SessionSignals::systemStop());
        ::kill(::getpid(), signal);
        EXPECT_TRUE(waitFor([] { return SessionSignals::systemStop(); })) << signal;
    }
}

TEST(SessionSignals, InterruptPostsWmCloseToTheThreadThatInstalledThem) {
    SessionSignals signals;
    dropMessages();
    ::kill(::getpid(), SIGINT);
    EXPECT_TRUE(wmCloseArrives());
    EXPECT_FALSE(SessionSignals::systemStop());
    ::kill(::getpid(), SIGINT);
    EXPECT_TRUE(wmCloseArrives()) << "every interrupt is forwarded";
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
        SessionSignals signals;
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

TEST(SessionSignals, ASecondObjectLeavesTheFirstInCharge) {
    SessionSignals first;
    { SessionSignals second; }
    ::kill(::getpid(), SIGTERM);
    EXPECT_TRUE(waitFor([] { return SessionSignals::systemStop(); }));
}

} // namespace
} // namespace Kalvor
