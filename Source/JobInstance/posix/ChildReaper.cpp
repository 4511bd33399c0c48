#include "JobInstance/posix/ChildReaper.h"

#include "Common/SystemError.h"

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/wait.h>
#include <system_error>
#include <thread>
#include <vector>

namespace Kalvor::ChildReaper {

namespace {

struct Child {
    pid_t pid;
    UniqueFd pidfd;
};

// True once the child is gone: reaped now, or (SIGCHLD ignored) reaped by the system.
bool reap(const Child& child) {
    int status = 0;
    const pid_t result = ::waitpid(child.pid, &status, WNOHANG);
    return result == child.pid ||
           (result < 0 && lastSystemErrorValue() == std::errc::no_child_process);
}

class Reaper {
public:
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

private:
    void start() {
        wake_ = UniqueFd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
        try {
            std::thread([this] { run(); }).detach();
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

void adopt(pid_t pid, UniqueFd pidfd) {
    reaper().adopt(pid, std::move(pidfd));
}

} // namespace Kalvor::ChildReaper
