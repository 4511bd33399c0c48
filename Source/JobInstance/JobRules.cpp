#include "JobInstance/JobRules.h"

#include "Common/Exception.h"
#include "Common/SystemError.h"

#include <string>

namespace Kalvor {

std::string nativeErrorDetail(int32_t error) {
    return nativeErrorLabel() + std::to_string(error) + " (" + systemErrorText(error) + ")";
}

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

void terminateJob(JobInstance& job, int32_t& statusCode, bool force, int32_t graceMs,
                  const JobEnding& ending, const char* sourcePath, int32_t line) {
    if (job.status() != JobRunning)
        return;
    if (!force && ending.askToClose()) {
        // The wait says the job has gone; status() says how it reads (a code of 259: running).
        ending.waitForEnd(static_cast<uint32_t>(graceMs > 0 ? graceMs : 0));
        if (job.status() != JobRunning) {
            statusCode = JobClosed;
            return;
        }
    }
    const NativeResult ended = ending.forceEnd();
    if (ended.done()) {
        statusCode = JobKilled;
        return;
    }
    if (job.status() != JobRunning)
        return;
    const int32_t code =
        ended.kind == NativeResult::Kind::InvalidHandle ? JB_NEVER_STARTED : JB_UNABLE_TO_TERMINATE;
    throw JobException(code, std::to_string(ended.error), sourcePath, line);
}

} // namespace Kalvor
