// A helper program started with posix_spawn for a test, killed and reaped if the test leaves
// it behind (a failed assertion included), so no test leaves a zombie. One started in a process
// group of its own takes the whole group with it: the programs it started and left running.
#pragma once

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <optional>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace Kalvor::Test {

class ChildProcess {
public:
    // With `outputPath` (`errorPath`), the child's standard output (error) goes to that file.
    // Inherits the environment, so KALVOR_REGISTRY_DIR reaches it.
    ChildProcess(const std::string& program, const std::vector<std::string>& arguments,
                 const std::string& outputPath = "", const std::string& errorPath = "",
                 bool ownProcessGroup = false)
        : ownGroup_(ownProcessGroup) {
        std::vector<std::string> texts{program};
        texts.insert(texts.end(), arguments.begin(), arguments.end());
        std::vector<char*> argv;
        for (std::string& text : texts)
            argv.push_back(text.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        ::posix_spawn_file_actions_init(&actions);
        if (!outputPath.empty())
            ::posix_spawn_file_actions_addopen(&actions, 1, outputPath.c_str(),
                                               O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (!errorPath.empty())
            ::posix_spawn_file_actions_addopen(&actions, 2, errorPath.c_str(),
                                               O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawnattr_t attributes;
        ::posix_spawnattr_init(&attributes);
        if (ownGroup_) {
            ::posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
            ::posix_spawnattr_setpgroup(&attributes, 0);
        }
        if (::posix_spawn(&pid_, program.c_str(), &actions, &attributes, argv.data(), environ) != 0)
            pid_ = -1;
        ::posix_spawnattr_destroy(&attributes);
        ::posix_spawn_file_actions_destroy(&actions);
    }
    ~ChildProcess() {
        if (pid_ > 0 && ownGroup_)
            ::kill(-pid_, SIGKILL);
        if (pid_ > 0 && !status_) {
            ::kill(pid_, SIGKILL);
            reap(0);
        }
    }
    ChildProcess(ChildProcess&& other) noexcept
        : pid_(other.pid_), status_(other.status_), ownGroup_(other.ownGroup_) {
        other.pid_ = -1;
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    ChildProcess& operator=(ChildProcess&&) = delete;

    bool started() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }
    // The exit value once the child has ended (128 + signal when killed); nullopt while it runs.
    std::optional<int> poll() {
        if (pid_ > 0 && !status_)
            reap(WNOHANG);
        return status_;
    }
    int wait() {
        if (pid_ > 0 && !status_)
            reap(0);
        return status_.value_or(-1);
    }

private:
    void reap(int options) {
        int raw = 0;
        pid_t result;
        do {
            result = ::waitpid(pid_, &raw, options);
        } while (result < 0 && errno == EINTR);
        if (result == pid_)
            status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
        else if (result < 0)
            status_ = -1;
    }

    pid_t pid_ = -1;
    std::optional<int> status_;
    bool ownGroup_ = false;
};

} // namespace Kalvor::Test
