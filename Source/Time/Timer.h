// A deadline on the wall clock with a millisecond tick snapshot, and the process's one sleep
// primitive.
//
// expired() compares whole seconds: a deadline at the current second has not expired yet; it
// has once the clock reads a later second. The tick snapshot (milliseconds since an arbitrary
// start, wrapping at 2^32) is taken when the timer is made and on restart().
#pragma once

#include "Time/DateTime.h"

#include <cstdint>

namespace Kalvor {

class Timer {
public:
    // Deadline now; tick snapshot taken.
    Timer();

    void setDeadline(const DateTime& deadline) { deadline_ = deadline; }
    const DateTime& deadline() const { return deadline_; }

    // Takes a new tick snapshot and returns it.
    uint32_t restart();
    uint32_t startTick() const { return startTick_; }

    // True when the deadline is strictly before the current instant.
    bool expired() const;

private:
    DateTime deadline_;
    uint32_t startTick_;
};

// Suspends the calling thread for the given number of milliseconds.
void sleepMilliseconds(uint32_t milliseconds);

} // namespace Kalvor
