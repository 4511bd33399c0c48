// A helper thread must leave the process's signals to the thread that waits for them, and must
// not change the mask of the thread that started it.
#include "Common/posix/HelperThread.h"

#include <gtest/gtest.h>

#include <csignal>
#include <pthread.h>

namespace Kalvor {
namespace {

sigset_t currentMask() {
    sigset_t mask;
    ::pthread_sigmask(SIG_SETMASK, nullptr, &mask);
    return mask;
}

TEST(HelperThread, BlocksTheSignalsSentToTheProcessButNotTheFaultsItRaises) {
    sigset_t helperMask;
    startHelperThread([&] { helperMask = currentMask(); }).join();
    for (const int sent : {SIGTERM, SIGHUP, SIGINT, SIGCHLD, SIGUSR1, SIGPIPE})
        EXPECT_EQ(::sigismember(&helperMask, sent), 1) << strsignal(sent);
    for (const int raised : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT})
        EXPECT_EQ(::sigismember(&helperMask, raised), 0) << strsignal(raised);
}

TEST(HelperThread, LeavesTheStartingThreadsMaskAsItWas) {
    sigset_t usr2;
    ::sigemptyset(&usr2);
    ::sigaddset(&usr2, SIGUSR2);
    ::pthread_sigmask(SIG_BLOCK, &usr2, nullptr);
    startHelperThread([] {}).join();
    const sigset_t after = currentMask();
    EXPECT_EQ(::sigismember(&after, SIGUSR2), 1);
    EXPECT_EQ(::sigismember(&after, SIGTERM), 0);
    ::pthread_sigmask(SIG_UNBLOCK, &usr2, nullptr);
}

} // namespace
} // namespace Kalvor
