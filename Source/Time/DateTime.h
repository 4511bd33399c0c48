// An instant on the UTC time line with one-second resolution.
//
// The instant is a signed 32-bit count of seconds since 1970-01-01T00:00:00Z, so the valid range
// is 1970-01-01T00:00:00Z to 2038-01-19T03:14:07Z (kLatestSeconds, INT32_MAX). Field values are
// clamped into that range; a count that still falls outside it throws TimeException
// TM_DATETIME. Arithmetic (add, alignDown) and the clock (now) saturate at the range ends
// instead.
//
// The calendar has no century rule: February has 29 days when (year - 1968) % 4 == 0, which is
// exact for every year of the range.
//
// Zone offsets are minutes east of UTC; kNoZone means "none given". Process-wide zone state:
// the last offset any value was explicitly given, and a default offset consulted before the
// system's local zone. Both are atomics, safe to read and write from any thread.
#pragma once

#include "Time/TimeBase.h"
#include "Time/TimeSpan.h"

#include <cstdint>
#include <string>

namespace Kalvor {

// Calendar date. weekday: Monday 0 ... Sunday 6 (ignored on input).
struct DateRecord {
    int32_t year = 1970;
    int32_t month = 1;
    int32_t day = 1;
    int32_t weekday = 3;
};

// Time of day; `local` false means the fields are UTC.
struct TimeOfDayRecord {
    int32_t hour = 0;
    int32_t minute = 0;
    int32_t second = 0;
    bool local = false;
};

// Which parts an ISO 8601 text holds.
enum class IsoMode : int32_t { DateAndTime = 0, TimeOnly = 1, DateOnly = 2 };

// Extended: 2007-10-24T09:23:29Z; basic: 20071024T092329Z (every "-" and ":" left out, also in
// a zone offset, so basic texts are valid file names).
enum class TextForm { Extended, Basic };

// Utc: fields in UTC with "Z". Local: fields shifted by zoneOffset() with no zone suffix.
// LocalWithZone: as Local, followed by the offset, e.g. "+02:00".
enum class TextZone { Utc, Local, LocalWithZone };

class DateTime : public TimeBase {
public:
    static constexpr int32_t kNoZone = 2147483647;
    static constexpr int32_t kLatestSeconds = 2147483647; // 2038-01-19T03:14:07Z

    // Now, from the system clock; zone none.
    DateTime();
    // The fields are local time (by the zone rule of zoneOffset(), see LocalToUtc.h) when
    // time.local is set, UTC otherwise. Throws TM_DATETIME as the field constructor does.
    DateTime(const DateRecord& date, const TimeOfDayRecord& time);
    // Fields are clamped: year to at least 1970, month to 1-12, day to 1..month length, hour to
    // 0-23, minute and second to 0-59. A year beyond 2038 is cut to 2038, and then month, day,
    // hour, minute and second each to at most those of kLatestSeconds. A given zone offset is
    // subtracted, kept in the value and made the process-wide last zone offset. Throws
    // TM_DATETIME when the resulting count lies outside 0..kLatestSeconds.
    DateTime(int32_t year, int32_t month, int32_t day, int32_t hour, int32_t minute, int32_t second,
             int32_t zoneOffset = kNoZone);
    // ISO 8601 text, extended or basic form: date "yyyy[-mm[-dd]]", time
    // "hh[:mm[:ss]][Z|(+|-)hh[[:]mm]]". A field holding a non-digit takes the current UTC
    // value. A time without "Z" or zone is local, converted as for local records, and its offset
    // is then kept as if it had been written; a date alone is UTC at the current time of day.
    // Throws TM_INPUT naming the fault, TM_DATETIME as the field constructor does.
    DateTime(const std::string& text, IsoMode mode);

    // Calendar fields in UTC (time().local is false).
    DateRecord date() const;
    TimeOfDayRecord time() const;

    // The value's own offset if given; else, when useProcessWide, the last zone offset, then
    // the default zone offset, if set; else the system's local offset at this instant.
    int32_t zoneOffset(bool useProcessWide = true) const;
    // The offset given with the value, or kNoZone.
    int32_t givenZoneOffset() const { return zoneOffset_; }

    DateTime& add(const TimeSpan& span);
    DateTime plus(const TimeSpan& span) const;
    DateTime& operator+=(const TimeSpan& span) { return add(span); }
    DateTime operator+(const TimeSpan& span) const { return plus(span); }

    // For spans of 2 s or more: down to the latest multiple of the span counted in local time
    // (zoneOffset()), so one day aligns to local midnight. Shorter spans change nothing.
    DateTime& alignDown(const TimeSpan& span);

    bool before(const DateTime& other) const { return seconds_ < other.seconds_; }
    bool after(const DateTime& other) const { return seconds_ > other.seconds_; }
    bool operator==(const DateTime& other) const { return seconds_ == other.seconds_; }
    bool operator!=(const DateTime& other) const { return seconds_ != other.seconds_; }
    bool operator<(const DateTime& other) const { return before(other); }
    bool operator>(const DateTime& other) const { return after(other); }

    std::string dateText(TextForm form = TextForm::Extended, TextZone zone = TextZone::Utc) const;
    std::string timeText(TextForm form = TextForm::Extended, TextZone zone = TextZone::Utc) const;
    // Date text, "T", time text.
    std::string text(TextForm form = TextForm::Extended, TextZone zone = TextZone::Utc) const;

    // Returns once the clock reaches now + span, checking it every 10 ms.
    static void waitUntil(const TimeSpan& span);

    static int32_t lastZoneOffset();
    static int32_t defaultZoneOffset();
    // Who sets the default (start-up, configuration) is up to the caller; kNoZone unsets it.
    static void setDefaultZoneOffset(int32_t minutes);
    // Forgets the last and the default zone offset. For start-up and tests only: the last zone
    // offset is otherwise sticky for the life of the process.
    static void resetZoneState();

private:
    // Calendar fields for a text form; the local forms shift by zoneOffset(), which is returned
    // so that the fields and the written offset agree.
    int32_t textFields(TextZone zone, DateRecord& date, TimeOfDayRecord& time) const;

    int32_t zoneOffset_ = kNoZone;
};

} // namespace Kalvor
