#include "JobInstance/WaitSet.h"

#include "Common/Exception.h"
#include "Common/posix/UniqueFd.h"
#include "JobInstance/ThreadMessages.h"

#include <algorithm>
#include <cerrno>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace Kalvor {

struct WaitSet::Native {
    UniqueFd wakeUp;
    std::vector<intptr_t> watched;
};

WaitSet::WaitSet() : native_(std::make_unique<Native>()) {
    native_->wakeUp = UniqueFd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (!native_->wakeUp)
        throw JobException(JB_UNKNOWN_ERROR, "eventfd", KALVOR_HERE);
    // A message posted to this thread ends the wait, as MsgWaitForMultipleObjects does.
    setMessageArrivalHook([this] { wake(); });
}

WaitSet::~WaitSet() {
    setMessageArrivalHook(nullptr);
}

void WaitSet::watch(intptr_t waitable) {
    auto& watched = native_->watched;
    if (std::find(watched.begin(), watched.end(), waitable) == watched.end())
        watched.push_back(waitable);
}

void WaitSet::forget(intptr_t waitable) {
    auto& watched = native_->watched;
    watched.erase(std::remove(watched.begin(), watched.end(), waitable), watched.end());
}

void WaitSet::watchOnly(const std::vector<intptr_t>& waitables) {
    native_->watched.erase(std::remove_if(native_->watched.begin(), native_->watched.end(),
                                          [&](intptr_t waitable) {
                                              return std::find(waitables.begin(), waitables.end(),
                                                               waitable) == waitables.end();
                                          }),
                           native_->watched.end());
    for (const intptr_t waitable : waitables)
        watch(waitable);
}

void WaitSet::wake() noexcept {
    const uint64_t one = 1;
    // A full counter already means "wake up"; write() is async-signal-safe.
    [[maybe_unused]] const ssize_t written = ::write(native_->wakeUp.get(), &one, sizeof one);
}

std::vector<intptr_t> WaitSet::wait(uint32_t milliseconds) {
    std::vector<pollfd> polled{{native_->wakeUp.get(), POLLIN, 0}};
    for (const intptr_t waitable : native_->watched)
        polled.push_back({static_cast<int>(waitable), POLLIN, 0});
    int ready = 0;
    do {
        ready = ::poll(polled.data(), polled.size(), static_cast<int>(milliseconds));
    } while (ready < 0 && errno == EINTR);
    std::vector<intptr_t> ended;
    if (ready <= 0)
        return ended;
    if (polled[0].revents & POLLIN) {
        uint64_t count = 0;
        [[maybe_unused]] const ssize_t got = ::read(native_->wakeUp.get(), &count, sizeof count);
    }
    for (std::size_t index = 1; index < polled.size(); ++index)
        if (polled[index].revents != 0)
            ended.push_back(polled[index].fd);
    for (const intptr_t waitable : ended)
        forget(waitable);
    return ended;
}

} // namespace Kalvor
