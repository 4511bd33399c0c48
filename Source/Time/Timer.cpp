#include "Time/Timer.h"

#include "Time/SystemClock.h"

namespace Kalvor {

Timer::Timer() : startTick_(SystemClock::tickCount()) {}

uint32_t Timer::restart() {
    startTick_ = SystemClock::tickCount();
    return startTick_;
}

bool Timer::expired() const {
    return deadline_.before(DateTime());
}

void sleepMilliseconds(uint32_t milliseconds) {
    SystemClock::sleepMilliseconds(milliseconds);
}

} // namespace Kalvor
