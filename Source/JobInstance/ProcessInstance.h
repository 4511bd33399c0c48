// A job for a process: started by the job from a command line, or attached to a process that
// already runs (by its process id and main thread id).
//
// A polite stop asks the process to close (a WM_CLOSE to its main thread on Windows, SIGTERM on
// posix) and waits up to the grace time; a forced one ends it (TerminateProcess, SIGKILL). By
// default a destroyed job leaves its process running; with stopWhenDestroyed it ends it.
//
// posix: the command line is split into arguments by the Windows rules (splitCommandLine); a
// program name without "/" (or "\", also a separator here) is looked for beside the running
// program, then in the current directory, then along PATH; a name ending in ".exe" that is not
// found as written is looked for without the suffix. A child that the job leaves running is
// still reaped when it ends. An ended process that is not our child (attached) has lost its exit
// code: exitCode() then returns ECHILD + 1000, unless this job killed it.
#pragma once

#include "JobInstance/JobInstance.h"

#include <cstdint>
#include <memory>
#include <string>

namespace Kalvor {

class NativeProcess;

class ProcessInstance : public JobInstance {
public:
    // A new process; execute() starts it. `hidden` starts it without a window, `inheritHandles`
    // (non-zero) lets it inherit the caller's inheritable handles (posix: descriptors without
    // close-on-exec; otherwise it gets only the standard streams).
    ProcessInstance(const std::string& programPath, const std::string& arguments,
                    bool hidden = false, int32_t inheritHandles = 0);
    // Attaches to a running process; throws JB_PROCESS when it cannot be opened (process 0, a
    // process that does not exist, another user's process unless we have the rights).
    ProcessInstance(uint32_t processId, uint32_t threadId);
    ~ProcessInstance() override;

    // Throws JB_UNABLE_TO_START when the process cannot be started (also for a command line
    // longer than kMaxCommandLineLength), JB_STILL_RUNNING when this job's process still runs.
    void execute() override;
    void stop() override;
    int32_t status() override;
    int32_t exitCode(int32_t& out) override;
    // Nothing happens unless the process runs. Polite (force false): ask it to close, with
    // exitCode as the close message's parameter, and wait up to graceMs for its end; if it
    // ended the status is JobClosed. Otherwise, or when it cannot be asked, it is ended with
    // exitCode and the status is JobKilled. Throws JB_NEVER_STARTED or JB_UNABLE_TO_TERMINATE.
    void terminate(bool force, int32_t exitCode, int32_t graceMs);

    const std::string& commandLine() const { return commandLine_; }
    uint32_t processId() const override;
    intptr_t waitable() const override;
    uint32_t threadId() const;

private:
    std::string commandLine_;
    bool hidden_ = false;
    bool inheritHandles_ = false;
    int32_t statusCode_ = JobNotStarted;
    std::unique_ptr<NativeProcess> native_;
};

} // namespace Kalvor
