#include "IPCTestSupport.h"

#include <cstdlib>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace Kalvor::Test {

namespace {
// In this account's own folder of the base.
std::string slotPath(const std::string& name) {
    const char* directory = std::getenv("KALVOR_MAILSLOT_DIR");
    return std::string(directory ? directory : "/tmp/kalvor-mailslots") + "/" +
           std::to_string(::geteuid()) + "/" + name;
}
} // namespace

bool slotExists(const std::string& name) {
    struct stat status {};
    return ::lstat(slotPath(name).c_str(), &status) == 0;
}

void sendRawDatagram(const std::string& name, const std::string& bytes) {
    const std::string path = slotPath(name);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    path.copy(address.sun_path, sizeof address.sun_path - 1);
    const int socket = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const ssize_t sent = ::sendto(socket, bytes.data(), bytes.size(), 0,
                                  reinterpret_cast<const sockaddr*>(&address), sizeof address);
    ::close(socket);
    if (sent != static_cast<ssize_t>(bytes.size()))
        throw std::runtime_error("raw datagram to " + path + " not sent");
}

bool runningUnderWine() {
    return false;
}

bool namedLocksArePrivate() {
    return true;
}

} // namespace Kalvor::Test
