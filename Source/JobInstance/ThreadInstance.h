// A job for a thread of the program itself, running a start routine with one parameter.
//
// The thread's exit code is the routine's return value (kStillActive while it runs). A polite
// stop posts WM_DESTROY (exit code as its first parameter) to the thread's message queue and
// waits for the thread's end; a forced one ends the thread. stopWhenDestroyed is set from
// construction: destroying a running thread job ends the thread with exit code 0. A thread that
// has ended, or has returned from its routine and is leaving, is never forced: one whose routine
// returned 259 reads as running, yet it is not ended again.
//
// posix has no SuspendThread or TerminateThread; both act at the thread's safe points, its calls
// of ensureMessageQueue() and peekMessage():
// - suspend() counts as on Windows, but the thread only stops at its next safe point, and waits
//   there until it is resumed or ended;
// - a forced end reads as done at once (status JobKilled, the given exit code); the thread
//   unwinds from its next safe point by an exception that the job catches, so destructors run.
//   The ending side waits up to two seconds for that; a thread that reaches no safe point in that
//   time is left to end by itself, detached. Routines must therefore not call the safe points
//   from noexcept code, and should not swallow every exception (catch (...)) around them.
#pragma once

#include "JobInstance/JobInstance.h"

#include <cstdint>
#include <memory>

namespace Kalvor {

class NativeThread;

class ThreadInstance : public JobInstance {
public:
    using Routine = uint32_t (*)(void* parameter);

    ThreadInstance(Routine routine, void* parameter);
    ~ThreadInstance() override;

    // Throws JB_UNABLE_TO_START, or JB_STILL_RUNNING while this job's thread still runs.
    void execute() override;
    // While the thread runs: the previous suspend count plus 1 (so 1, then 2 for a thread that
    // was not suspended); 0 once it has ended. Throws JB_NEVER_STARTED before execute(),
    // JB_UNKNOWN_ERROR when the system refuses.
    int32_t suspend() override;
    int32_t resume() override;
    void stop() override;
    int32_t status() override;
    int32_t exitCode(int32_t& out) override;
    // As ProcessInstance::terminate, with WM_DESTROY; nothing happens once the thread has ended.
    void terminate(bool force, int32_t exitCode, int32_t graceMs);

    uint32_t threadId() const override;

private:
    int32_t changeSuspension(bool suspend);

    Routine routine_;
    void* parameter_;
    int32_t statusCode_ = JobNotStarted;
    std::unique_ptr<NativeThread> native_;
};

} // namespace Kalvor
