#include "JobInstance/NativeProcess.h"

#include "Common/SystemError.h"
#include "Common/posix/SafeFiles.h"
#include "Common/posix/UniqueFd.h"
#include "JobInstance/CommandLine.h"
#include "JobInstance/JobInstance.h"
#include "JobInstance/OutputPipe.h"
#include "JobInstance/ProcessIdentity.h"
#include "JobInstance/posix/ChildReaper.h"
#include "JobInstance/posix/ContainerProcesses.h"
#include "JobInstance/posix/Pidfd.h"
#include "JobInstance/posix/ProgramFile.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <vector>

extern char** environ;

namespace Kalvor {

namespace {

// The child starts with default signal dispositions and nothing blocked, whatever the starting
// thread had. File actions run in the order they are added; closeOthers() comes last.
class SpawnSettings {
public:
    SpawnSettings() {
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
    }
    ~SpawnSettings() {
        ::posix_spawn_file_actions_destroy(&actions_);
        ::posix_spawnattr_destroy(&attributes_);
    }
    SpawnSettings(const SpawnSettings&) = delete;
    SpawnSettings& operator=(const SpawnSettings&) = delete;

    void addFlags(short flags) {
        short present = 0;
        ::posix_spawnattr_getflags(&attributes_, &present);
        ::posix_spawnattr_setflags(&attributes_, static_cast<short>(present | flags));
    }
    posix_spawn_file_actions_t* actions() { return &actions_; }
    // Only the standard streams reach the child.
    void closeOthers() { ::posix_spawn_file_actions_addclosefrom_np(&actions_, 3); }

