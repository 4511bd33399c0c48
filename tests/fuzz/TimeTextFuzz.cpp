// libFuzzer target: any bytes as ISO 8601 date-time text (in each of its three modes) and as
// "P" duration text. Only TimeException may come out, and a value made is within its range.
#include "Common/Exception.h"
#include "Time/DateTime.h"
#include "Time/TimeSpan.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace {

void check(bool condition) {
    if (!condition)
        __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    using namespace Kalvor;
    const std::string text(reinterpret_cast<const char*>(data), size);

    try {
        const DurationRecord record = TimeSpan::parse(text);
        check(record.days >= 0 && record.hours >= 0 && record.minutes >= 0 && record.seconds >= 0);
        (void)TimeSpan(record).totalSeconds();
    } catch (const TimeException& error) {
        check(error.code() == TM_INPUT);
    }

    for (const IsoMode mode : {IsoMode::DateAndTime, IsoMode::TimeOnly, IsoMode::DateOnly}) {
        try {
            const DateTime time(text, mode);
            check(time.seconds() >= 0);
            (void)time.text(TextForm::Extended, TextZone::LocalWithZone);
            (void)time.text(TextForm::Basic, TextZone::Utc);
        } catch (const TimeException&) {
        }
    }
    // The last zone offset sticks for the process: start every input from the same state.
    DateTime::resetZoneState();
    return 0;
}
