// One supervised application: its configured identity and what the supervisor knows of it.
#pragma once

#include "JobInstance/JobInstance.h"
#include "Time/DateTime.h"

#include <cstdint>
#include <memory>
#include <string>

namespace Kalvor {

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
    // The answer to the process-information query, "pid,tid"; written under the table's lock.
    std::string processInfo;
};

} // namespace Kalvor
