#include "Time/SystemClock.h"

#include "Common/win32/Windows.h"

#include <time.h>

namespace Kalvor::SystemClock {

int64_t now() { return static_cast<int64_t>(::_time64(nullptr)); }

void initialiseTimeZone() { ::_tzset(); }

bool utcFields(int64_t seconds, std::tm& fields) {
    const __time64_t t = seconds;
    return ::_gmtime64_s(&fields, &t) == 0;
}

bool localFields(int64_t seconds, std::tm& fields) {
    const __time64_t t = seconds;
    return ::_localtime64_s(&fields, &t) == 0;
}

uint32_t tickCount() { return static_cast<uint32_t>(::GetTickCount()); }

void sleepMilliseconds(uint32_t milliseconds) { ::Sleep(milliseconds); }

} // namespace Kalvor::SystemClock
