#include "DemoApplication.h"

#include "Common/Exception.h"
#include "File/ProcessId.h"
#include "IPC/IPCClient.h"
#include "IPC/IPCMessage.h"
#include "IPC/MailSlot.h"
#include "JobInstance/SessionSignals.h"
#include "JobInstance/ThreadMessages.h"
#include "Time/SystemClock.h"

#include <cstdlib>
#include <iostream>
#include <ostream>
#include <vector>

namespace Kalvor {

namespace {

constexpr uint32_t kPollMilliseconds = 200;
constexpr const char* kProcessInfoQuestion = "SEND_PROCESS_INFO";

} // namespace

DemoApplication::DemoApplication(DemoOptions options, std::string userTag, std::ostream& out)
    : options_(std::move(options)), userTag_(std::move(userTag)),
      mailslotName_(options_.id + "_" + userTag_), out_(out) {}

std::ostream& DemoApplication::say() {
    return out_ << "[" << options_.id << "] ";
}

int DemoApplication::run() {
    // The queue comes first: posting a close to a thread without one fails (the asker then
    // kills instead).
    ensureMessageQueue();
    const SessionSignals signals(stop_);
    MailSlot slot(MailSlot::kReceiver, mailslotName_);
    processInfo_ = std::to_string(currentProcessId()) + "," + std::to_string(currentThreadId());

    say() << "started: process " << currentProcessId() << ", thread " << currentThreadId()
          << ", mailslot \"" << mailslotName_ << "\"";
    if (options_.crashAfterSeconds > 0.0)
        out_ << ", will crash after " << options_.crashAfterSeconds << " s";
    if (options_.ignoreDie)
        out_ << ", ignores DIE";
    out_ << std::endl;

    const uint32_t startTick = SystemClock::tickCount();
    std::vector<std::string> lines;
    for (;;) {
        lines.clear();
        slot.receive(lines);
        for (const std::string& line : lines)
            if (handle(line) == Next::Exit)
                return kDemoDoneExitCode;
        if (closeRequested()) {
            say() << "asked to close; exiting" << std::endl;
            return kDemoDoneExitCode;
        }
        if (crashDue(startTick)) {
            say() << "crashing on purpose (exit code " << options_.crashCode << ")" << std::endl;
            std::_Exit(options_.crashCode);
        }
        // A stop or a posted close ends this wait at once.
        wakeUps_.wait(kPollMilliseconds);
    }
}

DemoApplication::Next DemoApplication::handle(const std::string& line) {
    IPCMessage message;
    if (!parseMessageLine(line, message)) {
        say() << "ignored a line not addressed to Kalvor" << std::endl;
        return Next::Continue;
    }
    say() << "got " << message.type << " \"" << message.text << "\" from \"" << message.sender
          << "\"";
    if (message.type != "COMMAND") {
        out_ << "; ignored" << std::endl;
        return Next::Continue;
    }
    if (message.text == kProcessInfoQuestion) {
        answerProcessInfo(message);
        return Next::Continue;
    }
    if (message.text == "DIE") {
        out_ << (options_.ignoreDie ? "; ignoring it" : "; exiting") << std::endl;
        return options_.ignoreDie ? Next::Continue : Next::Exit;
    }
    out_ << "; ignored" << std::endl;
    return Next::Continue;
}

void DemoApplication::answerProcessInfo(const IPCMessage& question) {
    const std::string target = question.sender.empty() ? "Wardex_" + userTag_ : question.sender;
    try {
        IPCClient client(target);
        client.send("REPLY", kProcessInfoQuestion, processInfo_, mailslotName_);
        out_ << "; replied \"" << processInfo_ << "\" to \"" << target << "\"" << std::endl;
    } catch (const Exception& error) {
        // The asker may be gone already; the next question gets the next answer.
        out_ << "; could not reply to \"" << target << "\"" << std::endl;
        std::cerr << error.report() << std::endl;
    }
}

bool DemoApplication::closeRequested() {
    bool close = stop_.requested();
    ThreadMessage message;
    while (peekMessage(message))
        if (message.message == kWmClose || message.message == kWmQuit ||
            message.message == kWmDestroy)
            close = true;
    return close;
}

bool DemoApplication::crashDue(uint32_t startTick) const {
    if (options_.crashAfterSeconds <= 0.0)
        return false;
    const uint32_t elapsed = SystemClock::tickCount() - startTick;
    return elapsed >= static_cast<uint32_t>(options_.crashAfterSeconds * 1000.0);
}

} // namespace Kalvor
