// The calling account's supervisor as wardexctl reaches it: commands go to its mailslot
// "Wardex_" + user tag; its answer to "STATUS" comes to a mailslot of wardexctl's own,
// "wardexctl_" + process id, made for the question and removed after it.
//
// An answer counts only when it is a "REPLY" with the awaited id whose sender field names the
// supervisor's mailslot and, where the platform tells who wrote it, from this account or root;
// anything else arriving there is passed over.
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>

namespace Kalvor {

class SupervisorLink {
public:
    explicit SupervisorLink(const std::string& userTag);

    const std::string& mailslot() const { return supervisor_; }
    const std::string& ownMailslot() const { return own_; }

    // Sends "COMMAND" with that text; false when the supervisor's mailslot is not there (no
    // supervisor runs) or does not take it.
    bool command(const std::string& text);
    // The text of the supervisor's "REPLY" with that id to the command (STATUS, RECONFIG, an
    // operator's command); nullopt when it cannot be reached, gives none within `wait`, or
    // `stopRequested` says so first. Throws IPCException when the own mailslot cannot be made.
    std::optional<std::string> ask(const std::string& command, const std::string& replyId,
                                   std::chrono::milliseconds wait,
                                   const std::function<bool()>& stopRequested = {});

private:
    std::string supervisor_;
    std::string own_;
};

} // namespace Kalvor
