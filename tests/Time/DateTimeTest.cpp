#include "Time/DateTime.h"

#include "CaptureTimeError.h"
#include "Time/LocalToUtc.h"
#include "Time/SystemClock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>

namespace Kalvor {
namespace {

// The zone state is process-wide and sticky; every test starts and ends without it.
class DateTimeTest : public testing::Test {
protected:
    void SetUp() override { DateTime::resetZoneState(); }
    void TearDown() override { DateTime::resetZoneState(); }
};

DateTime parsed(const char* text) {
    return DateTime(text, IsoMode::DateAndTime);
}

TEST_F(DateTimeTest, IsoTextErrorsNameTheFault) {
    struct Case {
        IsoMode mode;
        const char* text;
        const char* message;
    };
    const IsoMode both = IsoMode::DateAndTime, date = IsoMode::DateOnly, time = IsoMode::TimeOnly;
    const Case cases[] = {
        {both, "2007-10-24 09:23:29", "Date and time must be separated by a 'T'."},
        {date, "200", "Minimum input: \"yyyy\"."},
        {both, "T09:00:00Z", "Minimum input: \"yyyy\"."},
        {date, "2007/10", "Expected '-' after yyyy (year)."},
        {date, "2007-1", "Illegal input format. Month must have 2 digits."},
        {date, "2007-", "Illegal input format. Month must have 2 digits."},
        {date, "2007-10/24", "Expected '-' after mm (month)."},
        {date, "2007-10-2", "Illegal input format. Day must have 2 digits."},
        {date, "2007102", "Illegal input format. Day must have 2 digits."},
        {date, "2007-10-245", "Input too long."},
        {time, "9", "Minimum input: \"hh\"."},
        {both, "2007-10-24T", "Minimum input: \"hh\"."},
        {time, "9:00", "Minimum input format: \"hh\"."},
        {time, "09.23", "Expected ':' after hh (hours)."},
        {time, "09Z", "Expected ':' after hh (hours)."},
        {time, "09:2", "Illegal input format. Minutes must have 2 digits."},
        {time, "09:23.29", "Expected ':' after mm (minutes)."},
        {time, "09:23:2", "Illegal input format. Seconds must have 2 digits."},
        {time, "09:23:29Z0", "Input too long."},
        {time, "09:23:29.5Z", "Expected '+' or '-' before timezone."},
        {both, "2007-10-24T09:23:29 ", "Expected '+' or '-' before timezone."},
        {time, "09:23:29+2", "Illegal input format. Hours in timezone must have 2 digits."},
        {time, "09:23:29-0a", "Illegal input format. Hours in timezone must have 2 digits."},
        {time, "09:23:29+02.00", "Expected ':' after hh (hours) in timezone."},
        {time, "09:23:29+02:", "Illegal input format. Minutes in timezone must have 2 digits."},
        {time, "09:23:29+020", "Illegal input format. Minutes in timezone must have 2 digits."},
        {time, "09:23:29+02:000", "Input too long."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const TimeException error = captureTimeError([&] { DateTime(c.text, c.mode); });
        EXPECT_EQ(error.code(), TM_INPUT);
        EXPECT_EQ(error.detail(), c.message);
    }
}

TEST_F(DateTimeTest, IsoTextFormsAndZones) {
    const std::pair<const char*, const char*> cases[] = {
        {"2007-10-24T09:23:29Z", "2007-10-24T09:23:29Z"},
        {"20071024T092329Z", "2007-10-24T09:23:29Z"},
        {"2007-10-24T09:23:29+02:00", "2007-10-24T07:23:29Z"},
        {"2007-10-24T09:23:29+0200", "2007-10-24T07:23:29Z"},
        {"2007-10-24T09:23:29+02", "2007-10-24T07:23:29Z"},
        {"2007-10-24T09:23:29-01:30", "2007-10-24T10:53:29Z"},
        {"2007T09:30:00Z", "2007-01-01T09:30:00Z"},
        {"2007-02-30T25:00:00Z", "2007-02-28T23:00:00Z"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(parsed(c.first).text(), c.second) << c.first;

    DateTime::resetZoneState();
    EXPECT_EQ(parsed("2007-10-24T09:23:29Z").givenZoneOffset(), DateTime::kNoZone);
    EXPECT_EQ(DateTime::lastZoneOffset(), DateTime::kNoZone);
    EXPECT_EQ(parsed("2007-10-24T09:23:29-01:30").givenZoneOffset(), -90);
    EXPECT_EQ(DateTime::lastZoneOffset(), -90);
}

TEST_F(DateTimeTest, TextWithoutZoneIsLocalAndItsOffsetBecomesTheLast) {
    DateTime::setDefaultZoneOffset(60);
    const DateTime first = parsed("2007-10-24T09:23:29");
    EXPECT_EQ(first.text(), "2007-10-24T08:23:29Z");
    EXPECT_EQ(first.givenZoneOffset(), 60);
    EXPECT_EQ(DateTime::lastZoneOffset(), 60);
    // The last offset now outranks the default.
    DateTime::setDefaultZoneOffset(180);
    EXPECT_EQ(DateTime("09:23:29", IsoMode::TimeOnly).time().hour, 8);
}

TEST_F(DateTimeTest, MissingAndNonDigitFieldsTakeTheCurrentUtcValue) {
    // Compared only when the clock stayed within one second while parsing.
    for (int attempt = 0; attempt < 5; ++attempt) {
        const DateTime now;
        const DateTime yearOnly("2007", IsoMode::DateOnly);
        const DateTime odd = parsed("20x7-1x-05T09:xx:2xZ");
        const DateTime timeOnly("09:23:29Z", IsoMode::TimeOnly);
        if (DateTime() != now)
            continue;
        EXPECT_EQ(yearOnly.text(), "2007-01-01T" + now.timeText());
        const DateRecord today = now.date();
        EXPECT_EQ(odd.dateText(), DateTime(today.year, today.month, 5, 0, 0, 0).dateText());
        EXPECT_EQ(odd.timeText(),
                  "09:" + now.timeText().substr(3, 2) + ":" + now.timeText().substr(6, 2) + "Z");
        EXPECT_EQ(timeOnly.text(), now.dateText() + "T09:23:29Z");
        return;
    }
    FAIL() << "the clock never held still for a second";
}

TEST_F(DateTimeTest, FieldsAreClampedIntoCalendarAndRange) {
    struct Case {
        int32_t year, month, day, hour, minute, second;
        const char* expected;
    };
    const Case cases[] = {
        {2007, 4, 31, 12, 0, 0, "2007-04-30T12:00:00Z"},
        {1969, 6, 15, 12, 0, 0, "1970-06-15T12:00:00Z"},
        {2007, 13, 0, 24, 60, 60, "2007-12-01T23:59:59Z"},
        {2007, 0, -5, -1, -1, -1, "2007-01-01T00:00:00Z"},
        {2040, 12, 31, 23, 59, 59, "2038-01-19T03:14:07Z"},
        // Past 2038 each field is cut on its own to the latest instant's.
        {2040, 1, 5, 23, 0, 0, "2038-01-05T03:00:00Z"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(DateTime(c.year, c.month, c.day, c.hour, c.minute, c.second).text(), c.expected);

    EXPECT_EQ(DateTime(2038, 1, 19, 3, 14, 7).seconds(), DateTime::kLatestSeconds);
    EXPECT_EQ(DateTime(1970, 1, 1, 0, 0, 0, -60).seconds(), 3600);
    for (auto make : std::initializer_list<std::function<void()>>{
             [] { DateTime(2038, 1, 19, 3, 14, 8); },
             [] { DateTime(2038, 6, 1, 0, 0, 0); },
             [] { DateTime(1970, 1, 1, 0, 0, 0, 60); },
             [] { DateTime(2038, 1, 19, 3, 14, 7, -1); },
         })
        EXPECT_EQ(captureTimeError(make).code(), TM_DATETIME);
}

TEST_F(DateTimeTest, MonthLengthsAndLeapYears) {
    struct Case {
        int32_t year, month, days;
    };
    const Case cases[] = {{2008, 2, 29}, {2007, 2, 28}, {1972, 2, 29},  {1970, 2, 28},
                          {2000, 2, 29}, {2036, 2, 29}, {2007, 1, 31},  {2007, 4, 30},
                          {2007, 6, 30}, {2007, 9, 30}, {2007, 11, 30}, {2007, 12, 31}};
    for (const auto& c : cases)
        EXPECT_EQ(DateTime(c.year, c.month, 31, 0, 0, 0).date().day, c.days)
            << c.year << "-" << c.month;
    // Leap days every (year - 1968) % 4 == 0, counted from 1970.
    EXPECT_EQ(DateTime(1973, 1, 1, 0, 0, 0).seconds(), (2 * 365 + 366) * 86400);
    EXPECT_EQ(DateTime(2007, 10, 24, 9, 23, 29).seconds(), 1193217809);
}

TEST_F(DateTimeTest, RecordsAndWeekdays) {
    const DateRecord date = parsed("2007-10-24T09:23:29Z").date();
    const TimeOfDayRecord time = parsed("2007-10-24T09:23:29Z").time();
    EXPECT_EQ(date.year * 10000 + date.month * 100 + date.day, 20071024);
    EXPECT_EQ(time.hour * 10000 + time.minute * 100 + time.second, 92329);
    EXPECT_FALSE(time.local);
    EXPECT_EQ(parsed("2007-10-22T12:00:00Z").date().weekday, 0);
    EXPECT_EQ(parsed("2007-10-28T12:00:00Z").date().weekday, 6);
    EXPECT_EQ(parsed("1970-01-01T00:00:00Z").date().weekday, 3);
}

TEST_F(DateTimeTest, LocalRecordsUseTheZoneRule) {
    const DateRecord date{2007, 10, 24, 0};
    EXPECT_EQ(DateTime(date, {9, 23, 29, false}).text(), "2007-10-24T09:23:29Z");
    DateTime::setDefaultZoneOffset(120);
    EXPECT_EQ(DateTime(date, {9, 23, 29, true}).text(), "2007-10-24T07:23:29Z");
    // Nothing explicit was given, so nothing became the last zone offset.
    EXPECT_EQ(DateTime::lastZoneOffset(), DateTime::kNoZone);
}

// Zones with summer time, as offset functions: hours before and after each change convert
// with the offset in force, and the repeated or skipped hour takes the summer offset.
TEST(LocalToUtc, SummerTimeChanges) {
    const int64_t springCet = parsed("2007-03-25T01:00:00Z").seconds();
    const int64_t autumnCet = parsed("2007-10-28T01:00:00Z").seconds();
    const auto cet = [&](int64_t s) { return s >= springCet && s < autumnCet ? 120 : 60; };
    const int64_t springNewYork = parsed("2007-03-11T07:00:00Z").seconds();
    const auto newYork = [&](int64_t s) { return s >= springNewYork ? -240 : -300; };
    struct Case {
        bool inCet;
        const char* local;
        const char* expected;
    };
    const Case cases[] = {
        {true, "2007-03-25T01:30:00Z", "2007-03-25T00:30:00Z"},
        {true, "2007-03-25T02:30:00Z", "2007-03-25T00:30:00Z"}, // skipped
        {true, "2007-03-25T03:30:00Z", "2007-03-25T01:30:00Z"},
        {true, "2007-10-28T01:30:00Z", "2007-10-27T23:30:00Z"},
        {true, "2007-10-28T02:30:00Z", "2007-10-28T00:30:00Z"}, // repeated
        {true, "2007-10-28T03:30:00Z", "2007-10-28T02:30:00Z"},
        {false, "2007-03-11T01:30:00Z", "2007-03-11T06:30:00Z"},
        {false, "2007-03-11T02:30:00Z", "2007-03-11T06:30:00Z"}, // skipped
        {false, "2007-03-11T04:00:00Z", "2007-03-11T08:00:00Z"},
    };
    for (const auto& c : cases) {
        const int64_t asUtc = parsed(c.local).seconds();
        const int64_t result = c.inCet ? localToUtc(asUtc, cet) : localToUtc(asUtc, newYork);
        EXPECT_EQ(result, parsed(c.expected).seconds()) << c.local;
    }
}

TEST_F(DateTimeTest, ZoneOffsetRuleOrder) {
    DateTime plain = parsed("2007-10-24T09:23:29Z");
    DateTime::setDefaultZoneOffset(30);
    EXPECT_EQ(plain.zoneOffset(), 30);
    DateTime(2007, 1, 1, 0, 0, 0, 45); // becomes the last zone offset
    EXPECT_EQ(plain.zoneOffset(), 45);
    EXPECT_EQ(DateTime(2007, 1, 1, 0, 0, 0, -300).zoneOffset(false), -300);
    // Without the process-wide values the system zone answers: a real offset, not ours.
    DateTime::setDefaultZoneOffset(12345);
    const int32_t system = plain.zoneOffset(false);
    EXPECT_LE(system < 0 ? -system : system, 14 * 60);
}

TEST_F(DateTimeTest, AlignDownCountsInLocalTime) {
    const TimeSpan hour(3600), day(86400);
    DateTime::setDefaultZoneOffset(120);
    EXPECT_EQ(parsed("2007-10-24T09:23:29Z").alignDown(hour).text(), "2007-10-24T09:00:00Z");
    EXPECT_EQ(parsed("2007-10-24T09:23:29Z").alignDown(day).text(), "2007-10-23T22:00:00Z");
    EXPECT_EQ(parsed("2007-10-24T09:23:29Z").alignDown(TimeSpan(900)).text(),
              "2007-10-24T09:15:00Z");
    for (int32_t small : {1, 0, -3600})
        EXPECT_EQ(parsed("2007-10-24T09:23:29Z").alignDown(TimeSpan(small)).text(),
                  "2007-10-24T09:23:29Z");
    DateTime::setDefaultZoneOffset(-90);
    EXPECT_EQ(parsed("2007-10-24T09:23:29Z").alignDown(hour).text(), "2007-10-24T08:30:00Z");
    // The value's own offset comes first; a local midnight before 1970 stops at the epoch.
    EXPECT_EQ(parsed("2007-10-24T09:23:29+02:00").alignDown(day).text(), "2007-10-23T22:00:00Z");
    EXPECT_EQ(parsed("1970-01-01T00:30:00Z").alignDown(day).seconds(), 0);
}

TEST_F(DateTimeTest, AddMovesAndSaturatesAtTheRangeEnds) {
    DateTime value = parsed("2007-10-24T09:23:29Z");
    const DateTime later = value.plus(TimeSpan(TimeSpan::parse("P1DT1H")));
    EXPECT_EQ(value.text(), "2007-10-24T09:23:29Z");
    EXPECT_EQ(later.text(), "2007-10-25T10:23:29Z");
    EXPECT_TRUE(value.before(later) && later.after(value));
    EXPECT_FALSE(value.before(value) || value.after(value));
    value += TimeSpan(-30);
    EXPECT_EQ(value.text(), "2007-10-24T09:22:59Z");
    EXPECT_EQ(parsed("2038-01-19T00:00:00Z").add(TimeSpan(86400)).seconds(),
              DateTime::kLatestSeconds);
    EXPECT_EQ(parsed("1970-01-01T01:00:00Z").add(TimeSpan(-86400)).seconds(), 0);
}

TEST_F(DateTimeTest, TextForms) {
    const DateTime value = parsed("2007-10-24T23:30:05Z");
    EXPECT_EQ(value.text(TextForm::Basic), "20071024T233005Z");
    EXPECT_EQ(value.dateText(TextForm::Basic), "20071024");
    EXPECT_EQ(value.timeText(), "23:30:05Z");
    DateTime::setDefaultZoneOffset(90);
    EXPECT_EQ(value.text(TextForm::Extended, TextZone::Local), "2007-10-25T01:00:05");
    EXPECT_EQ(value.text(TextForm::Extended, TextZone::LocalWithZone), "2007-10-25T01:00:05+01:30");
    EXPECT_EQ(value.text(TextForm::Basic, TextZone::LocalWithZone), "20071025T010005+0130");
    DateTime::setDefaultZoneOffset(0);
    EXPECT_EQ(value.timeText(TextForm::Extended, TextZone::LocalWithZone), "23:30:05+00:00");
    // Local text may reach back before 1970.
    DateTime::setDefaultZoneOffset(-60);
    EXPECT_EQ(parsed("1970-01-01T00:30:00Z").text(TextForm::Extended, TextZone::LocalWithZone),
              "1969-12-31T23:30:00-01:00");
    // Local text with its zone reads back as the same instant.
    const std::string local = value.text(TextForm::Extended, TextZone::LocalWithZone);
    EXPECT_EQ(parsed(local.c_str()), value);
}

TEST_F(DateTimeTest, NowAndWaitUntil) {
    const int64_t before = SystemClock::now();
    const DateTime now;
    EXPECT_GE(now.seconds(), before);
    EXPECT_LE(now.seconds(), SystemClock::now());
    DateTime::waitUntil(TimeSpan(-5)); // returns at once
    const DateTime start;
    DateTime::waitUntil(TimeSpan(1));
    EXPECT_FALSE(DateTime().before(start.plus(TimeSpan(1))));
}

TEST_F(DateTimeTest, ZoneStateIsSafeAcrossThreads) {
    std::atomic<bool> stop{false};
    DateTime(2007, 1, 1, 0, 0, 0, 60);
    std::thread writer([&] {
        for (int32_t i = 0; !stop; ++i)
            DateTime(2007, 1, 1, 0, 0, 0, i % 2 ? 60 : 120);
    });
    const DateTime value = parsed("2007-10-24T09:23:29Z");
    for (int i = 0; i < 2000; ++i) {
        const int32_t offset = value.zoneOffset();
        if (offset != 60 && offset != 120) {
            ADD_FAILURE() << offset;
            break;
        }
    }
    stop = true;
    writer.join();
}

} // namespace
} // namespace Kalvor
