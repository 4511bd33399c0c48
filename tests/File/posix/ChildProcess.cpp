#include "ChildProcess.h"

#include <cerrno>
#include <csignal>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace Kalvor::Test {

struct ChildProcess::Native {
    pid_t pid = -1;
    bool reaped = false;
    int exitCode = -1;

    void record(int status) {
        reaped = true;
        exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
};

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& arguments)
    : native_(std::make_unique<Native>()) {
    std::vector<std::string> words{program};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (::posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ) == 0)
        native_->pid = pid;
}

ChildProcess::~ChildProcess() {
    kill();
}

bool ChildProcess::started() const {
    return native_->pid > 0;
}

bool ChildProcess::hasExited() {
    if (!started() || native_->reaped)
        return true;
    int status = 0;
    if (::waitpid(native_->pid, &status, WNOHANG) == native_->pid)
        native_->record(status);
    return native_->reaped;
}

int ChildProcess::exitCode() const {
    return native_->exitCode;
}

void ChildProcess::kill() {
    if (hasExited())
        return;
    ::kill(native_->pid, SIGKILL);
    int status = 0;
    pid_t result;
    do {
        result = ::waitpid(native_->pid, &status, 0);
    } while (result == -1 && errno == EINTR);
    native_->record(status);
}

} // namespace Kalvor::Test
