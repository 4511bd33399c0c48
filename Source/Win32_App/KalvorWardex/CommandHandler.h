// The supervisor's answer to every IPC message, run on the IPC listener thread.
//
// It only sets the stop and reconfigure flags, hands a process-information answer to the
// application table, or starts a program named by a "RUN_PROG" line; it never waits for the
// main thread and never throws. Once a stop is requested every message is ignored.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>

namespace Kalvor {

class LoggerUnit;

class CommandHandler {
public:
    struct Targets {
        std::atomic<bool>& shutdownRequested;
        std::atomic<bool>& reconfigureRequested;
        // False when no answer is awaited.
        std::function<bool(const std::string&)> storeProcessInfo;
        // Starts a program that runs on by itself; may throw JobException.
        std::function<void(const std::string& path, const std::string& arguments)> runProgram;
    };

    CommandHandler(std::shared_ptr<LoggerUnit> logger, Targets targets);

    void operator()(const std::string& type, const std::string& id, const std::string& text,
                    const std::string& sender);

private:
    void command(const std::string& text, const std::string& sender);
    void runProgramLine(const std::string& line);

    std::shared_ptr<LoggerUnit> logger_;
    Targets targets_;
};

// Starts the program with ProcessInstance and lets it go unsupervised.
void startDetachedProgram(const std::string& path, const std::string& arguments);

} // namespace Kalvor
