#include "Time/TimeSpan.h"

#include "CaptureTimeError.h"

#include <gtest/gtest.h>

namespace Kalvor {
namespace {

struct ParseCase {
    const char* text;
    DurationRecord expected;
};

TEST(TimeSpanParse, DesignatorsAndTheirQuirks) {
    const ParseCase cases[] = {
        {"", {0, 0, 0, 0, false}},
        {"PT1H", {0, 1, 0, 0, false}},
        {"P1D", {1, 0, 0, 0, false}},
        {"PT30M", {0, 0, 30, 0, false}},
        {"P1DT12H", {1, 12, 0, 0, false}},
        {"P1DT2H3M4S", {1, 2, 3, 4, false}},
        {"P-1D", {1, 0, 0, 0, true}},
        {"P1Y2M", {0, 0, 2, 0, false}},     // no years: "M" is always minutes
        {"PT90M", {0, 0, 90, 0, false}},    // numbers kept as written
        {"PDTHMS", {0, 0, 0, 0, false}},    // empty digit runs are 0
        {"PT5H7H", {0, 5, 0, 0, false}},    // first designator counts
        {"P4S3M2H1D", {1, 2, 3, 4, false}}, // order does not matter
        {"P99999999999D", {2147483647, 0, 0, 0, false}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const DurationRecord r = TimeSpan::parse(c.text);
        EXPECT_EQ(r.days, c.expected.days);
        EXPECT_EQ(r.hours, c.expected.hours);
        EXPECT_EQ(r.minutes, c.expected.minutes);
        EXPECT_EQ(r.seconds, c.expected.seconds);
        EXPECT_EQ(r.negative, c.expected.negative);
    }
}

TEST(TimeSpanParse, RejectsTextWithoutLeadingP) {
    for (const char* text : {"T1H", "p1D", " P1D"}) {
        const TimeException error = captureTimeError([&] { TimeSpan::parse(text); });
        EXPECT_EQ(error.code(), TM_INPUT);
        EXPECT_EQ(error.detail(), "Expected 'P' in beginning of time span.");
    }
}

TEST(TimeSpan, FromRecordSumsWithoutRangeChecks) {
    EXPECT_EQ(TimeSpan(TimeSpan::parse("PT90M")).totalSeconds(), 5400);
    EXPECT_EQ(TimeSpan(TimeSpan::parse("P-1DT1H")).totalSeconds(), -90000);
    EXPECT_EQ(TimeSpan(TimeSpan::parse("P1DT12H")).totalSeconds(), 129600);
    // Beyond 32 bits the total saturates instead of wrapping.
    EXPECT_EQ(TimeSpan(TimeSpan::parse("P30000D")).totalSeconds(), 2147483647);
    EXPECT_EQ(TimeSpan(TimeSpan::parse("P-30000D")).totalSeconds(), -2147483647 - 1);
}

TEST(TimeSpan, FieldConstructorChecksRangesDaysFirst) {
    struct Case {
        int32_t days, hours, minutes, seconds;
        int32_t code;
    };
    const Case cases[] = {
        {24856, 0, 0, 0, TM_DAYS},  {-24856, 0, 0, 0, TM_DAYS}, {24856, 24, 90, 60, TM_DAYS},
        {0, 24, 90, 60, TM_HOURS},  {0, -1, 0, 0, TM_HOURS},    {0, 0, 90, 60, TM_MINUTES},
        {0, 0, -1, 0, TM_MINUTES},  {0, 0, 0, 60, TM_SECONDS},  {0, 0, 0, -1, TM_SECONDS},
        {24855, 3, 14, 8, TM_DAYS}, // total past INT32_MAX
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << c.days << " " << c.hours << " " << c.minutes << " " << c.seconds);
        EXPECT_EQ(captureTimeError([&] { TimeSpan(c.days, c.hours, c.minutes, c.seconds); }).code(),
                  c.code);
    }
    EXPECT_EQ(TimeSpan(1, 2, 3, 4).totalSeconds(), 93784);
    EXPECT_EQ(TimeSpan(24855, 0, 0, 0).totalSeconds(), 2147472000);
    EXPECT_EQ(TimeSpan(-24855, 0, 0, 0).totalSeconds(), -2147472000);
    EXPECT_EQ(TimeSpan(24855, 3, 14, 7).totalSeconds(), 2147483647);
    EXPECT_EQ(TimeSpan(-1, 23, 0, 0).totalSeconds(), -3600);
}

TEST(TimeSpan, ComparesBySeconds) {
    EXPECT_TRUE(TimeSpan(-5) <= TimeSpan(0));
    EXPECT_TRUE(TimeSpan(60) <= TimeSpan(0, 0, 1, 0));
    EXPECT_FALSE(TimeSpan(61) <= TimeSpan(60));
    EXPECT_TRUE(TimeSpan(61) != TimeSpan(60));
    EXPECT_FALSE(TimeSpan(3600) != TimeSpan(TimeSpan::parse("PT1H")));
    EXPECT_TRUE(TimeSpan().isZero());
}

} // namespace
} // namespace Kalvor
