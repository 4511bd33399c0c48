#include "Time/TimeSpan.h"

#include "Common/Exception.h"

#include <limits>

namespace Kalvor {

namespace {

constexpr int64_t kInt32Min = std::numeric_limits<int32_t>::min();
constexpr int64_t kInt32Max = std::numeric_limits<int32_t>::max();

bool isDigit(char byte) {
    return byte >= '0' && byte <= '9';
}

int32_t saturate(int64_t value) {
    return static_cast<int32_t>(value < kInt32Min ? kInt32Min
                                                  : (value > kInt32Max ? kInt32Max : value));
}

int64_t total(int64_t days, int64_t hours, int64_t minutes, int64_t seconds) {
    return days * 86400 + hours * 3600 + minutes * 60 + seconds;
}

// The run of digits directly before the first `designator`; 0 when it is absent or empty.
int32_t fieldBefore(const std::string& text, char designator) {
    const auto end = text.find(designator);
    if (end == std::string::npos)
        return 0;
    auto start = end;
    while (start > 0 && isDigit(text[start - 1]))
        --start;
    int64_t value = 0;
    for (auto i = start; i < end; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > kInt32Max)
            return static_cast<int32_t>(kInt32Max);
    }
    return static_cast<int32_t>(value);
}

void check(bool inRange, TimeErrorCode code, const char* field, int32_t value) {
    if (!inRange)
        throw TimeException(code, std::string(field) + " = " + std::to_string(value), KALVOR_HERE);
}

} // namespace

TimeSpan::TimeSpan(int32_t days, int32_t hours, int32_t minutes, int32_t seconds) {
    check(days >= -kMaxDays && days <= kMaxDays, TM_DAYS, "days", days);
    check(hours >= 0 && hours <= 23, TM_HOURS, "hours", hours);
    check(minutes >= 0 && minutes <= 59, TM_MINUTES, "minutes", minutes);
    check(seconds >= 0 && seconds <= 59, TM_SECONDS, "seconds", seconds);
    const int64_t sum = total(days, hours, minutes, seconds);
    if (sum > kInt32Max)
        throw TimeException(TM_DAYS, "total seconds = " + std::to_string(sum), KALVOR_HERE);
    seconds_ = static_cast<int32_t>(sum);
}

TimeSpan::TimeSpan(const DurationRecord& record) {
    const int64_t sum = total(record.days, record.hours, record.minutes, record.seconds);
    seconds_ = saturate(record.negative ? -sum : sum);
}

DurationRecord TimeSpan::parse(const std::string& text) {
    DurationRecord record;
    if (text.empty())
        return record;
    if (text[0] != 'P')
        throw TimeException(TM_INPUT, "Expected 'P' in beginning of time span.", KALVOR_HERE);
    record.negative = text.size() > 1 && text[1] == '-';
    record.days = fieldBefore(text, 'D');
    record.hours = fieldBefore(text, 'H');
    record.minutes = fieldBefore(text, 'M');
    record.seconds = fieldBefore(text, 'S');
    return record;
}

} // namespace Kalvor
