// One supervised application: its configured identity and what the supervisor knows of it.
#pragma once

#include "JobInstance/JobInstance.h"
#include "Time/DateTime.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace Kalvor {

// What the supervisor last found of an application, for status reports.
enum class AppState {
    NotStarted, // not to be active, or not checked yet
    Running,
    Stopped,    // not running; a restart is due at the next pass
    GivenUp     // failed too often, or could not be started: no longer supervised
};

// "not started", "running", "stopped", "given up".
const char* appStateName(AppState state);

struct SupervisedApp {
    explicit SupervisedApp(std::string appName) : name(std::move(appName)) {
        lastStartTime.setSeconds(0);
    }

    std::string name;       // also the base name of its program file
    DateTime lastStartTime; // last successful start; the epoch when never started
    int32_t restartCount = 0;
    std::string id; // IPC identity: its mailslot is id + "_" + user tag
    bool active = false;
    std::shared_ptr<JobInstance> job;
    AppState state = AppState::NotStarted;
    // While asked whether it runs: when the answer is given up on (monotonic milliseconds).
    std::optional<uint64_t> answerDeadline;
    uint64_t lastStartAttempt = 0; // monotonic milliseconds; 0 before the first
    // The answer to the process-information query, "pid,tid"; written under the table's lock.
    std::string processInfo;
};

} // namespace Kalvor
