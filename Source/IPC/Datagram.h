// One received datagram: its text, and who sent it when the system says so.
//
// posix: the kernel reports the sending process's user and process ids with every datagram
// (SO_PASSCRED); only a process with the matching privileges can claim other ids. win32:
// mailslots do not tell the receiver who wrote, so `sender` is always empty there; a mailslot's
// access list is what keeps other accounts out.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace Kalvor {

// No account has this number ((uid_t)-1): a posix datagram whose sender the kernel did not
// report carries it.
inline constexpr uint32_t kUnknownSender = 0xFFFFFFFFu;

struct SenderIdentity {
    uint32_t userId = kUnknownSender;
    uint32_t processId = 0;
};

struct Datagram {
    std::string text;
    std::optional<SenderIdentity> sender;
};

// Whether a sender may steer this process: its own account, or the machine's administrator
// (root). True for a datagram without a sender, which only the platforms whose mailslots keep
// other accounts out deliver.
bool isOwnAccountOrAdministrator(const std::optional<SenderIdentity>& sender);

} // namespace Kalvor
