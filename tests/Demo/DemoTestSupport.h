// What the demo application's tests share: unique ids, the application as a child process the
// test owns, and a mailslot that collects its answers.
#pragma once

#include "ChildProcess.h"

#include "IPC/IPCMessage.h"
#include "TestSupport.h"

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace Kalvor {
class MailSlot;
}

namespace Kalvor::Test {

// An application id that no other test, process or run uses at the same time (on win32
// mailslots are machine-wide).
std::string uniqueDemoId(const std::string& stem);

std::string currentUserTag();

// Sends one message line; false when it cannot be handed over (no receiver yet, for example).
bool trySendLine(const std::string& target, const std::string& line);
bool trySend(const std::string& target, const IPCMessage& message);

// A mailslot of the test's own that the application answers to.
class ReplyBox {
public:
    ReplyBox();
    ~ReplyBox();
    const std::string& name() const { return name_; }
    // The next message line that arrives within the time-out, parsed.
    std::optional<IPCMessage> next(std::chrono::milliseconds timeout = std::chrono::seconds(20));

private:
    std::string name_;
    std::unique_ptr<MailSlot> slot_;
    std::vector<std::string> pending_;
};

// kalvor-demo started with `arguments`; whatever the test does, it is killed if it still runs and
// reaped when the object goes.
class DemoProcess {
public:
    DemoProcess(const std::string& id, const std::vector<std::string>& arguments = {});

    ChildProcess& job() { return job_; }
    const std::string& id() const { return id_; }
    std::string mailslotName() const { return id_ + "_" + currentUserTag(); }
    // "pid,tid" as the job knows them.
    std::string processInfo() const;

    // Asks SEND_PROCESS_INFO (answer to `box`) until the question can be handed over, which is
    // once the application listens; then returns the answer.
    std::optional<IPCMessage> askProcessInfo(ReplyBox& box);
    // Fails the test when the line cannot be handed over.
    void sendLine(const std::string& line);
    bool running() { return !job_.exitCode(); }
    // The exit code once it has ended within the time-out.
    std::optional<int> waitForExit(std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
        return job_.waitForExit(timeout);
    }

private:
    std::string id_;
    ChildProcess job_;
};

} // namespace Kalvor::Test
