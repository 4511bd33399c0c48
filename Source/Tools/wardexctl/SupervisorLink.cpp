#include "SupervisorLink.h"

#include "Common/Exception.h"
#include "File/ProcessId.h"
#include "IPC/IPCClient.h"
#include "IPC/IPCMessage.h"
#include "IPC/MailSlot.h"
#include "Time/Timer.h"

#include <vector>

namespace Kalvor {

namespace {
constexpr uint32_t kPollMilliseconds = 10;
} // namespace

SupervisorLink::SupervisorLink(const std::string& userTag)
    : supervisor_("Wardex_" + userTag), own_("wardexctl_" + std::to_string(currentProcessId())) {}

bool SupervisorLink::command(const std::string& text) {
    try {
        IPCClient client(supervisor_);
        return client.send("COMMAND", "", text, own_);
    } catch (const IPCException&) {
        return false;
    }
}

std::optional<std::string> SupervisorLink::ask(const std::string& command,
                                               const std::string& replyId,
                                               std::chrono::milliseconds wait,
                                               const std::function<bool()>& stopRequested) {
    // Made before asking, so that the answer has somewhere to go however fast it comes.
    MailSlot answers(MailSlot::kReceiver, own_, MailSlot::Writers::kOwnAccount);
    const auto deadline = std::chrono::steady_clock::now() + wait;
    if (!this->command(command))
        return std::nullopt;
    std::vector<Datagram> received;
    for (;;) {
        received.clear();
        answers.receive(received);
        for (const Datagram& datagram : received) {
            IPCMessage message;
            if (parseMessageLine(datagram.text, message) && message.type == "REPLY" &&
                message.id == replyId && message.sender == supervisor_ &&
                isOwnAccountOrAdministrator(datagram.sender))
                return message.text;
        }
        if (std::chrono::steady_clock::now() >= deadline || (stopRequested && stopRequested()))
            return std::nullopt;
        sleepMilliseconds(kPollMilliseconds);
    }
}

} // namespace Kalvor
