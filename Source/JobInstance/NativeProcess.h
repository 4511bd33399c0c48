// The operating system's side of a process job, one backend per platform. Private to the
// library: ProcessInstance holds the rules, this only makes the calls.
#pragma once

#include "JobInstance/JobInstance.h"
#include "JobInstance/NativeResult.h"
#include "JobInstance/ProcessLaunch.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace Kalvor {

class NativeProcess {
public:
    NativeProcess();
    // Releases the process without ending it (posix: a child not yet reaped is handed to the
    // reaper).
    ~NativeProcess();
    NativeProcess(const NativeProcess&) = delete;
    NativeProcess& operator=(const NativeProcess&) = delete;

    NativeResult start(const std::string& commandLine, bool hidden, bool inheritHandles);
    NativeResult launch(const ProcessLaunch& launch);
    // After a failed start: what could not be set up, for the detail text ("output file
    // \"x\"", ...); empty when the program itself could not be started.
    const std::string& failedPart() const;
    NativeResult attach(uint32_t processId, uint32_t threadId);
    bool attachContainer(const std::string& container);

    // As GetExitCodeProcess: kStillActive while the process runs.
    ExitReading readExitCode();
    // Waits up to `milliseconds` for the process to end; true when it has.
    bool waitForEnd(uint32_t milliseconds);
    // False when the request cannot be delivered (no message queue, SIGTERM ignored).
    bool askToClose(int32_t exitCode);
    NativeResult forceEnd(int32_t exitCode);
    ExitStatus exitStatus();

    // The container operations of ProcessInstance; without a container, on the process alone.
    bool askContainerToClose();
    void killContainer();
    bool signalContainer(int32_t signal);
    std::vector<uint32_t> containerProcesses();

    uint32_t processId() const;
    uint32_t threadId() const;
    // posix: the pidfd; win32: the process handle; JobInstance::kNoWaitable before a start.
    intptr_t waitable() const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

} // namespace Kalvor
