#include "SpawnedProgram.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace Kalvor::Test {

struct SpawnedProgram::Native {
    pid_t pid = -1;
    int output = -1;
    std::optional<int> exitCode;

    void record(int status) {
        exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
};

SpawnedProgram::SpawnedProgram(const std::string& program,
                               const std::vector<std::string>& arguments, bool withErrors)
    : native_(std::make_unique<Native>()) {
    std::vector<std::string> words{program};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);

    int pipeEnds[2];
    if (::pipe2(pipeEnds, O_CLOEXEC) != 0)
        return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
    if (withErrors)
        posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDERR_FILENO);
    pid_t pid = -1;
    if (::posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ) == 0)
        native_->pid = pid;
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeEnds[1]);
    native_->output = pipeEnds[0];
}

SpawnedProgram::~SpawnedProgram() {
    if (started() && !exitCode()) {
        ::kill(native_->pid, SIGKILL);
        int status = 0;
        while (::waitpid(native_->pid, &status, 0) == -1 && errno == EINTR) {
        }
        native_->record(status);
    }
    if (native_->output >= 0)
        ::close(native_->output);
}

bool SpawnedProgram::started() const {
    return native_->pid > 0;
}

bool SpawnedProgram::readSome(int milliseconds) {
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

std::optional<int> SpawnedProgram::exitCode() {
    if (!started() || native_->exitCode)
        return native_->exitCode;
    int status = 0;
    if (::waitpid(native_->pid, &status, WNOHANG) == native_->pid)
        native_->record(status);
    return native_->exitCode;
}

bool SpawnedProgram::interrupt() {
    return started() && ::kill(native_->pid, SIGINT) == 0;
}

} // namespace Kalvor::Test
