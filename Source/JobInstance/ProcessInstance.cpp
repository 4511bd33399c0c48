#include "JobInstance/ProcessInstance.h"

#include "Common/Exception.h"
#include "JobInstance/CommandLine.h"
#include "JobInstance/JobRules.h"
#include "JobInstance/NativeProcess.h"

#include <string>

namespace Kalvor {

ProcessInstance::ProcessInstance(const std::string& programPath, const std::string& arguments,
                                 bool hidden, int32_t inheritHandles)
    : commandLine_(buildCommandLine(programPath, arguments)), hidden_(hidden),
      inheritHandles_(inheritHandles != 0), native_(std::make_unique<NativeProcess>()) {}

ProcessInstance::ProcessInstance(uint32_t processId, uint32_t threadId)
    : native_(std::make_unique<NativeProcess>()) {
    const NativeResult opened = native_->attach(processId, threadId);
    if (!opened.done())
        throw JobException(JB_PROCESS,
                           "Unable to access process. Error code " + std::to_string(opened.error),
                           KALVOR_HERE);
    const ExitReading reading = native_->readExitCode();
    if (reading.result.done())
        statusCode_ = reading.code == kStillActive ? JobRunning : JobFinished;
    else if (reading.ended)
        statusCode_ = JobFinished;
    else if (reading.result.kind == NativeResult::Kind::InvalidHandle)
        statusCode_ = JobNotStarted;
    else
        statusCode_ = JobUnknown;
}

ProcessInstance::~ProcessInstance() {
    if (!stopWhenDestroyed_)
        return;
    try {
        terminate(true, 0, 0);
    } catch (const Exception&) {
        // A destructor cannot report it; the process is released either way.
    }
}

void ProcessInstance::execute() {
    if (status() == JobRunning)
        throw JobException(JB_STILL_RUNNING, commandLine_, KALVOR_HERE);
    if (commandLine_.size() > kMaxCommandLineLength)
        throw JobException(JB_UNABLE_TO_START,
                           "Command line of " + std::to_string(commandLine_.size()) +
                               " characters is longer than " +
                               std::to_string(kMaxCommandLineLength),
                           KALVOR_HERE);
    auto process = std::make_unique<NativeProcess>();
    const NativeResult started = process->start(commandLine_, hidden_, inheritHandles_);
    if (started.kind == NativeResult::Kind::NoMemory)
        throw JobException(JB_MEM, "", KALVOR_HERE);
    if (!started.done())
        throw JobException(JB_UNABLE_TO_START,
                           commandLine_ + "\", " + nativeErrorLabel() +
                               std::to_string(started.error),
                           KALVOR_HERE);
    native_ = std::move(process);
    statusCode_ = JobRunning;
}

void ProcessInstance::stop() {
    terminate(false, -1, 1000);
}

int32_t ProcessInstance::status() {
    if (statusCode_ == JobKilled || statusCode_ == JobClosed)
        return statusCode_;
    statusCode_ = statusOf(native_->readExitCode(), KALVOR_HERE);
    return statusCode_;
}

int32_t ProcessInstance::exitCode(int32_t& out) {
    return exitCodeOf(native_->readExitCode(), out);
}

void ProcessInstance::terminate(bool force, int32_t exitCode, int32_t graceMs) {
    NativeProcess& native = *native_;
    terminateJob(*this, statusCode_, force, graceMs,
                 {[&] { return native.askToClose(exitCode); },
                  [&](uint32_t milliseconds) { native.waitForEnd(milliseconds); },
                  [&] { return native.forceEnd(exitCode); }},
                 KALVOR_HERE);
}

uint32_t ProcessInstance::processId() const {
    return native_->processId();
}

intptr_t ProcessInstance::waitable() const {
    return native_->waitable();
}

uint32_t ProcessInstance::threadId() const {
    return native_->threadId();
}

} // namespace Kalvor
