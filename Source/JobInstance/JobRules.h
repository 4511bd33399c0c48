// The rules that process and thread jobs share, on top of what their backends report. Private
// to the library.
#pragma once

#include "JobInstance/JobInstance.h"
#include "JobInstance/NativeResult.h"

#include <cstdint>
#include <functional>

namespace Kalvor {

// status() of a reading: kStillActive is running, any other code finished, an invalid handle
// not started; other failures throw JB_UNKNOWN_ERROR at the given location.
int32_t statusOf(const ExitReading& reading, const char* sourcePath, int32_t line);

// exitCode() of a reading, as JobInstance::exitCode describes it.
int32_t exitCodeOf(const ExitReading& reading, int32_t& out);

// What ending a job takes from its backend: the parts that differ between processes and threads.
struct JobEnding {
    std::function<bool()> askToClose; // false when the request cannot be delivered
    std::function<void(uint32_t milliseconds)> waitForEnd; // returns early when the job ends
    std::function<NativeResult()> forceEnd;
};

// terminate() of the jobs. Nothing happens unless job.status() is JobRunning. Polite (force
// false): askToClose(), then wait up to graceMs; if the job then no longer reads as running,
// statusCode becomes JobClosed. Otherwise, or when it cannot be asked, forceEnd() and JobKilled.
// A failed force throws JB_NEVER_STARTED (invalid handle) or JB_UNABLE_TO_TERMINATE at the given
// location, unless the job has ended by itself meanwhile.
void terminateJob(JobInstance& job, int32_t& statusCode, bool force, int32_t graceMs,
                  const JobEnding& ending, const char* sourcePath, int32_t line);

} // namespace Kalvor
