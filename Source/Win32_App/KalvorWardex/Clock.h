// Where the supervisor's application checks read "now": the system clock in the product, a
// settable one in tests, so that the three-hour rules are reached without waiting.
#pragma once

#include "Time/DateTime.h"

namespace Kalvor {

class Clock {
public:
    virtual ~Clock() = default;
    virtual DateTime now() const = 0;
};

class SystemClockSource : public Clock {
public:
    DateTime now() const override { return DateTime(); }
};

} // namespace Kalvor
