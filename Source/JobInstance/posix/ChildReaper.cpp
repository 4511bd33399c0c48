#include "JobInstance/posix/ChildReaper.h"

#include "Common/SystemError.h"
#include "Common/posix/HelperThread.h"

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <mutex>
#include <poll.h>
#include <string>
#include <sys/eventfd.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <system_error>
#include <thread>
#include <unordered_set>
#include <vector>

namespace Kalvor {

namespace ChildReaper {

namespace {

struct Child {
    pid_t pid;
    UniqueFd pidfd;
};

bool goneOrReaped(pid_t result, pid_t pid) {
    return result == pid || (result < 0 && lastSystemErrorValue() == std::errc::no_child_process);
}

// The parent's pid from /proc/PID/stat: the fourth field, counted after the ")" that ends the
// command name (which may itself hold blanks and parentheses).
pid_t parentOf(const std::string& pid) {
    std::ifstream stat("/proc/" + pid + "/stat");
    std::string text;
    std::getline(stat, text);
    const auto close = text.rfind(')');
    if (close == std::string::npos || close + 4 >= text.size())
        return 0;
    return static_cast<pid_t>(std::atol(text.c_str() + close + 4));
}

std::vector<pid_t> ownChildren() {
    std::vector<pid_t> children;
    DIR* proc = ::opendir("/proc");
    if (proc == nullptr)
        return children;
    const pid_t self = ::getpid();
    while (const dirent* entry = ::readdir(proc)) {
        const std::string name = entry->d_name;
        if (name.find_first_not_of("0123456789") == std::string::npos && parentOf(name) == self)
            children.push_back(static_cast<pid_t>(std::atol(name.c_str())));
    }
    ::closedir(proc);
    return children;
}

bool hasEnded(pid_t pid) {
    siginfo_t info{};
    return ::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
           info.si_pid != 0;
}

class Reaper {
public:
    pid_t startOwned(const std::function<pid_t()>& spawn) {
        std::lock_guard<std::mutex> lock(mutex_);
        const pid_t pid = spawn();
        if (pid > 0)
            registered_.insert(pid);
        return pid;
    }

    pid_t waitOwned(pid_t pid, int& status, int options) {
        std::lock_guard<std::mutex> lock(mutex_);
        pid_t result;
        do {
            result = ::waitpid(pid, &status, options);
        } while (result < 0 && errno == EINTR);
        const int error = errno;
        if (goneOrReaped(result, pid))
            registered_.erase(pid);
        errno = error;
        return result;
    }

    void adopt(pid_t pid, UniqueFd pidfd) {
        std::lock_guard<std::mutex> lock(mutex_);
        Child child{pid, std::move(pidfd)};
        if (reap(child))
            return;
        children_.push_back(std::move(child));
        if (!started_) {
            // No reaper thread yet (or its start failed before): the only chance for these.
            for (std::size_t i = children_.size(); i-- > 0;) {
                if (reap(children_[i]))
                    children_.erase(children_.begin() + static_cast<std::ptrdiff_t>(i));
            }
            start();
        }
        const uint64_t one = 1;
        if (wake_ && ::write(wake_.get(), &one, sizeof one) < 0) {
            // The counter is full, so the reaper wakes anyway.
        }
    }

    void reapInherited() {
        std::lock_guard<std::mutex> lock(mutex_);
        for (;;) {
            // Looking (WNOWAIT) names one ended child, the oldest, without taking its status.
            siginfo_t info{};
            if (::waitid(P_ALL, 0, &info, WEXITED | WNOHANG | WNOWAIT) != 0 || info.si_pid == 0)
                return;
            if (registered_.count(info.si_pid) != 0) {
                // A job's child that it has not read yet hides every younger one from P_ALL:
                // look at the others one by one.
                reapEachUnregistered();
                return;
            }
            int status = 0;
            if (::waitpid(info.si_pid, &status, WNOHANG) <= 0)
                return;
        }
    }

private:
    // With the lock held.
    bool reap(const Child& child) {
        int status = 0;
        if (!goneOrReaped(::waitpid(child.pid, &status, WNOHANG), child.pid))
            return false;
        registered_.erase(child.pid);
        return true;
    }

    void reapEachUnregistered() {
        for (const pid_t child : ownChildren()) {
            int status = 0;
            if (registered_.count(child) == 0 && hasEnded(child))
                ::waitpid(child, &status, WNOHANG);
        }
    }

    void start() {
        wake_ = UniqueFd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
        try {
            startHelperThread([this] { run(); }).detach();
            started_ = true;
        } catch (const std::system_error&) {
            // No thread now: the next adoption tries again.
        }
    }

    [[noreturn]] void run() {
        for (;;) {
            std::vector<pollfd> watched{{wake_.get(), POLLIN, 0}};
            {
                std::lock_guard<std::mutex> lock(mutex_);
                for (const Child& child : children_)
                    watched.push_back({child.pidfd.get(), POLLIN, 0});
            }
            // Without a wake-up descriptor new children are picked up on a short timer.
            if (::poll(watched.data(), watched.size(), wake_ ? -1 : 100) < 0)
                continue;
            if (watched[0].revents != 0) {
                uint64_t count = 0;
                if (::read(wake_.get(), &count, sizeof count) < 0) {
                    // Already drained.
                }
            }
            std::lock_guard<std::mutex> lock(mutex_);
            // Only this thread removes children, so the first entries still match `watched`.
            for (std::size_t i = watched.size() - 1; i > 0; --i) {
                if (watched[i].revents != 0 && reap(children_[i - 1]))
                    children_.erase(children_.begin() + static_cast<std::ptrdiff_t>(i - 1));
            }
        }
    }

    std::mutex mutex_;
    // Every child a job owns or that waits here: reapInherited() leaves these alone.
    std::unordered_set<pid_t> registered_;
    std::vector<Child> children_;
    UniqueFd wake_;
    bool started_ = false;
};

// Never destroyed: its detached thread may outlive every static object.
Reaper& reaper() {
    static Reaper* const instance = new Reaper;
    return *instance;
}

} // namespace

pid_t startOwned(const std::function<pid_t()>& spawn) {
    return reaper().startOwned(spawn);
}

pid_t waitOwned(pid_t pid, int& status, int options) {
    return reaper().waitOwned(pid, status, options);
}

void adopt(pid_t pid, UniqueFd pidfd) {
    reaper().adopt(pid, std::move(pidfd));
}

void reapInherited() {
    reaper().reapInherited();
}

} // namespace ChildReaper

void becomeChildSubreaper() {
    ::prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0);
}

} // namespace Kalvor
