// One supervised application: its configured identity, the state the supervisor holds it in,
// and what it knows of its process.
#pragma once

#include "JobInstance/JobInstance.h"
#include "Win32_App/KalvorWardex/AppOutput.h"
#include "Time/DateTime.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace Kalvor {

// Only the table's transition function (ApplicationTable::checkOne) moves an application from
// one state to another; status reports read it.
enum class AppState {
    NotStarted,  // listed, not checked yet: the next pass asks whether it runs
    Asking,      // asked whether it runs; the answer or its time-out decides
    Running,     // has a job whose process runs
    Restarting,  // its process ended; restarted when `restartDue` comes
    Stopping,    // being stopped: DIE, then the polite signal, then the kill (StopStage)
    Dormant,     // not to be active and not running: left alone until a reconfiguration
    Held,        // stopped by an operator: left alone until an operator starts it again or
                 // the supervisor restarts
    GivenUp      // failed too often, or could not be captured: left alone until a
                 // reconfiguration
};

// "not started", "asking", "running", "stopped", "stopping", "not started", "held",
// "given up".
const char* appStateName(AppState state);

// Where a stop has got to: each step is taken when the one before has not ended the process
// within the application's stop time-out.
enum class StopStage { Die, Polite, Kill };

// What follows a stop once the process has ended: what the state machine decides (a
// reconfiguration, the shutdown), what the operator asked for, or the application's leaving
// the table (no longer listed).
enum class AfterStop { Decide, Hold, Restart, Remove };

// "exit code 3", "signal 9 (SIGKILL)"; empty when it is not known.
std::string exitText(const ExitStatus& status);

struct SupervisedApp {
    explicit SupervisedApp(std::string appName) : name(std::move(appName)) {
        lastStartTime.setSeconds(0);
    }

    std::string name;       // also the base name of its program file
    DateTime lastStartTime; // last successful start; the epoch when never started
    int32_t restartCount = 0;
    std::string id; // IPC identity: its mailslot is id + "_" + user tag
    bool active = false;
    // Seconds each step of a stop waits for the process to end ("stop-timeout").
    int32_t stopTimeoutSeconds = 5;
    // "command": the whole command line in place of the program file; "directory": its
    // working directory. Empty: as the suite's own applications are started.
    std::string command;
    std::string directory;
    // "output": the file its standard output and error go to; empty: the supervisor's own
    // streams, inherited.
    std::string outputPath;
    // Carries the output of its runs to that file; made at the first start with a file.
    std::unique_ptr<AppOutput> output;
    std::shared_ptr<JobInstance> job;
    AppState state = AppState::NotStarted;
    // Asking: when the answer is given up on; Restarting: when the restart is due (monotonic
    // milliseconds).
    uint64_t answerDeadline = 0;
    uint64_t restartDue = 0;
    uint64_t lastStartAttempt = 0; // monotonic milliseconds; 0 before the first
    // Stopping: the step taken and when the next one is due (monotonic milliseconds).
    StopStage stopStage = StopStage::Die;
    uint64_t stopDeadline = 0;
    AfterStop afterStop = AfterStop::Decide;
    // The delay before the restart after a short run; doubles with each short run, and a
    // long one resets it (monotonic milliseconds).
    uint64_t backoffMs = 0;
    // How the last process ended, and why the application is not running, for the status.
    ExitStatus lastExit;
    std::string reason;
    // The end of the job's process was reported by the wait: it is not watched again, even when
    // its exit code reads as still running.
    bool endReported = false;
    // The answer to the process-information query, "pid,tid"; written under the table's lock.
    std::string processInfo;
};

} // namespace Kalvor
