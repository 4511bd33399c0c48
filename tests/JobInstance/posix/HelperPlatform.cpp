#include "HelperPlatform.h"

#include <climits>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace Kalvor::Test {

uint32_t ownProcessId() {
    return static_cast<uint32_t>(::getpid());
}

std::string ownProgramPath() {
    char buffer[PATH_MAX] = {};
    const ssize_t length = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    return length > 0 ? std::string(buffer, static_cast<std::size_t>(length)) : "";
}

void leaveSession() {
    ::setsid();
}

int runWindow(const std::string& /*ready*/, uint32_t /*lifetimeMs*/) {
    return -1;
}

int sendRawDatagrams(const std::string& path, const std::string& text, long count) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    path.copy(address.sun_path, sizeof address.sun_path - 1);
    const int socket = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (socket < 0 ||
        ::connect(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        return 1;
    long sent = 0;
    // Blocking: a full receiver holds the sender back rather than losing datagrams.
    while (sent < count && ::send(socket, text.c_str(), text.size() + 1, 0) >= 0)
        ++sent;
    ::close(socket);
    return sent == count ? 0 : 1;
}

} // namespace Kalvor::Test