    const posix_spawnattr_t* attributes() const { return &attributes_; }
    const posix_spawn_file_actions_t* actions() const { return &actions_; }

private:
    posix_spawnattr_t attributes_;
    posix_spawn_file_actions_t actions_;
};

// Our environment with the container's mark in place of any mark we carry ourselves.
std::vector<std::string> markedEnvironment(const std::string& container) {
    const std::string prefix = std::string(kContainerVariable) + "=";
    std::vector<std::string> entries;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        if (std::strncmp(*entry, prefix.c_str(), prefix.size()) != 0)
            entries.emplace_back(*entry);
    }
    entries.push_back(containerMark(container));
    return entries;
}

std::vector<char*> pointersTo(std::vector<std::string>& texts) {
    std::vector<char*> pointers;
    for (std::string& text : texts)
        pointers.push_back(text.data());
    pointers.push_back(nullptr);
    return pointers;
}

bool hasEnded(int pidfd) {
    pollfd watched{pidfd, POLLIN, 0};
    return ::poll(&watched, 1, 0) > 0;
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
    int rawStatus = 0; // waitpid's, once reaped with its status
    // The exit codes asked for with the signals we sent: a death by one of them reads as that
    // code, as after TerminateProcess; a death by any other signal reads as 128 + its number.
    std::optional<int32_t> closeCode;
    std::optional<int32_t> killCode;
    std::string failedPart;

    // The container: the process group it leads (0: none), with the start time of its leader,
    // and the name its processes are marked with.
    pid_t group = 0;
    uint64_t leaderStarted = 0;
    std::string container;

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

    NativeResult failed(std::string part, int error) {
        failedPart = std::move(part);
        return nativeFailure(error);
    }

    // Starts the child, owned by this job, and holds it by a pidfd.
    NativeResult spawn(const std::string& file, std::vector<std::string> arguments,
                       const SpawnSettings& settings, char* const* environment) {
        std::vector<char*> argv = pointersTo(arguments);
        // glibc reports a failed exec here, from the child, before posix_spawn returns.
        int error = 0;
        const pid_t started = ChildReaper::startOwned([&] {
            pid_t child = 0;
            error = ::posix_spawn(&child, file.c_str(), settings.actions(), settings.attributes(),
                                  argv.data(), environment);
            return error == 0 ? child : 0;
        });
        if (error != 0)
            return nativeFailure(error);
        UniqueFd opened(openPidfd(started));
        if (!opened) {
            const NativeResult failure = lastNativeFailure();
            ::kill(started, SIGKILL);
            int status = 0;
            ChildReaper::waitOwned(started, status, 0);
            return failure;
        }
        pid = started;
        threadId = static_cast<uint32_t>(started); // the main thread's id is the process id
        pidfd = std::move(opened);
        ownChild = true;
        return {};
    }

    // Whether the process still holds its number: running, or our child not yet reaped.
    bool processHeld() const { return pidfd && ((ownChild && !reaped) || !hasEnded(pidfd.get())); }

    // The group's number may be signalled: it can only name another group once every member
    // has gone and the number has gone to a new process, which would not be our leader.
    bool groupIsOurs() const {
        if (group == 0)
            return false;
        if (processHeld())
            return true;
        const uint64_t holder = processStartTime(static_cast<uint32_t>(group));
        return holder == 0 || holder == leaderStarted;
    }

    void signalGroup(int signal) const {
        if (groupIsOurs())
            ::kill(-group, signal);
    }
};

NativeProcess::NativeProcess() : state_(std::make_unique<State>()) {}

NativeProcess::~NativeProcess() = default;

NativeResult NativeProcess::start(const std::string& commandLine, bool /*hidden*/,
                                  bool inheritHandles) {
    std::vector<std::string> arguments = splitCommandLine(commandLine);
    const std::string file = findProgramFile(arguments.front());
    SpawnSettings settings;
    if (!inheritHandles)
        settings.closeOthers();
    return state_->spawn(file, std::move(arguments), settings, environ);
}

NativeResult NativeProcess::launch(const ProcessLaunch& launch) {
    State& state = *state_;
    std::vector<std::string> arguments = splitCommandLine(launch.commandLine);
    const std::string file = findProgramOnPath(arguments.front());
    if (file.empty())
        return nativeFailure(ENOENT);
    // posix_spawn says ENOENT for a missing directory as for a missing program: tell them apart.
    if (!launch.directory.empty()) {
        struct stat folder {};
        const std::string part = "directory \"" + launch.directory + "\"";
        if (::stat(launch.directory.c_str(), &folder) != 0)
            return state.failed(part, errno);
        if (!S_ISDIR(folder.st_mode))
            return state.failed(part, ENOTDIR);
    }

    SpawnSettings settings;
    if (launch.output) {
        const int output = static_cast<int>(launch.output->writeEnd());
        ::posix_spawn_file_actions_addopen(settings.actions(), STDIN_FILENO, "/dev/null", O_RDONLY,
                                           0);
        // dup2 of the pipe onto the standard streams clears their close-on-exec flag.
        ::posix_spawn_file_actions_adddup2(settings.actions(), output, STDOUT_FILENO);
        ::posix_spawn_file_actions_adddup2(settings.actions(), output, STDERR_FILENO);
    }
    if (!launch.directory.empty())
        ::posix_spawn_file_actions_addchdir_np(settings.actions(), launch.directory.c_str());
    settings.closeOthers();

    if (launch.container.empty())
        return state.spawn(file, std::move(arguments), settings, environ);
    settings.addFlags(POSIX_SPAWN_SETSID);
    std::vector<std::string> environment = markedEnvironment(launch.container);
    const NativeResult started =
        state.spawn(file, std::move(arguments), settings, pointersTo(environment).data());
    if (started.done()) {
        state.group = state.pid;
        state.leaderStarted = processStartTime(static_cast<uint32_t>(state.pid));
        state.container = launch.container;
    }
    return started;
}

const std::string& NativeProcess::failedPart() const {
    return state_->failedPart;
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

bool NativeProcess::attachContainer(const std::string& container) {
    State& state = *state_;
    if (!state.pidfd || container.empty())
        return false;
    state.container = container;
    state.group = 0;
    // Asked while it runs: a group that the process leads now is its own.
    if (!hasEnded(state.pidfd.get()) && ::getpgid(state.pid) == state.pid) {
        state.leaderStarted = processStartTime(static_cast<uint32_t>(state.pid));
        if (!hasEnded(state.pidfd.get()))
            state.group = state.pid;
    }
    return true;
}

ExitReading NativeProcess::readExitCode() {
    State& state = *state_;
    if (!state.pidfd)
        return {nativeFailure(EBADF)};
    if (state.ownChild) {
        if (!state.reaped) {
            int status = 0;
            const pid_t result = ChildReaper::waitOwned(state.pid, status, WNOHANG);
            if (result == 0)
                return State::reading(kStillActive);
            if (result < 0 && lastSystemErrorValue() != std::errc::no_child_process)
                return {lastNativeFailure()};
            state.reaped = true;
            state.codeLost = result < 0; // SIGCHLD ignored: the system reaped it
            if (!state.codeLost) {
                state.rawStatus = status;
                state.exitCode =
                    WIFEXITED(status) ? WEXITSTATUS(status) : state.codeOfSignal(WTERMSIG(status));
            }
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

ExitStatus NativeProcess::exitStatus() {
    State& state = *state_;
    if (!state.pidfd)
        return {};
    if (state.ownChild) {
        readExitCode();
        if (!state.reaped || state.codeLost)
            return {};
        if (WIFEXITED(state.rawStatus))
            return {true, WEXITSTATUS(state.rawStatus), 0};
        return {true, 0, WTERMSIG(state.rawStatus)};
    }
    siginfo_t info{};
    if (!hasEnded(state.pidfd.get()) ||
        ::waitid(static_cast<idtype_t>(P_PIDFD), static_cast<id_t>(state.pidfd.get()), &info,
                 WEXITED | WNOHANG | WNOWAIT) != 0 ||
        info.si_pid == 0)
        return {};
    if (info.si_code == CLD_EXITED)
        return {true, info.si_status, 0};
    return {true, 0, info.si_status};
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

bool NativeProcess::askContainerToClose() {
    State& state = *state_;
    // As stop() asks: a close request carries -1.
    if (state.group == 0 && state.container.empty())
        return askToClose(-1);
    const ContainerScan scan =
        scanContainer(state.groupIsOurs() ? state.group : 0, state.container);
    bool told = false;
    if (!scan.inGroup.empty()) {
        told = std::any_of(scan.inGroup.begin(), scan.inGroup.end(),
                           [](pid_t pid) { return !ignoresTerminate(pid); });
        state.signalGroup(SIGTERM);
        if (std::find(scan.inGroup.begin(), scan.inGroup.end(), state.pid) != scan.inGroup.end())
            state.closeCode = -1;
    }
    for (const pid_t pid : scan.marked) {
        if (!ignoresTerminate(pid) && signalMarked(pid, state.container, SIGTERM))
            told = true;
    }
    return told;
}

bool NativeProcess::signalContainer(int32_t signal) {
    State& state = *state_;
    if (state.groupIsOurs())
        return ::kill(-state.group, signal) == 0;
    return state.pidfd && !hasEnded(state.pidfd.get()) &&
           sendSignal(state.pidfd.get(), signal, nullptr) == 0;
}

void NativeProcess::killContainer() {
    State& state = *state_;
    if (state.pidfd && !hasEnded(state.pidfd.get()))
        sendSignal(state.pidfd.get(), SIGKILL, nullptr);
    state.signalGroup(SIGKILL);
    if (state.container.empty())
        return;
    // A marked process may start another between the scan and its end: look again until a
    // scan finds nobody new.
    std::vector<pid_t> killed;
    for (int round = 0; round < 10; ++round) {
        bool more = false;
        for (const pid_t pid : scanContainer(0, state.container).marked) {
            if (std::find(killed.begin(), killed.end(), pid) != killed.end())
                continue;
            if (signalMarked(pid, state.container, SIGKILL)) {
                killed.push_back(pid);
                more = true;
            }
        }
        if (!more)
            return;
    }
}

std::vector<uint32_t> NativeProcess::containerProcesses() {
    State& state = *state_;
    std::vector<uint32_t> left;
    const ContainerScan scan =
        scanContainer(state.groupIsOurs() ? state.group : 0, state.container);
    for (const std::vector<pid_t>* found : {&scan.inGroup, &scan.marked}) {
        for (const pid_t pid : *found)
            left.push_back(static_cast<uint32_t>(pid));
    }
    const auto self = static_cast<uint32_t>(state.pid);
    if (state.pidfd && !hasEnded(state.pidfd.get()) &&
        std::find(left.begin(), left.end(), self) == left.end())
        left.push_back(self);
    return left;
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
