#include "ChildProcess.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace Kalvor::Test {

struct ChildProcess::Native {
    pid_t pid = -1;
    bool ownGroup = false;
    int output = -1;
    std::optional<int> exitCode;

    // Waits for the child with `options` (0 or WNOHANG) and keeps its exit value.
    void reap(int options) {
        int status = 0;
        pid_t result;
        do {
            result = ::waitpid(pid, &status, options);
        } while (result < 0 && errno == EINTR);
        if (result == pid)
            exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        else if (result < 0)
            exitCode = -1; // not ours to wait for any longer
    }
};

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& arguments,
                           const Options& options)
    : native_(std::make_unique<Native>()) {
    std::vector<std::string> words{program};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);

    int pipeEnds[2] = {-1, -1};
    if (options.captureOutput && ::pipe2(pipeEnds, O_CLOEXEC) != 0)
        return;
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    const int written = O_WRONLY | O_CREAT | O_TRUNC;
    if (options.captureOutput) {
        ::posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
        if (options.errorsToOutput)
            ::posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDERR_FILENO);
    } else if (!options.outputFile.empty()) {
        ::posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, options.outputFile.c_str(),
                                           written, 0644);
    }
    if (!options.errorFile.empty() && !options.errorsToOutput)
        ::posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, options.errorFile.c_str(),
                                           written, 0644);
    posix_spawnattr_t attributes;
    ::posix_spawnattr_init(&attributes);
    if (options.ownProcessGroup) {
        ::posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
        ::posix_spawnattr_setpgroup(&attributes, 0);
    }
    pid_t pid = -1;
    if (::posix_spawn(&pid, program.c_str(), &actions, &attributes, argv.data(), environ) == 0) {
        native_->pid = pid;
        native_->ownGroup = options.ownProcessGroup;
    }
    ::posix_spawnattr_destroy(&attributes);
    ::posix_spawn_file_actions_destroy(&actions);
    if (options.captureOutput) {
        ::close(pipeEnds[1]);
        native_->output = pipeEnds[0];
    }
}

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& arguments)
    : ChildProcess(program, arguments, Options()) {}

ChildProcess::ChildProcess(ChildProcess&& other) noexcept = default;

ChildProcess::~ChildProcess() {
    if (!native_)
        return; // moved from
    if (started() && native_->ownGroup)
        ::kill(-native_->pid, SIGKILL);
    kill();
    if (native_->output >= 0)
        ::close(native_->output);
}

bool ChildProcess::started() const {
    return native_->pid > 0;
}

uint32_t ChildProcess::processId() const {
    return started() ? static_cast<uint32_t>(native_->pid) : 0;
}

uint32_t ChildProcess::threadId() const {
    return processId();
}

std::optional<int> ChildProcess::exitCode() {
    if (started() && !native_->exitCode)
        native_->reap(WNOHANG);
    return native_->exitCode;
}

void ChildProcess::kill() {
    if (!started() || exitCode())
        return;
    ::kill(native_->pid, SIGKILL);
    native_->reap(0);
}

bool ChildProcess::askToClose() {
    return started() && !exitCode() && ::kill(native_->pid, SIGTERM) == 0;
}

bool ChildProcess::interrupt() {
    return started() && !exitCode() && ::kill(native_->pid, SIGINT) == 0;
}

bool ChildProcess::readSome(int milliseconds) {
    if (native_->output < 0)
        return false;
    pollfd readable{native_->output, POLLIN, 0};
    if (::poll(&readable, 1, milliseconds) <= 0)
        return true;
    char buffer[4096];
    const ssize_t got = ::read(native_->output, buffer, sizeof buffer);
    if (got <= 0)
        return got < 0 && errno == EINTR;
    pending_.append(buffer, static_cast<std::size_t>(got));
    return true;
}

} // namespace Kalvor::Test
