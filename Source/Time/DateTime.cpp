#include "Time/DateTime.h"

#include "Common/Exception.h"
#include "Time/LocalToUtc.h"
#include "Time/SystemClock.h"

#include <algorithm>
#include <atomic>
#include <ctime>
#include <mutex>

namespace Kalvor {

namespace {

constexpr int64_t kSecondsPerDay = 86400;
constexpr int32_t kLatestYear = 2038; // kLatestSeconds is 2038-01-19T03:14:07Z
constexpr int32_t kLatestMonth = 1;
constexpr int32_t kLatestDay = 19;
constexpr int32_t kLatestHour = 3;
constexpr int32_t kLatestMinute = 14;
constexpr int32_t kLatestSecond = 7;

std::once_flag timeZoneLoaded;
std::atomic<int32_t> lastZone{DateTime::kNoZone};
std::atomic<int32_t> defaultZone{DateTime::kNoZone};

// The runtime's zone data must be loaded before the first local-time conversion.
void ensureTimeZone() {
    std::call_once(timeZoneLoaded, SystemClock::initialiseTimeZone);
}

int64_t floorDiv(int64_t a, int64_t b) {
    return a / b - ((a % b != 0) && ((a < 0) != (b < 0)));
}
int64_t floorMod(int64_t a, int64_t b) {
    return a - floorDiv(a, b) * b;
}

bool isLeapYear(int64_t year) {
    return floorMod(year - 1968, 4) == 0;
}

int32_t monthLength(int64_t year, int32_t month) {
    switch (month) {
    case 2:
        return isLeapYear(year) ? 29 : 28;
    case 4:
    case 6:
    case 9:
    case 11:
        return 30;
    default:
        return 31;
    }
}

int32_t yearLength(int64_t year) {
    return isLeapYear(year) ? 366 : 365;
}

// Seconds since the epoch of fields read as UTC, unclamped; month must be 1-12.
int64_t countSeconds(int64_t year, int32_t month, int64_t day, int64_t hour, int64_t minute,
                     int64_t second) {
    int64_t days = 365 * (year - 1970) + floorDiv(year - 1969, 4);
    for (int32_t m = 1; m < month; ++m)
        days += monthLength(year, m);
    days += day - 1;
    return days * kSecondsPerDay + hour * 3600 + minute * 60 + second;
}

int64_t clampRange(int64_t value, int64_t low, int64_t high) {
    return std::min(std::max(value, low), high);
}

int32_t saturateInstant(int64_t seconds) {
    return static_cast<int32_t>(clampRange(seconds, 0, DateTime::kLatestSeconds));
}

// Clamps each field into the calendar and the representable range, then counts it as UTC.
int64_t clampedSeconds(int32_t year, int32_t month, int32_t day, int32_t hour, int32_t minute,
                       int32_t second) {
    year = std::max(year, 1970);
    month = static_cast<int32_t>(clampRange(month, 1, 12));
    day = static_cast<int32_t>(clampRange(day, 1, monthLength(year, month)));
    hour = static_cast<int32_t>(clampRange(hour, 0, 23));
    minute = static_cast<int32_t>(clampRange(minute, 0, 59));
    second = static_cast<int32_t>(clampRange(second, 0, 59));
    if (year > kLatestYear) {
        year = kLatestYear;
        month = std::min(month, kLatestMonth);
        day = std::min(day, kLatestDay);
        hour = std::min(hour, kLatestHour);
        minute = std::min(minute, kLatestMinute);
        second = std::min(second, kLatestSecond);
    }
    return countSeconds(year, month, day, hour, minute, second);
}

int32_t checkedInstant(int64_t seconds) {
    if (seconds < 0 || seconds > DateTime::kLatestSeconds)
        throw TimeException(TM_DATETIME,
                            "Seconds since 1970 out of range: " + std::to_string(seconds),
                            KALVOR_HERE);
    return static_cast<int32_t>(seconds);
}

// UTC calendar fields of any instant; the runtime's gmtime first, our own count where it
// refuses (the Windows runtime does for instants before 1970, which local text can reach).
void calendarFields(int64_t seconds, DateRecord& date, TimeOfDayRecord& time) {
    std::tm fields{};
    if (SystemClock::utcFields(seconds, fields)) {
        date = {fields.tm_year + 1900, fields.tm_mon + 1, fields.tm_mday, (fields.tm_wday + 6) % 7};
        time = {fields.tm_hour, fields.tm_min, fields.tm_sec, false};
        return;
    }
    int64_t days = floorDiv(seconds, kSecondsPerDay);
    const int64_t secondOfDay = seconds - days * kSecondsPerDay;
    date.weekday = static_cast<int32_t>(floorMod(days + 3, 7)); // 1970-01-01 was a Thursday
    int64_t year = 1970;
    while (days < 0)
        days += yearLength(--year);
    while (days >= yearLength(year))
        days -= yearLength(year++);
    int32_t month = 1;
    while (days >= monthLength(year, month))
        days -= monthLength(year, month++);
    date.year = static_cast<int32_t>(year);
    date.month = month;
    date.day = static_cast<int32_t>(days + 1);
    time = {static_cast<int32_t>(secondOfDay / 3600), static_cast<int32_t>(secondOfDay / 60 % 60),
            static_cast<int32_t>(secondOfDay % 60), false};
}

// The system's offset at an instant: its local fields read back as UTC, minus the instant.
int32_t systemZoneOffset(int64_t seconds) {
    ensureTimeZone();
    const int64_t instant = saturateInstant(seconds);
    std::tm fields{};
    if (!SystemClock::localFields(instant, fields))
        return 0;
    const int64_t local = countSeconds(fields.tm_year + 1900, fields.tm_mon + 1, fields.tm_mday,
                                       fields.tm_hour, fields.tm_min, fields.tm_sec);
    return static_cast<int32_t>((local - instant) / 60);
}

int32_t zoneOffsetAt(int32_t given, bool useProcessWide, int64_t seconds) {
    if (given != DateTime::kNoZone)
        return given;
    if (useProcessWide) {
        const int32_t last = lastZone.load();
        if (last != DateTime::kNoZone)
            return last;
        const int32_t fallback = defaultZone.load();
        if (fallback != DateTime::kNoZone)
            return fallback;
    }
    return systemZoneOffset(seconds);
}

// The zone rule for an instant that has no offset of its own.
int32_t processZoneOffset(int64_t seconds) {
    return zoneOffsetAt(DateTime::kNoZone, true, seconds);
}

// Moves an instant by a zone offset without overflow.
int64_t shifted(int64_t seconds, int32_t zoneMinutes) {
    return seconds + 60 * static_cast<int64_t>(zoneMinutes);
}

std::string twoDigits(int64_t value) {
    std::string text = std::to_string(value);
    return text.size() < 2 ? "0" + text : text;
}

// ---- ISO 8601 text ----

[[noreturn]] void badInput(const char* message) {
    throw TimeException(TM_INPUT, message, KALVOR_HERE);
}

bool isDigit(char byte) {
    return byte >= '0' && byte <= '9';
}

bool allDigits(const std::string& text, std::size_t pos, std::size_t count) {
    if (text.size() - pos < count)
        return false;
    return std::all_of(text.begin() + pos, text.begin() + pos + count, isDigit);
}

// A field made only of digits is its number; any other byte makes it `fallback`.
int32_t fieldValue(const std::string& field, int32_t fallback) {
    if (!allDigits(field, 0, field.size()))
        return fallback;
    int32_t value = 0;
    for (char byte : field)
        value = value * 10 + (byte - '0'); // fields hold at most 4 digits
    return value;
}

// Skips the separator at `pos` when a non-digit stands there; it must be `separator`.
void skipSeparator(const std::string& text, std::size_t& pos, char separator, const char* message) {
    if (isDigit(text[pos]))
        return;
    if (text[pos] != separator)
        badInput(message);
    ++pos;
}

std::string takeField(const std::string& text, std::size_t& pos, const char* shortMessage) {
    if (text.size() - pos < 2)
        badInput(shortMessage);
    pos += 2;
    return text.substr(pos - 2, 2);
}

DateRecord parseDate(const std::string& text, const DateRecord& today) {
    if (text.size() < 4)
        badInput("Minimum input: \"yyyy\".");
    std::string month = "01";
    std::string day = "01";
    std::size_t pos = 4;
    if (pos < text.size()) {
        skipSeparator(text, pos, '-', "Expected '-' after yyyy (year).");
        month = takeField(text, pos, "Illegal input format. Month must have 2 digits.");
        if (pos < text.size()) {
            skipSeparator(text, pos, '-', "Expected '-' after mm (month).");
            day = takeField(text, pos, "Illegal input format. Day must have 2 digits.");
            if (pos < text.size())
                badInput("Input too long.");
        }
    }
    DateRecord date;
    date.year = fieldValue(text.substr(0, 4), today.year);
    date.month = fieldValue(month, today.month);
    date.day = fieldValue(day, today.day);
    return date;
}

enum class ZoneKind { Utc, Offset, Local };

// "(+|-)hh[[:]mm]" from `pos` to the end, in minutes east of UTC.
int32_t parseZone(const std::string& text, std::size_t pos) {
    if (text[pos] != '+' && text[pos] != '-')
        badInput("Expected '+' or '-' before timezone.");
    const int32_t sign = text[pos] == '-' ? -1 : 1;
    ++pos;
    if (!allDigits(text, pos, 2))
        badInput("Illegal input format. Hours in timezone must have 2 digits.");
    const int32_t hours = fieldValue(text.substr(pos, 2), 0);
    pos += 2;
    int32_t minutes = 0;
    if (pos < text.size()) {
        skipSeparator(text, pos, ':', "Expected ':' after hh (hours) in timezone.");
        if (!allDigits(text, pos, 2))
            badInput("Illegal input format. Minutes in timezone must have 2 digits.");
        minutes = fieldValue(text.substr(pos, 2), 0);
        pos += 2;
        if (pos < text.size())
            badInput("Input too long.");
    }
    return sign * (60 * hours + minutes);
}

TimeOfDayRecord parseTime(const std::string& text, const TimeOfDayRecord& clock, ZoneKind& zone,
                          int32_t& offset) {
    if (text.size() < 2)
        badInput("Minimum input: \"hh\".");
    if (!allDigits(text, 0, 2))
        badInput("Minimum input format: \"hh\".");
    std::string minute = "00";
    std::string second = "00";
    zone = ZoneKind::Local;
    std::size_t pos = 2;
    if (pos < text.size()) {
        skipSeparator(text, pos, ':', "Expected ':' after hh (hours).");
        minute = takeField(text, pos, "Illegal input format. Minutes must have 2 digits.");
        if (pos < text.size()) {
            skipSeparator(text, pos, ':', "Expected ':' after mm (minutes).");
            second = takeField(text, pos, "Illegal input format. Seconds must have 2 digits.");
            if (pos < text.size() && text[pos] == 'Z') {
                if (pos + 1 < text.size())
                    badInput("Input too long.");
                zone = ZoneKind::Utc;
            } else if (pos < text.size()) {
                offset = parseZone(text, pos);
                zone = ZoneKind::Offset;
            }
        }
    }
    TimeOfDayRecord time;
    time.hour = fieldValue(text.substr(0, 2), clock.hour);
    time.minute = fieldValue(minute, clock.minute);
    time.second = fieldValue(second, clock.second);
    return time;
}

} // namespace

DateTime::DateTime() {
    ensureTimeZone();
    seconds_ = saturateInstant(SystemClock::now());
}

DateTime::DateTime(const DateRecord& date, const TimeOfDayRecord& time) {
    ensureTimeZone();
    const int64_t asUtc =
        clampedSeconds(date.year, date.month, date.day, time.hour, time.minute, time.second);
    if (!time.local) {
        seconds_ = checkedInstant(asUtc);
        return;
    }
    seconds_ = checkedInstant(localToUtc(asUtc, processZoneOffset));
}

DateTime::DateTime(int32_t year, int32_t month, int32_t day, int32_t hour, int32_t minute,
                   int32_t second, int32_t zoneOffset) {
    ensureTimeZone();
    const int64_t asUtc = clampedSeconds(year, month, day, hour, minute, second);
    if (zoneOffset == kNoZone) {
        seconds_ = checkedInstant(asUtc);
        return;
    }
    seconds_ = checkedInstant(shifted(asUtc, -zoneOffset));
    zoneOffset_ = zoneOffset;
    lastZone.store(zoneOffset);
}

DateTime::DateTime(const std::string& text, IsoMode mode) {
    const DateTime now;
    std::string dateText;
    std::string timeText;
    switch (mode) {
    case IsoMode::DateAndTime: {
        const auto separator = text.find('T');
        if (separator == std::string::npos)
            badInput("Date and time must be separated by a 'T'.");
        dateText = text.substr(0, separator);
        timeText = text.substr(separator + 1);
        break;
    }
    case IsoMode::TimeOnly:
        timeText = text;
        break;
    case IsoMode::DateOnly:
        dateText = text;
        break;
    }
    DateRecord date = now.date();
    TimeOfDayRecord time = now.time();
    ZoneKind zone = ZoneKind::Utc;
    int32_t offset = 0;
    if (mode != IsoMode::TimeOnly)
        date = parseDate(dateText, date);
    if (mode != IsoMode::DateOnly)
        time = parseTime(timeText, time, zone, offset);
    if (zone == ZoneKind::Local) {
        const int64_t asUtc =
            clampedSeconds(date.year, date.month, date.day, time.hour, time.minute, time.second);
        offset = static_cast<int32_t>((asUtc - localToUtc(asUtc, processZoneOffset)) / 60);
    }
    *this = DateTime(date.year, date.month, date.day, time.hour, time.minute, time.second,
                     zone == ZoneKind::Utc ? kNoZone : offset);
}

DateRecord DateTime::date() const {
    DateRecord date;
    TimeOfDayRecord time;
    calendarFields(seconds_, date, time);
    return date;
}

TimeOfDayRecord DateTime::time() const {
    DateRecord date;
    TimeOfDayRecord time;
    calendarFields(seconds_, date, time);
    return time;
}

int32_t DateTime::zoneOffset(bool useProcessWide) const {
    return zoneOffsetAt(zoneOffset_, useProcessWide, seconds_);
}

DateTime& DateTime::add(const TimeSpan& span) {
    seconds_ = saturateInstant(static_cast<int64_t>(seconds_) + span.totalSeconds());
    return *this;
}

DateTime DateTime::plus(const TimeSpan& span) const {
    DateTime result(*this);
    return result.add(span);
}

DateTime& DateTime::alignDown(const TimeSpan& span) {
    const int64_t step = span.totalSeconds();
    if (step < 2)
        return *this;
    const int64_t local = shifted(seconds_, zoneOffset());
    seconds_ = saturateInstant(seconds_ - floorMod(local, step));
    return *this;
}

int32_t DateTime::textFields(TextZone zone, DateRecord& date, TimeOfDayRecord& time) const {
    if (zone == TextZone::Utc) {
        calendarFields(seconds_, date, time);
        return 0;
    }
    const int32_t offset = zoneOffset();
    calendarFields(shifted(seconds_, offset), date, time);
    time.local = true;
    return offset;
}

std::string DateTime::dateText(TextForm form, TextZone zone) const {
    DateRecord date;
    TimeOfDayRecord time;
    textFields(zone, date, time);
    const char* separator = form == TextForm::Basic ? "" : "-";
    return std::to_string(date.year) + separator + twoDigits(date.month) + separator +
           twoDigits(date.day);
}

std::string DateTime::timeText(TextForm form, TextZone zone) const {
    DateRecord date;
    TimeOfDayRecord time;
    const int64_t offset = textFields(zone, date, time);
    const char* separator = form == TextForm::Basic ? "" : ":";
    std::string text = twoDigits(time.hour) + separator + twoDigits(time.minute) + separator +
                       twoDigits(time.second);
    if (zone == TextZone::Utc) {
        text += "Z";
    } else if (zone == TextZone::LocalWithZone) {
        const int64_t magnitude = offset < 0 ? -offset : offset;
        text += offset < 0 ? "-" : "+";
        text += twoDigits(magnitude / 60) + separator + twoDigits(magnitude % 60);
    }
    return text;
}

std::string DateTime::text(TextForm form, TextZone zone) const {
    return dateText(form, zone) + "T" + timeText(form, zone);
}

void DateTime::waitUntil(const TimeSpan& span) {
    const DateTime target = DateTime().plus(span);
    while (DateTime().before(target))
        SystemClock::sleepMilliseconds(10);
}

int32_t DateTime::lastZoneOffset() {
    return lastZone.load();
}

int32_t DateTime::defaultZoneOffset() {
    return defaultZone.load();
}

void DateTime::setDefaultZoneOffset(int32_t minutes) {
    defaultZone.store(minutes);
}

void DateTime::resetZoneState() {
    lastZone.store(kNoZone);
    defaultZone.store(kNoZone);
}

} // namespace Kalvor
