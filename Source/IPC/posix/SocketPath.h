// Where the posix mailslots live and how a slot name becomes a socket address.
#pragma once

#include <string>
#include <sys/socket.h>
#include <sys/types.h>
#include <sys/un.h>

namespace Kalvor::MailSlotPosix {

// The account whose mailslots this process makes and sends to: its own, unless root chose
// another (MailSlot::useAccount).
uid_t addressedAccount();
void setAddressedAccount(uid_t account);

// The addressed account's mailslot folder (AccountFolder.h: "<base>/<uid>", the base being
// $KALVOR_MAILSLOT_DIR, else /tmp/kalvor-mailslots), made when missing; empty, with `why`,
// when no folder of the account can be used.
std::string mailSlotDirectory(std::string& why);

// The socket file of `name` inside `directory`, with every "/" and "\" of the name made "_".
std::string socketPath(const std::string& directory, const std::string& name);

struct SocketAddress {
    sockaddr_un address{};
    socklen_t length = 0;
};

// False when the path does not fit a socket address.
bool makeSocketAddress(const std::string& path, SocketAddress& result);

} // namespace Kalvor::MailSlotPosix
