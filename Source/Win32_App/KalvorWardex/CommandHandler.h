// The supervisor's answer to every IPC message, run on the IPC listener thread.
//
// It only sets the stop flag (StopFlag.h) and the reconfigure flag, hands a process-information
// answer to the application table and an operator's command (OperatorRequest) to the main
// thread, starts a program named by a "RUN_PROG" line, or answers "STATUS" with a
// "REPLY" whose id is "STATUS" and whose text is the packed status (StatusReport.h), sent to
// the asker's mailslot (the message's sender field); it never waits for the main thread and
// never throws. Once a stop is requested every message is ignored.
//
// DIE, RECONFIG, the operator's commands, RUN_PROG (as a command and as a message type) and
// REPLY steer the supervisor,
// and STATUS discloses the account's applications: they are taken only from its own account or
// the administrator (Datagram.h). From any other account they are dropped, with one log line a
// second at most, so that a flood cannot grow the log.
#pragma once

#include "IPC/Datagram.h"
#include "JobInstance/StopFlag.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace Kalvor {

class LoggerUnit;

// An operator's command for one application, as wardexctl sends it: "APP_<VERB>:NAME", or for
// a signal "APP_SIGNAL:SIGNAL:NAME"; answered with a "REPLY" whose id is "APP" and whose text is
// "OK" (for LOGPATH "PATH " and the file's path) or "FAILED " and why, sent to `asker`.
struct OperatorRequest {
    std::string verb; // START, STOP, RESTART, SIGNAL, LOGPATH (the name may be empty), RECONFIG
    std::string name;
    std::string signal;
    std::string asker;
};

// Parses a command text; false when it is no operator command or is malformed.
bool parseOperatorRequest(const std::string& text, OperatorRequest& request);

class CommandHandler {
public:
    struct Targets {
        StopFlag& stop;
        std::atomic<bool>& reconfigureRequested;
        // Arguments: the answer, its sender field and the sending process. False when no
        // answer is awaited from that sender.
        std::function<bool(const std::string&, const std::string&,
                           const std::optional<SenderIdentity>&)>
            storeProcessInfo;
        // Starts a program that runs on by itself; may throw JobException.
        std::function<void(const std::string& path, const std::string& arguments)> runProgram;
        // The packed status of the applications.
        std::function<std::string()> statusText;
        // Hands an operator's command to the main thread, which answers it.
        std::function<void(OperatorRequest)> operatorRequest;
        // Sends a message to a mailslot: true once handed over; may throw IPCException.
        std::function<bool(const std::string& target, const std::string& type,
                           const std::string& id, const std::string& text)>
            send;
    };

    CommandHandler(std::shared_ptr<LoggerUnit> logger, Targets targets);

    void operator()(const std::string& type, const std::string& id, const std::string& text,
                    const std::string& sender,
                    const std::optional<SenderIdentity>& from = std::nullopt);

private:
    void command(const std::string& text, const std::string& sender);
    void runProgramLine(const std::string& line);
    void answerStatus(const std::string& asker);
    void noteDropped(const std::string& what, const SenderIdentity& from);

    std::shared_ptr<LoggerUnit> logger_;
    Targets targets_;
    std::chrono::steady_clock::time_point nextDropLine_{};
};

// Starts the program with ProcessInstance and lets it go unsupervised.
void startDetachedProgram(const std::string& path, const std::string& arguments);

} // namespace Kalvor
