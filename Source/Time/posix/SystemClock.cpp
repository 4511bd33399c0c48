#include "Time/SystemClock.h"

#include <cerrno>
#include <time.h>

namespace Kalvor::SystemClock {

int64_t now() { return static_cast<int64_t>(::time(nullptr)); }

void initialiseTimeZone() { ::tzset(); }

bool utcFields(int64_t seconds, std::tm& fields) {
    const time_t t = static_cast<time_t>(seconds);
    return ::gmtime_r(&t, &fields) != nullptr;
}

bool localFields(int64_t seconds, std::tm& fields) {
    const time_t t = static_cast<time_t>(seconds);
    return ::localtime_r(&t, &fields) != nullptr;
}

uint32_t tickCount() {
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    const uint64_t ms = static_cast<uint64_t>(ts.tv_sec) * 1000u + ts.tv_nsec / 1000000;
    return static_cast<uint32_t>(ms);
}

void sleepMilliseconds(uint32_t milliseconds) {
    timespec left{static_cast<time_t>(milliseconds / 1000),
                  static_cast<long>(milliseconds % 1000) * 1000000L};
    // A signal must not cut the pause short.
    while (::nanosleep(&left, &left) == -1 && errno == EINTR) {
    }
}

} // namespace Kalvor::SystemClock
