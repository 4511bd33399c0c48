// What the table of supervised applications needs from the world around it: messages to an
// application's mailslot, process jobs, and the program directory. The product's versions use
// IPCClient, ProcessInstance and the configuration; tests put in their own.
#pragma once

#include "JobInstance/JobInstance.h"
#include "JobInstance/ProcessLaunch.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace Kalvor {

class AppServices {
public:
    virtual ~AppServices() = default;

    // True once the message is handed over to the target's mailslot.
    virtual bool send(const std::string& target, const std::string& type, const std::string& id,
                      const std::string& text, const std::string& sender) = 0;
    // A job for a new process (not yet executed): the application's program file, started as
    // `launch` says; an empty command line there starts the program file alone. May throw
    // JobException.
    virtual std::shared_ptr<JobInstance> makeProcess(const std::string& programPath,
                                                     const ProcessLaunch& launch) = 0;
    // A job attached to a running process, whose stop reaches the container of that name;
    // throws JobException when it cannot be opened.
    virtual std::shared_ptr<JobInstance> attachProcess(uint32_t processId, uint32_t threadId,
                                                       const std::string& container) = 0;
    // Empty when the process runs under this account, runs `programPath` and owns the thread;
    // else what failed (ProcessIdentity.h).
    virtual std::string processMismatch(uint32_t processId, uint32_t threadId,
                                        const std::string& programPath) = 0;
    // "Kalvor.directories.bin"; false when the key is missing or unusable.
    virtual bool programDirectory(std::string& directory) = 0;
    // The platform's executable suffix (".exe" or "").
    virtual std::string executableSuffix() const = 0;
    // Reaps what the applications left behind and the supervisor inherited (posix, as a child
    // subreaper), so that no zombie stays.
    virtual void reapInherited() {}
    // When the process started (ProcessIdentity.h); 0 when it does not run.
    virtual uint64_t processStartTime(uint32_t processId) = 0;
};

// Sends through a fresh IPCClient per message and makes ProcessInstances. The program
// directory comes from the function given.
std::unique_ptr<AppServices>
makeSystemAppServices(std::function<bool(std::string&)> programDirectory);

} // namespace Kalvor
