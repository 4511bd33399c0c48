#include "JobInstance/SessionSignals.h"

#include <atomic>

namespace Kalvor {

namespace {
std::atomic<StopFlag*> inCharge{nullptr};
} // namespace

bool SessionSignals::claim(StopFlag& stop) {
    StopFlag* none = nullptr;
    return inCharge.compare_exchange_strong(none, &stop);
}

void SessionSignals::release() {
    inCharge.store(nullptr);
}

bool SessionSignals::deliver(StopFlag::Source source) noexcept {
    StopFlag* const stop = inCharge.load();
    if (!stop)
        return false;
    stop->request(source);
    return true;
}

} // namespace Kalvor
