#include "JobInstance/NativeProcess.h"

#include "Common/SystemError.h"
#include "JobInstance/CommandLine.h"
#include "JobInstance/JobInstance.h"
#include "JobInstance/posix/ChildReaper.h"
#include "JobInstance/posix/Pidfd.h"
#include "JobInstance/posix/ProgramFile.h"
#include "Common/posix/UniqueFd.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <vector>

extern char** environ;

namespace Kalvor {

namespace {

// The child starts with default signal dispositions and nothing blocked, whatever the starting
// thread had, and without our descriptors unless it is to inherit them.
class SpawnSettings {
public:
    explicit SpawnSettings(bool inheritHandles) {
        ::posix_spawnattr_init(&attributes_);
        sigset_t none;
        ::sigemptyset(&none);
        ::posix_spawnattr_setsigmask(&attributes_, &none);
        sigset_t all;
        ::sigfillset(&all);
        ::sigdelset(&all, SIGKILL);
        ::sigdelset(&all, SIGSTOP);
        ::posix_spawnattr_setsigdefault(&attributes_, &all);
        ::posix_spawnattr_setflags(&attributes_, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
        ::posix_spawn_file_actions_init(&actions_);
        if (!inheritHandles)
            ::posix_spawn_file_actions_addclosefrom_np(&actions_, 3);
    }
    ~SpawnSettings() {
        ::posix_spawn_file_actions_destroy(&actions_);
        ::posix_spawnattr_destroy(&attributes_);
    }
    SpawnSettings(const SpawnSettings&) = delete;
    SpawnSettings& operator=(const SpawnSettings&) = delete;

    const posix_spawnattr_t* attributes() const { return &attributes_; }
    const posix_spawn_file_actions_t* actions() const { return &actions_; }

private:
    posix_spawnattr_t attributes_;
    posix_spawn_file_actions_t actions_;
};

// Whether the process ignores SIGTERM (the SigIgn mask of /proc/PID/status): a polite close it
// would never notice, like a WM_CLOSE to a thread without a message queue.
bool ignoresTerminate(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.compare(0, 7, "SigIgn:") == 0)
            return (std::strtoull(line.c_str() + 7, nullptr, 16) >> (SIGTERM - 1) & 1) != 0;
    }
    return false;
}

} // namespace

struct NativeProcess::State {
    pid_t pid = 0;
    uint32_t threadId = 0;
    UniqueFd pidfd;
    bool ownChild = false;
    bool reaped = false;
    bool codeLost = false;
    int32_t exitCode = 0;
    // The exit codes asked for with the signals we sent: a death by one of them reads as that
    // code, as after TerminateProcess; a death by any other signal reads as 128 + its number.
    std::optional<int32_t> closeCode;
    std::optional<int32_t> killCode;

    ~State() {
        if (ownChild && !reaped && pidfd)
            ChildReaper::adopt(pid, std::move(pidfd));
    }

    int32_t codeOfSignal(int signal) const {
        if (signal == SIGKILL && killCode)
            return *killCode;
        if (signal == SIGTERM && closeCode)
            return *closeCode;
        return 128 + signal;
    }

    static ExitReading reading(int32_t code) { return {{}, code}; }

    // Ended, but the status went to someone else: only our own SIGKILL tells the code.
    ExitReading endedWithoutStatus() const {
        if (killCode)
            return reading(*killCode);
        return {nativeFailure(ECHILD), 0, true};
    }
};

NativeProcess::NativeProcess() : state_(std::make_unique<State>()) {}

NativeProcess::~NativeProcess() = default;

