// The operating system's clocks and calendar conversions, one backend per platform.
//
// Everything here is thread-safe: the calendar conversions use the re-entrant C library forms.
#pragma once

#include <cstdint>
#include <ctime>

namespace Kalvor::SystemClock {

// Seconds since 1970-01-01T00:00:00Z, as `time` gives them.
int64_t now();

// Loads the runtime's time-zone data (tzset); safe to call more than once.
void initialiseTimeZone();

// Calendar fields of an instant in UTC / in the local zone; false when the runtime cannot
// convert the instant.
bool utcFields(int64_t seconds, std::tm& fields);
bool localFields(int64_t seconds, std::tm& fields);

// Milliseconds since an arbitrary start (GetTickCount, or the monotonic clock); wraps at 2^32.
uint32_t tickCount();

// Suspends the calling thread.
void sleepMilliseconds(uint32_t milliseconds);

} // namespace Kalvor::SystemClock
