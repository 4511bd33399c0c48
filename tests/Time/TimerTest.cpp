#include "Time/Timer.h"

#include "CaptureTimeError.h"
#include "Time/SystemClock.h"

#include <gtest/gtest.h>

namespace Kalvor {
namespace {

TEST(TimeBase, RejectsNegativeSecondCounts) {
    TimeBase base;
    EXPECT_TRUE(base.isZero());
    base.setSeconds(42);
    EXPECT_EQ(base.seconds(), 42);
    EXPECT_EQ(captureTimeError([&] { base.setSeconds(-1); }).code(), TM_DATETIME);
    EXPECT_EQ(base.seconds(), 42);
    base.setSeconds(0);
    EXPECT_TRUE(base.isZero());
}

TEST(Timer, ExpiresOnlyOnceTheDeadlineSecondHasPassed) {
    Timer timer;
    timer.setDeadline(DateTime().plus(TimeSpan(1)));
    EXPECT_FALSE(timer.expired());
    timer.setDeadline(DateTime().plus(TimeSpan(-1)));
    EXPECT_TRUE(timer.expired());
    // The current second itself: judged only when the clock did not move meanwhile.
    for (int attempt = 0; attempt < 5; ++attempt) {
        const DateTime now;
        timer.setDeadline(now);
        const bool expired = timer.expired();
        if (DateTime() != now)
            continue;
        EXPECT_FALSE(expired);
        return;
    }
    FAIL() << "the clock never held still for a second";
}

TEST(Sleep, DoesNotReturnEarly) {
    const uint32_t start = SystemClock::tickCount();
    sleepMilliseconds(50);
    // GetTickCount advances in steps of up to 16 ms.
    EXPECT_GE(static_cast<uint32_t>(SystemClock::tickCount() - start), 50u - 16u);
}

} // namespace
} // namespace Kalvor
