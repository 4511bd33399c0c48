// What the posix process layer does where Windows has no counterpart: reaping, signal deaths,
// 8-bit exit statuses and attached processes whose status belongs to someone else.
#include "JobInstance/ProcessIdentity.h"
#include "JobInstance/ProcessInstance.h"

#include "ChildProcess.h"
#include "JobTestSupport.h"

#include <cerrno>
#include <csignal>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace Kalvor {
namespace {

using Test::captureJobError;
using Test::startHelper;
using Test::startReadyHelper;
using Test::TempDir;
using Test::waitFor;

enum class ChildState { Running, Zombie, Gone };

// Looks at one child of this process without reaping it.
ChildState childState(uint32_t pid) {
    siginfo_t info{};
    if (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0)
        return ChildState::Gone;
    return info.si_pid == 0 ? ChildState::Running : ChildState::Zombie;
}

int32_t finalExitCode(ProcessInstance& job) {
    int32_t code = kStillActive;
    waitFor([&] { return job.exitCode(code) == 0 && code != kStillActive; });
    return code;
}

TEST(PosixProcess, AReleasedChildIsReapedWhenItEnds) {
    TempDir folder;
    uint32_t pid = 0;
    {
        auto job = startReadyHelper(folder, "run");
        pid = job->processId();
        job->setStopWhenDestroyed(false);
    }
    ASSERT_EQ(childState(pid), ChildState::Running) << "released, not stopped";
    ::kill(static_cast<pid_t>(pid), SIGKILL);
    EXPECT_TRUE(waitFor([&] { return childState(pid) == ChildState::Gone; }));

    uint32_t quick = 0;
    {
        auto job = startHelper("exit 0");
        quick = job->processId();
        job->setStopWhenDestroyed(false);
    }
    EXPECT_TRUE(waitFor([&] { return childState(quick) == ChildState::Gone; }));
}

TEST(PosixProcess, TheReaperLeavesTheChildrenOfLiveJobsAlone) {
    auto owned = startHelper("exit 42");
    ASSERT_TRUE(waitFor([&] { return childState(owned->processId()) == ChildState::Zombie; }));
    uint32_t released = 0;
    {
        auto job = startHelper("exit 0");
        released = job->processId();
        job->setStopWhenDestroyed(false);
    }
    ASSERT_TRUE(waitFor([&] { return childState(released) == ChildState::Gone; }));
    EXPECT_EQ(childState(owned->processId()), ChildState::Zombie);
    EXPECT_EQ(finalExitCode(*owned), 42);
    EXPECT_EQ(childState(owned->processId()), ChildState::Gone) << "reaped by its own job";
}

TEST(PosixProcess, ExitCodesAreEightBitAndASignalDeathReads128PlusTheSignal) {
    struct Case {
        const char* arguments;
        int32_t code;
    };
    for (const Case& c : {Case{"exit 259", 3}, Case{"exit -1", 255}, Case{"exit 300", 44}}) {
        auto job = startHelper(c.arguments);
        EXPECT_EQ(finalExitCode(*job), c.code) << c.arguments;
    }
    TempDir folder;
    auto job = startReadyHelper(folder, "run");
    ::kill(static_cast<pid_t>(job->processId()), SIGUSR1);
    EXPECT_TRUE(waitFor([&] { return job->status() == JobFinished; }));
    EXPECT_EQ(finalExitCode(*job), 128 + SIGUSR1);
}

TEST(PosixProcess, AnAttachedProcessLosesItsExitCodeOnceItsParentReapsIt) {
    TempDir folder;
    auto owner = startReadyHelper(folder, "run");
    ProcessInstance attached(owner->processId(), owner->threadId());
    ::kill(static_cast<pid_t>(owner->processId()), SIGUSR1);
    EXPECT_TRUE(waitFor([&] { return attached.status() == JobFinished; }));
    EXPECT_EQ(finalExitCode(attached), 128 + SIGUSR1) << "still a zombie of ours";

    EXPECT_EQ(finalExitCode(*owner), 128 + SIGUSR1);
    int32_t code = 0;
    EXPECT_EQ(attached.exitCode(code), ECHILD + 1000);
    EXPECT_EQ(attached.status(), JobFinished);
}

TEST(PosixProcess, AnAttachedJobThatKilledItsProcessKnowsTheCode) {
    TempDir folder;
    auto owner = startReadyHelper(folder, "run");
    ProcessInstance attached(owner->processId(), owner->threadId());
    attached.terminate(true, 5, 0);
    EXPECT_EQ(attached.status(), JobKilled);
    EXPECT_TRUE(waitFor([&] { return owner->status() == JobFinished; }));
    EXPECT_EQ(finalExitCode(attached), 5);
}

TEST(PosixProcess, AttachingToAProcessThatNoLongerExistsIsRefused) {
    uint32_t pid = 0;
    {
        auto job = startHelper("exit 0");
        pid = job->processId();
        ASSERT_TRUE(waitFor([&] { return job->status() == JobFinished; }));
    }
    const JobException error = captureJobError([&] { ProcessInstance job(pid, pid); });
    EXPECT_EQ(error.code(), JB_PROCESS);
    EXPECT_EQ(error.detail(), "Unable to access process. Error code " + std::to_string(ESRCH));
}

TEST(PosixProcess, AttachingToAnotherUsersProcessIsRefused) {
    if (::geteuid() == 0)
        GTEST_SKIP() << "root may open every process";
    EXPECT_EQ(captureJobError([] { ProcessInstance job(1, 1); }).code(), JB_PROCESS);
}

// A captured process is held by its pidfd: once it has ended, a new process that was given its
// number is not taken for it. Root can choose the next number (ns_last_pid) to make that happen.
TEST(PosixProcess, ACapturedProcessIsNotConfusedWithOneThatReusedItsNumber) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to choose the next process number";
    TempDir folder;
    auto first = startReadyHelper(folder, "run");
    const uint32_t pid = first->processId();
    ProcessInstance captured(pid, pid);
    ASSERT_EQ(captured.status(), JobRunning);
    first.reset(); // ended and reaped
    std::unique_ptr<ProcessInstance> successor;
    for (int attempt = 0; attempt < 20 && !successor; ++attempt) {
        std::ofstream("/proc/sys/kernel/ns_last_pid") << pid - 1;
        auto candidate = startReadyHelper(folder, "run");
        if (candidate->processId() == pid)
            successor = std::move(candidate);
    }
    if (!successor)
        GTEST_SKIP() << "process number " << pid << " was not given out again";
    EXPECT_NE(captured.status(), JobRunning);
    EXPECT_EQ(successor->status(), JobRunning);
}

// Runs as root (CI does), with an account number that needs no account.
TEST(PosixProcess, AProcessOfAnotherAccountIsNotTakenForAnApplication) {
    if (!Kalvor::Test::canActAsOtherAccounts())
        GTEST_SKIP() << "needs root, setpriv and a build every account can reach";
    TempDir folder;
    ::chmod(folder.path().c_str(), 0777);
    const std::string ready = folder.file("stranger.ready");
    Kalvor::Test::ChildProcess stranger =
        Kalvor::Test::startAsAccount(4711, Kalvor::Test::jobHelperPath(), {"run", ready});
    ASSERT_TRUE(waitFor([&] { return Kalvor::Test::fileExists(ready); }));
    const std::string mismatch =
        processMismatch(stranger.processId(), stranger.processId(), Kalvor::Test::jobHelperPath());
    EXPECT_NE(mismatch.find("runs under account 4711"), std::string::npos) << mismatch;
}

} // namespace
} // namespace Kalvor
