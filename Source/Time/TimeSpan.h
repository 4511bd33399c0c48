// A signed duration in whole seconds (32-bit), and the "P..." duration text of the configuration.
//
// Duration text: "P", an optional "-" (negative), then numbers each standing directly before
// one of the designators D, H, M, S (days, hours, minutes, seconds). Only the first occurrence
// of each designator counts; every other byte is ignored, so "PT1H" is one hour and "P1Y2M" is
// two minutes ("M" always means minutes; there are no years, months or weeks). The parser
// keeps the numbers as written; only the constructor from separate fields checks ranges.
#pragma once

#include "Time/TimeBase.h"

#include <cstdint>
#include <string>

namespace Kalvor {

// A parsed duration text: the numbers as written, with the sign kept apart.
struct DurationRecord {
    int32_t days = 0;
    int32_t hours = 0;
    int32_t minutes = 0;
    int32_t seconds = 0;
    bool negative = false;
};

class TimeSpan : public TimeBase {
public:
    static constexpr int32_t kMaxDays = 24855; // largest whole day count whose seconds fit

    TimeSpan() = default;
    explicit TimeSpan(int32_t seconds) : TimeBase(seconds) {}
    // Checks, in this order: days within +-kMaxDays (TM_DAYS), hours 0-23 (TM_HOURS), minutes
    // 0-59 (TM_MINUTES), seconds 0-59 (TM_SECONDS). A total beyond the 32-bit range (kMaxDays
    // plus more than 11647 seconds) also throws TM_DAYS rather than wrapping.
    TimeSpan(int32_t days, int32_t hours, int32_t minutes, int32_t seconds);
    // No range checks; a total beyond the 32-bit range saturates at its end.
    explicit TimeSpan(const DurationRecord& record);

    int32_t totalSeconds() const { return seconds_; }

    bool operator==(const TimeSpan& other) const { return seconds_ == other.seconds_; }
    bool operator!=(const TimeSpan& other) const { return seconds_ != other.seconds_; }
    bool operator<=(const TimeSpan& other) const { return seconds_ <= other.seconds_; }

    // Empty text gives the zero record; text not starting with "P" throws TM_INPUT. Numbers too
    // large for 32 bits saturate.
    static DurationRecord parse(const std::string& text);
};

} // namespace Kalvor
