#include "DemoTestSupport.h"

#include "Common/Exception.h"
#include "Common/UserName.h"
#include "DemoApplication.h"
#include "File/ProcessId.h"
#include "IPC/IPCClient.h"
#include "IPC/MailSlot.h"

#include <gtest/gtest.h>

#include <atomic>

namespace Kalvor::Test {

namespace {
// Wine's first start of a program can take seconds.
constexpr std::chrono::seconds kStartTime{30};
} // namespace

std::string uniqueDemoId(const std::string& stem) {
    static std::atomic<int> counter{0};
    return "DemoTest" + stem + std::to_string(currentProcessId()) + "x" + std::to_string(counter++);
}

std::string currentUserTag() {
    return userTagOf(currentUserName());
}

bool trySendLine(const std::string& target, const std::string& line) {
    try {
        IPCClient client(target);
        return client.sendLine(line);
    } catch (const Exception&) {
        return false;
    }
}

bool trySend(const std::string& target, const IPCMessage& message) {
    return trySendLine(target,
                       buildMessageLine(message.type, message.id, message.text, message.sender));
}

ReplyBox::ReplyBox()
    : name_(uniqueDemoId("Box")), slot_(std::make_unique<MailSlot>(MailSlot::kReceiver, name_)) {}

ReplyBox::~ReplyBox() = default;

std::optional<IPCMessage> ReplyBox::next(std::chrono::milliseconds timeout) {
    if (pending_.empty())
        waitFor(
            [&] {
                slot_->receive(pending_);
                return !pending_.empty();
            },
            timeout);
    if (pending_.empty())
        return std::nullopt;
    IPCMessage message;
    const bool addressed = parseMessageLine(pending_.front(), message);
    pending_.erase(pending_.begin());
    if (!addressed)
        return std::nullopt;
    return message;
}

namespace {

std::vector<std::string> demoArguments(const std::string& id,
                                       const std::vector<std::string>& arguments) {
    std::vector<std::string> all{"--id", id};
    all.insert(all.end(), arguments.begin(), arguments.end());
    return all;
}

} // namespace

DemoProcess::DemoProcess(const std::string& id, const std::vector<std::string>& arguments)
    : id_(id), job_(helperProgramPath("kalvor-demo"), demoArguments(id, arguments)) {}

std::string DemoProcess::processInfo() const {
    return std::to_string(job_.processId()) + "," + std::to_string(job_.threadId());
}

std::optional<IPCMessage> DemoProcess::askProcessInfo(ReplyBox& box) {
    const IPCMessage question{"COMMAND", "SEND_PROCESS_INFO", "SEND_PROCESS_INFO", box.name()};
    const bool asked =
        waitFor([&] { return trySend(mailslotName(), question) || !running(); }, kStartTime);
    if (!asked || !running())
        return std::nullopt;
    return box.next();
}

void DemoProcess::sendLine(const std::string& line) {
    EXPECT_TRUE(trySendLine(mailslotName(), line)) << line;
}


} // namespace Kalvor::Test
