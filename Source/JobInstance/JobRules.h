// The rules that process and thread jobs share, on top of what their backends report. Private
// to the library.
#pragma once

#include "JobInstance/JobInstance.h"
#include "JobInstance/NativeResult.h"

#include <cstdint>

namespace Kalvor {

// status() of a reading: kStillActive is running, any other code finished, an invalid handle
// not started; other failures throw JB_UNKNOWN_ERROR at the given location.
int32_t statusOf(const ExitReading& reading, const char* sourcePath, int32_t line);

// exitCode() of a reading, as JobInstance::exitCode describes it.
int32_t exitCodeOf(const ExitReading& reading, int32_t& out);

// Polls the job's status() every stepMs until it no longer runs, for at most graceMs; true when
// it ended.
bool waitForEnd(JobInstance& job, int32_t graceMs, int32_t stepMs);

// JB_NEVER_STARTED for an invalid handle, else JB_UNABLE_TO_TERMINATE.
[[noreturn]] void throwTerminateFailure(const NativeResult& result, const char* sourcePath,
                                        int32_t line);

} // namespace Kalvor
