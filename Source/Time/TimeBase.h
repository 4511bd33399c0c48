// The common base of the time values: one signed 32-bit count of seconds.
//
// DateTime reads it as seconds since 1970-01-01T00:00:00Z and TimeSpan as a duration. The public
// setter accepts only counts that are valid instants (not negative); TimeSpan stores negative
// durations through the protected constructor.
#pragma once

#include <cstdint>

namespace Kalvor {

class TimeBase {
public:
    TimeBase() = default;

    int32_t seconds() const { return seconds_; }
    // Throws TimeException TM_DATETIME for a negative count.
    void setSeconds(int32_t seconds);
    bool isZero() const { return seconds_ == 0; }

protected:
    explicit TimeBase(int32_t seconds) : seconds_(seconds) {}

    int32_t seconds_ = 0;
};

} // namespace Kalvor
