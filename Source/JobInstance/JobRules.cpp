#include "JobInstance/JobRules.h"

#include "Common/Exception.h"
#include "Time/Timer.h"

#include <string>

namespace Kalvor {

int32_t statusOf(const ExitReading& reading, const char* sourcePath, int32_t line) {
    if (reading.result.done())
        return reading.code == kStillActive ? JobRunning : JobFinished;
    if (reading.ended)
        return JobFinished;
    if (reading.result.kind == NativeResult::Kind::InvalidHandle)
        return JobNotStarted;
    throw JobException(JB_UNKNOWN_ERROR, nativeErrorLabel() + std::to_string(reading.result.error),
                       sourcePath, line);
}

int32_t exitCodeOf(const ExitReading& reading, int32_t& out) {
    if (reading.result.done()) {
        if (reading.code != kStillActive)
            out = reading.code;
        return 0;
    }
    if (reading.result.kind == NativeResult::Kind::InvalidHandle)
        return JobNotStarted;
    return reading.result.error + 1000;
}

bool waitForEnd(JobInstance& job, int32_t graceMs, int32_t stepMs) {
    for (int32_t waited = 0;; waited += stepMs) {
        if (job.status() != JobRunning)
            return true;
        if (waited >= graceMs)
            return false;
        sleepMilliseconds(static_cast<uint32_t>(stepMs));
    }
}

void throwTerminateFailure(const NativeResult& result, const char* sourcePath, int32_t line) {
    const int32_t code = result.kind == NativeResult::Kind::InvalidHandle ? JB_NEVER_STARTED
                                                                          : JB_UNABLE_TO_TERMINATE;
    throw JobException(code, std::to_string(result.error), sourcePath, line);
}

} // namespace Kalvor
