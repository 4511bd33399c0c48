// Where the posix mailslots live and how a slot name becomes a socket address.
#pragma once

#include <string>
#include <sys/socket.h>
#include <sys/un.h>

namespace Kalvor::MailSlotPosix {

// $KALVOR_MAILSLOT_DIR, else /tmp/kalvor-mailslots.
std::string mailSlotDirectory();

// The socket file of `name` inside `directory`, with every "/" and "\" of the name made "_".
std::string socketPath(const std::string& directory, const std::string& name);

struct SocketAddress {
    sockaddr_un address{};
    socklen_t length = 0;
};

// False when the path does not fit a socket address.
bool makeSocketAddress(const std::string& path, SocketAddress& result);

} // namespace Kalvor::MailSlotPosix
