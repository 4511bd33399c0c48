#include "JobInstance/WaitSet.h"

#include "Common/Exception.h"
#include "Common/posix/UniqueFd.h"

#include <cerrno>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace Kalvor {

struct WaitSet::Native {
    UniqueFd wakeUp;
};

WaitSet::WaitSet() : native_(std::make_unique<Native>()) {
    native_->wakeUp = UniqueFd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (!native_->wakeUp)
        throw JobException(JB_UNKNOWN_ERROR, "eventfd", KALVOR_HERE);
}

WaitSet::~WaitSet() = default;

void WaitSet::wake() {
    const uint64_t one = 1;
    // A full counter already means "wake up".
    [[maybe_unused]] const ssize_t written = ::write(native_->wakeUp.get(), &one, sizeof one);
}

bool WaitSet::wait(const std::vector<intptr_t>& waitables, uint32_t milliseconds) {
    std::vector<pollfd> watched{{native_->wakeUp.get(), POLLIN, 0}};
    for (const intptr_t waitable : waitables)
        watched.push_back({static_cast<int>(waitable), POLLIN, 0});
    int ready = 0;
    do {
        ready = ::poll(watched.data(), watched.size(), static_cast<int>(milliseconds));
    } while (ready < 0 && errno == EINTR);
    if (watched[0].revents & POLLIN) {
        uint64_t count = 0;
        [[maybe_unused]] const ssize_t got = ::read(native_->wakeUp.get(), &count, sizeof count);
    }
    return ready > 0;
}

} // namespace Kalvor
