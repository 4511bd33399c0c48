// What a posix container is made of (a session, a process group, the environment mark), how a
// launch finds its program and opens its output file, and the reaping of what a subreaper
// inherits.
#include "JobInstance/OutputPipe.h"
#include "JobInstance/ProcessInstance.h"

#include "ChildProcess.h"
#include "JobInstance/ChildReaper.h"
#include "JobTestSupport.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fstream>
#include <gtest/gtest.h>
#include <optional>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace Kalvor {
namespace {

using Test::captureJobError;
using Test::contains;
using Test::fileExists;
using Test::jobHelperPath;
using Test::launchHelper;
using Test::processIdIn;
using Test::quoted;
using Test::readFile;
using Test::ScopedEnv;
using Test::startHelper;
using Test::TempDir;
using Test::waitFor;

class PosixContainer : public Test::ContainerTest {};

enum class ChildState { Running, Zombie, Gone };

ChildState childState(pid_t pid) {
    siginfo_t info{};
    if (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0)
        return ChildState::Gone;
    return info.si_pid == 0 ? ChildState::Running : ChildState::Zombie;
}

std::vector<std::string> environmentOf(uint32_t pid) {
    std::ifstream file("/proc/" + std::to_string(pid) + "/environ", std::ios::binary);
    std::vector<std::string> entries;
    for (std::string entry; std::getline(file, entry, '\0');)
        entries.push_back(entry);
    return entries;
}

std::string linkTarget(const std::string& path) {
    char buffer[4096] = {};
    const ssize_t length = ::readlink(path.c_str(), buffer, sizeof buffer - 1);
    return length > 0 ? std::string(buffer, static_cast<std::size_t>(length)) : "";
}

pid_t parentOf(uint32_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text;
    std::getline(stat, text);
    const auto close = text.rfind(')');
    return close == std::string::npos ? 0 : static_cast<pid_t>(std::atol(text.c_str() + close + 4));
}

std::string helperFolder() {
    const std::string path = jobHelperPath();
    return path.substr(0, path.rfind('/'));
}

ProcessLaunch commandLine(const std::string& line) {
    ProcessLaunch launch;
    launch.commandLine = line;
    return launch;
}

TEST(PosixLaunch, AProgramNameIsLookedForAlongPathOnly) {
    TempDir empty;
    {
        // The helper sits beside this test program, where a launch does not look.
        ScopedEnv path("PATH", empty.path());
        ProcessInstance job(commandLine("kalvor-job-helper exit 6"));
        const JobException error = captureJobError([&] { job.execute(); });
        EXPECT_EQ(error.code(), JB_UNABLE_TO_START);
        EXPECT_NE(error.detail().find(std::strerror(ENOENT)), std::string::npos) << error.detail();
    }
    ScopedEnv path("PATH", empty.path() + ":" + helperFolder());
    for (const char* line : {"kalvor-job-helper exit 6", "kalvor-job-helper.exe exit 6"}) {
        ProcessInstance job(commandLine(line));
        job.execute();
        EXPECT_TRUE(waitFor([&] { return job.status() == JobFinished; })) << line;
        EXPECT_EQ(job.exitStatus().code, 6) << line;
    }
}

TEST(PosixLaunch, WithAnOutputPipeStandardInputIsTheNullDevice) {
    TempDir folder;
    const std::string ready = folder.file("run.ready");
    OutputPipe pipe;
    ProcessLaunch launch;
    launch.output = &pipe;
    auto job = launchHelper("run " + quoted(ready), launch);
    ASSERT_TRUE(waitFor([&] { return fileExists(ready); }));
    const std::string descriptors = "/proc/" + std::to_string(job->processId()) + "/fd/";
    const std::string writeEnd =
        linkTarget("/proc/self/fd/" + std::to_string(pipe.writeEnd()));
    EXPECT_EQ(linkTarget(descriptors + "0"), "/dev/null");
    EXPECT_EQ(linkTarget(descriptors + "1"), writeEnd);
    EXPECT_EQ(linkTarget(descriptors + "2"), writeEnd);
    EXPECT_EQ(linkTarget(descriptors + "3"), "") << "nothing else is passed on";
}

TEST_F(PosixContainer, IsASessionOfItsOwnAndItsMarkReachesADaemonThatLeftIt) {
    // The supervisor's own mark, were it in a container itself, is not passed on.
    ScopedEnv outer("KALVOR_CONTAINER", "outer");
    const std::string childReady = folder_.file("child.ready");
    const std::string daemonReady = folder_.file("daemon.ready");
    ProcessInstance& parent = launchIn(container_, "spawn-child " + quoted(childReady));
    launchIn(container_, "daemon " + quoted(daemonReady));
    ASSERT_TRUE(waitFor([&] { return fileExists(childReady) && fileExists(daemonReady); }));
    const auto leader = static_cast<pid_t>(parent.processId());
    const auto child = static_cast<pid_t>(processIdIn(childReady));
    const auto daemon = static_cast<pid_t>(processIdIn(daemonReady));

    EXPECT_EQ(::getsid(leader), leader);
    EXPECT_EQ(::getpgid(leader), leader);
    EXPECT_EQ(::getpgid(child), leader) << "a child stays in the group";
    EXPECT_EQ(::getsid(daemon), daemon) << "the daemon has a session of its own";
    for (const pid_t process : {leader, child, daemon}) {
        const std::vector<std::string> environment = environmentOf(process);
        EXPECT_EQ(
            std::count(environment.begin(), environment.end(), "KALVOR_CONTAINER=" + container_), 1)
            << process;
        EXPECT_EQ(std::count(environment.begin(), environment.end(), "KALVOR_CONTAINER=outer"), 0)
            << process;
    }
    // Orphaned when its parent ended, it came to this process, the subreaper.
    EXPECT_TRUE(waitFor([&] { return parentOf(static_cast<uint32_t>(daemon)) == ::getpid(); }));
    EXPECT_TRUE(contains(parent.containerProcesses(), static_cast<uint32_t>(daemon)));
}

TEST_F(PosixContainer, ExitStatusTellsTheSignalThatEndedTheProgram) {
    const std::string ready = folder_.file("run.ready");
    ProcessInstance& killed = launchIn(container_, "run " + quoted(ready));
    ASSERT_TRUE(waitFor([&] { return fileExists(ready); }));
    killed.killContainer();
    ASSERT_TRUE(waitFor([&] { return killed.status() == JobFinished; }));
    const ExitStatus status = killed.exitStatus();
    EXPECT_TRUE(status.known);
    EXPECT_EQ(status.signal, SIGKILL);
    EXPECT_EQ(status.code, 0);
    int32_t code = 0;
    EXPECT_EQ(killed.exitCode(code), 0);
    EXPECT_EQ(code, 128 + SIGKILL) << "exitCode() reads as before";

    const std::string closeReady = folder_.file("close.ready");
    ProcessInstance& closed = launchIn(container_ + "-2", "run " + quoted(closeReady));
    ASSERT_TRUE(waitFor([&] { return fileExists(closeReady); }));
    EXPECT_TRUE(closed.askContainerToClose());
    ASSERT_TRUE(waitFor([&] { return closed.status() == JobFinished; }));
    EXPECT_EQ(closed.exitStatus().signal, SIGTERM);
    EXPECT_EQ(closed.exitCode(code), 0);
    EXPECT_EQ(code, -1) << "as after stop()";
}

// Runs as root (CI does), with an account number that needs no account.
TEST_F(PosixContainer, AKillLeavesTheMarkedProcessesOfOtherAccountsAlone) {
    if (!Kalvor::Test::canActAsOtherAccounts())
        GTEST_SKIP() << "needs root, setpriv and a build every account can reach";
    ::chmod(folder_.path().c_str(), 0777);
    const std::string strangerReady = folder_.file("stranger.ready");
    std::optional<Kalvor::Test::ChildProcess> stranger;
    {
        ScopedEnv mark("KALVOR_CONTAINER", container_);
        stranger.emplace(
            Kalvor::Test::startAsAccount(4711, jobHelperPath(), {"run", strangerReady}));
    }
    const std::string ready = folder_.file("run.ready");
    ProcessInstance& ours = launchIn(container_, "run " + quoted(ready));
    ASSERT_TRUE(waitFor([&] { return fileExists(ready) && fileExists(strangerReady); }));
    EXPECT_FALSE(contains(ours.containerProcesses(), stranger->processId()));
    ours.killContainer();
    EXPECT_TRUE(waitFor([&] { return ours.status() == JobFinished; }));
    EXPECT_FALSE(stranger->exitCode().has_value()) << "still running";
}

TEST(PosixReaper, ReapsInheritedChildrenButNeverTheStatusOfAJobsChild) {
    // Started by other means than a job, these count as inherited.
    const auto spawnUnowned = [] {
        std::string program = jobHelperPath();
        std::string mode = "exit";
        std::string code = "0";
        char* argv[] = {program.data(), mode.data(), code.data(), nullptr};
        pid_t pid = 0;
        EXPECT_EQ(::posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv, environ), 0);
        return pid;
    };
    // The oldest ended child is the one waitid(P_ALL) names: a job's child among the others
    // must not stop the reaping of the younger ones.
    const pid_t older = spawnUnowned();
    auto owned = startHelper("exit 42");
    const pid_t younger = spawnUnowned();
    const auto ownedPid = static_cast<pid_t>(owned->processId());
    ASSERT_TRUE(waitFor([&] {
        return childState(older) == ChildState::Zombie &&
               childState(ownedPid) == ChildState::Zombie &&
               childState(younger) == ChildState::Zombie;
    }));
    ChildReaper::reapInherited();
    EXPECT_EQ(childState(older), ChildState::Gone);
    EXPECT_EQ(childState(younger), ChildState::Gone);
    EXPECT_EQ(childState(ownedPid), ChildState::Zombie);
    ASSERT_TRUE(waitFor([&] { return owned->status() == JobFinished; }));
    EXPECT_EQ(owned->exitStatus().code, 42);
}

struct SubreaperForTheTest {
    SubreaperForTheTest() { becomeChildSubreaper(); }
    ~SubreaperForTheTest() { Test::endChildSubreaper(); }
};

TEST(PosixReaper, ADaemonComesToTheSubreaperAndIsReapedWhenItEnds) {
    TempDir folder;
    const SubreaperForTheTest subreaper;
    const std::string ready = folder.file("daemon.ready");
    auto starter = startHelper("daemon " + quoted(ready));
    ASSERT_TRUE(waitFor([&] { return fileExists(ready); }));
    const uint32_t daemon = processIdIn(ready);
    ProcessInstance watch(daemon, daemon);
    EXPECT_TRUE(waitFor([&] { return starter->status() == JobFinished; }));
    EXPECT_TRUE(waitFor([&] { return parentOf(daemon) == ::getpid(); }));
    watch.terminate(true, 0, 0);
    EXPECT_TRUE(waitFor([&] {
        ChildReaper::reapInherited();
        return childState(static_cast<pid_t>(daemon)) == ChildState::Gone;
    }));
}

} // namespace
} // namespace Kalvor
