#include "JobInstance/ThreadInstance.h"

#include "Common/Exception.h"
#include "JobInstance/JobRules.h"
#include "JobInstance/NativeThread.h"
#include "JobInstance/ThreadMessages.h"

#include <string>

namespace Kalvor {

ThreadInstance::ThreadInstance(Routine routine, void* parameter)
    : routine_(routine), parameter_(parameter), native_(std::make_unique<NativeThread>()) {
    stopWhenDestroyed_ = true;
}

// The status codes set here are for a debugger only: nothing reads them after destruction.
ThreadInstance::~ThreadInstance() {
    const ExitReading reading = native_->readExitCode();
    if (!reading.result.done()) {
        statusCode_ = JobUnreadable;
    } else if (!stopWhenDestroyed_) {
        statusCode_ = JobLeftRunning;
    } else if (reading.code == kStillActive && !native_->hasEnded()) {
        statusCode_ = native_->forceEnd(0).done() ? JobKilled : JobEndFailed;
    }
}

void ThreadInstance::execute() {
    if (status() == JobRunning)
        throw JobException(JB_STILL_RUNNING, "", KALVOR_HERE);
    auto thread = std::make_unique<NativeThread>();
    const NativeResult started = thread->start(routine_, parameter_);
    if (!started.done())
        throw JobException(JB_UNABLE_TO_START, nativeErrorDetail(started.error), KALVOR_HERE);
    native_ = std::move(thread);
    statusCode_ = JobRunning;
}

int32_t ThreadInstance::suspend() {
    return changeSuspension(true);
}

int32_t ThreadInstance::resume() {
    return changeSuspension(false);
}

int32_t ThreadInstance::changeSuspension(bool suspend) {
    const ExitReading reading = native_->readExitCode();
    if (reading.result.kind == NativeResult::Kind::InvalidHandle)
        throw JobException(JB_NEVER_STARTED, "", KALVOR_HERE);
    if (!reading.result.done())
        throw JobException(JB_UNKNOWN_ERROR,
                           nativeErrorLabel() + std::to_string(reading.result.error), KALVOR_HERE);
    if (reading.code != kStillActive)
        return 0;
    int32_t previous = 0;
    const NativeResult changed = suspend ? native_->suspend(previous) : native_->resume(previous);
    if (!changed.done())
        throw JobException(JB_UNKNOWN_ERROR, nativeErrorLabel() + std::to_string(changed.error),
                           KALVOR_HERE);
    return previous + 1;
}

void ThreadInstance::stop() {
    terminate(false, -1, 1000);
}

int32_t ThreadInstance::status() {
    if (statusCode_ == JobKilled || statusCode_ == JobClosed)
        return statusCode_;
    statusCode_ = statusOf(native_->readExitCode(), KALVOR_HERE);
    return statusCode_;
}

int32_t ThreadInstance::exitCode(int32_t& out) {
    return exitCodeOf(native_->readExitCode(), out);
}

void ThreadInstance::terminate(bool force, int32_t exitCode, int32_t graceMs) {
    // Also one that ended with 259, which reads as running.
    if (native_->hasEnded())
        return;
    NativeThread& native = *native_;
    const auto parameter = static_cast<uintptr_t>(static_cast<intptr_t>(exitCode));
    terminateJob(*this, statusCode_, force, graceMs,
                 {[&] { return postThreadMessage(native.threadId(), kWmDestroy, parameter, 0); },
                  [&](uint32_t milliseconds) { native.waitForEnd(milliseconds); },
                  [&] { return native.forceEnd(exitCode); }},
                 KALVOR_HERE);
}

uint32_t ThreadInstance::threadId() const {
    return native_->threadId();
}

} // namespace Kalvor
