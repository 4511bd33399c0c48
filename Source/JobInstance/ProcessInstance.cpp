#include "JobInstance/ProcessInstance.h"

#include "Common/Exception.h"
#include "JobInstance/CommandLine.h"
#include "JobInstance/JobRules.h"
#include "JobInstance/NativeProcess.h"

#include <string>

namespace Kalvor {

ProcessInstance::ProcessInstance(const std::string& programPath, const std::string& arguments,
                                 bool hidden, int32_t inheritHandles)
    : hidden_(hidden), inheritHandles_(inheritHandles != 0),
      native_(std::make_unique<NativeProcess>()) {
    launch_.commandLine = buildCommandLine(programPath, arguments);
}

ProcessInstance::ProcessInstance(const ProcessLaunch& launch)
    : launch_(launch), fromLaunch_(true), native_(std::make_unique<NativeProcess>()) {}

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
    const std::string& commandLine = launch_.commandLine;
    if (status() == JobRunning)
        throw JobException(JB_STILL_RUNNING, commandLine, KALVOR_HERE);
    if (commandLine.size() > kMaxCommandLineLength)
        throw JobException(JB_UNABLE_TO_START,
                           "Command line of " + std::to_string(commandLine.size()) +
                               " characters is longer than " +
                               std::to_string(kMaxCommandLineLength),
                           KALVOR_HERE);
    auto process = std::make_unique<NativeProcess>();
    const NativeResult started = fromLaunch_
                                     ? process->launch(launch_)
                                     : process->start(commandLine, hidden_, inheritHandles_);
    if (started.kind == NativeResult::Kind::NoMemory)
        throw JobException(JB_MEM, "", KALVOR_HERE);
    if (!started.done()) {
        const std::string& part = process->failedPart();
        throw JobException(JB_UNABLE_TO_START,
                           commandLine + "\", " + nativeErrorDetail(started.error) +
                               (part.empty() ? "" : " (" + part + ")"),
                           KALVOR_HERE);
    }
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

ExitStatus ProcessInstance::exitStatus() {
    return native_->exitStatus();
}

bool ProcessInstance::attachContainer(const std::string& container) {
    if (!native_->attachContainer(container))
        return false;
    launch_.container = container;
    return true;
}

bool ProcessInstance::askContainerToClose() {
    return native_->askContainerToClose();
}

void ProcessInstance::killContainer() {
    native_->killContainer();
}

bool ProcessInstance::signalContainer(int32_t signal) {
    return native_->signalContainer(signal);
}

std::vector<uint32_t> ProcessInstance::containerProcesses() {
    return native_->containerProcesses();
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