NativeResult NativeProcess::start(const std::string& commandLine, bool /*hidden*/,
                                  bool inheritHandles) {
    std::vector<std::string> arguments = splitCommandLine(commandLine);
    const std::string file = findProgramFile(arguments.front());
    std::vector<char*> argv;
    for (std::string& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    // glibc reports a failed exec here, from the child, before posix_spawn returns.
    const SpawnSettings settings(inheritHandles);
    pid_t pid = 0;
    const int error = ::posix_spawn(&pid, file.c_str(), settings.actions(), settings.attributes(),
                                    argv.data(), environ);
    if (error != 0)
        return nativeFailure(error);
    UniqueFd pidfd(openPidfd(pid));
    if (!pidfd) {
        const NativeResult failure = lastNativeFailure();
        ::kill(pid, SIGKILL);
        int status = 0;
        ::waitpid(pid, &status, 0);
        return failure;
    }
    state_->pid = pid;
    state_->threadId = static_cast<uint32_t>(pid); // the main thread's id is the process id
    state_->pidfd = std::move(pidfd);
    state_->ownChild = true;
    return {};
}

NativeResult NativeProcess::attach(uint32_t processId, uint32_t threadId) {
    const auto pid = static_cast<pid_t>(processId);
    if (pid <= 0)
        return nativeFailure(EINVAL);
    UniqueFd pidfd(openPidfd(pid));
    if (!pidfd)
        return lastNativeFailure();
    // Signal 0 checks the right to signal it, which OpenProcess's "all access" stands for.
    if (sendSignal(pidfd.get(), 0, nullptr) != 0)
        return lastNativeFailure();
    state_->pid = pid;
    state_->threadId = threadId;
    state_->pidfd = std::move(pidfd);
    return {};
}

ExitReading NativeProcess::readExitCode() {
    State& state = *state_;
    if (!state.pidfd)
        return {nativeFailure(EBADF)};
    if (state.ownChild) {
        if (!state.reaped) {
            int status = 0;
            const pid_t result = ::waitpid(state.pid, &status, WNOHANG);
            if (result == 0)
                return State::reading(kStillActive);
            if (result < 0 && lastSystemErrorValue() != std::errc::no_child_process)
                return {lastNativeFailure()};
            state.reaped = true;
            state.codeLost = result < 0; // SIGCHLD ignored: the system reaped it
            if (!state.codeLost)
                state.exitCode =
                    WIFEXITED(status) ? WEXITSTATUS(status) : state.codeOfSignal(WTERMSIG(status));
        }
        return state.codeLost ? state.endedWithoutStatus() : State::reading(state.exitCode);
    }
    pollfd watched{state.pidfd.get(), POLLIN, 0};
    const int ready = ::poll(&watched, 1, 0);
    if (ready < 0)
        return {lastNativeFailure()};
    if (ready == 0)
        return State::reading(kStillActive);
    // An attached process may still be a child of ours; look without reaping it.
    siginfo_t info{};
    if (::waitid(static_cast<idtype_t>(P_PIDFD), static_cast<id_t>(state.pidfd.get()), &info,
                 WEXITED | WNOHANG | WNOWAIT) == 0 &&
        info.si_pid != 0)
        return State::reading(info.si_code == CLD_EXITED ? info.si_status
                                                         : state.codeOfSignal(info.si_status));
    return state.endedWithoutStatus();
}

bool NativeProcess::waitForEnd(uint32_t milliseconds) {
    if (!state_->pidfd)
        return false;
    // The pidfd reads ready once the process has ended, reaped or not.
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd watched{state_->pidfd.get(), POLLIN, 0};
        const int ready = ::poll(&watched, 1, static_cast<int>(std::max<int64_t>(left.count(), 0)));
        if (ready >= 0 || errno != EINTR)
            return ready > 0;
    }
}

bool NativeProcess::askToClose(int32_t exitCode) {
    State& state = *state_;
    if (!state.pidfd || ignoresTerminate(state.pid))
        return false;
    // The exit code travels as the signal's value, for a handler that wants it.
    siginfo_t info{};
    info.si_signo = SIGTERM;
    info.si_code = SI_QUEUE;
    info.si_pid = ::getpid();
    info.si_uid = ::getuid();
    info.si_value.sival_int = exitCode;
    if (sendSignal(state.pidfd.get(), SIGTERM, &info) != 0)
        return false;
    state.closeCode = exitCode;
    return true;
}

NativeResult NativeProcess::forceEnd(int32_t exitCode) {
    State& state = *state_;
    if (!state.pidfd)
        return nativeFailure(EBADF);
    if (sendSignal(state.pidfd.get(), SIGKILL, nullptr) != 0)
        return lastNativeFailure();
    state.killCode = exitCode;
    return {};
}

uint32_t NativeProcess::processId() const {
    return static_cast<uint32_t>(state_->pid);
}

intptr_t NativeProcess::waitable() const {
    return state_->pidfd ? state_->pidfd.get() : JobInstance::kNoWaitable;
}

uint32_t NativeProcess::threadId() const {
    return state_->threadId;
}

} // namespace Kalvor
