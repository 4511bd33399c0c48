// Where the supervisor's application checks read "now": the system clock in the product, a
// settable one in tests, so that the three-hour rules are reached without waiting.
#pragma once

#include "Time/DateTime.h"

#include <chrono>
#include <cstdint>

namespace Kalvor {

class Clock {
public:
    virtual ~Clock() = default;
    virtual DateTime now() const = 0;
    // A clock that only goes forward, for short spans (answer deadlines, restart pacing).
    virtual uint64_t monotonicMilliseconds() const = 0;
};

class SystemClockSource : public Clock {
public:
    DateTime now() const override { return DateTime(); }
    uint64_t monotonicMilliseconds() const override {
        return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                         std::chrono::steady_clock::now().time_since_epoch())
                                         .count());
    }
};

} // namespace Kalvor
