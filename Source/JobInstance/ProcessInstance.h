// A job for a process: started by the job from a command line, or attached to a process that
// already runs (by its process id and main thread id).
//
// A polite stop asks the process to close (a WM_CLOSE to its main thread on Windows, SIGTERM on
// posix) and waits up to the grace time; a forced one ends it (TerminateProcess, SIGKILL). By
// default a destroyed job leaves its process running; with stopWhenDestroyed it ends it.
//
// posix: the command line is split into arguments by the Windows rules (splitCommandLine); a
// program name without "/" (or "\", also a separator here) is looked for beside the running
// program, then in the current directory, then along PATH (a launch looks along PATH only); a name
// ending in ".exe" that is not found as written is looked for without the suffix. A child that the
// job leaves running is still reaped when it ends. An ended process that is not our child
// (attached) has lost its exit code: exitCode() then returns ECHILD + 1000, unless this job killed
// it.
//
// An ordinary program is started from a ProcessLaunch (ProcessLaunch.h): a command line, a
// working directory, an output file and a container. The container operations reach every
// process of the program's container; for a job without one (no container in its launch, the
// first constructor, or an attached job before attachContainer) they act on the job's own
// process alone, so that one stop sequence serves every job. A start failure's detail gives the
// platform's error number with its text, and what could not be set up when it was not the
// program itself, e.g.
//   /srv/app/run --fast", System error code is : 2 (No such file or directory) (directory "/x")
#pragma once

#include "JobInstance/JobInstance.h"
#include "JobInstance/ProcessLaunch.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

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
    // A new process as `launch` describes it; execute() starts it. JB_UNABLE_TO_START then also
    // covers a missing directory, an output file that cannot be opened and a container that
    // cannot be made.
    explicit ProcessInstance(const ProcessLaunch& launch);
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

    // How the process ended (see ExitStatus). posix: the raw wait status of our child, so a
    // death by a signal reads as that signal, whatever terminate() was given.
    // Unlike exitCode(), it tells an exit code of 259 from a running process. An attached
    // process: known only while it is our child not yet reaped (posix).
    ExitStatus exitStatus() override;

    // For an attached job: the process's container is the one of this name, as it was started
    // by a launch. posix: its process group when it leads one, and the processes marked with
    // the name; win32: the job object of the name, which must exist. False when the container
    // cannot be reached (not attached; win32: no such job object).
    bool attachContainer(const std::string& container);
    // Asks every process of the container to close: posix, SIGTERM to the process group and to
    // the marked processes; win32, WM_CLOSE to every top-level window of the job's processes
    // and to the main thread of the job's own process. True when at least one process was
    // told (posix: one that does not ignore SIGTERM). Nothing waits here: the caller watches
    // containerProcesses().
    bool askContainerToClose() override;
    // Ends every process of the container at once: posix, SIGKILL to the process group and to
    // every marked process of this account; win32, TerminateJobObject (exit code 1). Processes
    // that were already gone are no error. The job's own process is then reaped by status(),
    // the others (posix) by ChildReaper::reapInherited in a child subreaper.
    void killContainer() override;
    bool signalContainer(int32_t signal) override;
    // The processes left in the container that have not ended (posix: zombies do not count),
    // the job's own process included while it runs. Empty once a stop is complete.
    std::vector<uint32_t> containerProcesses();

    const std::string& commandLine() const { return launch_.commandLine; }
    const std::string& container() const { return launch_.container; }
    uint32_t processId() const override;
    intptr_t waitable() const override;
    uint32_t threadId() const override;

private:
    ProcessLaunch launch_;
    bool fromLaunch_ = false;
    bool hidden_ = false;
    bool inheritHandles_ = false;
    int32_t statusCode_ = JobNotStarted;
    std::unique_ptr<NativeProcess> native_;
};

} // namespace Kalvor
