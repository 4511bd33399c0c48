#include "Time/TimeBase.h"

#include "Common/Exception.h"

#include <string>

namespace Kalvor {

void TimeBase::setSeconds(int32_t seconds) {
    if (seconds < 0)
        throw TimeException(TM_DATETIME, "Negative second count: " + std::to_string(seconds),
                            KALVOR_HERE);
    seconds_ = seconds;
}

} // namespace Kalvor
