#include "IPC/posix/SocketPath.h"

#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>

namespace Kalvor::MailSlotPosix {

std::string mailSlotDirectory() {
    const char* directory = std::getenv("KALVOR_MAILSLOT_DIR");
    return directory != nullptr && *directory != '\0' ? directory : "/tmp/kalvor-mailslots";
}

std::string socketPath(const std::string& directory, const std::string& name) {
    std::string file = name;
    for (char& byte : file)
        if (byte == '/' || byte == '\\')
            byte = '_';
    return directory + "/" + file;
}

bool makeSocketAddress(const std::string& path, SocketAddress& result) {
    result = SocketAddress{};
    if (path.empty() || path.size() >= sizeof result.address.sun_path)
        return false;
    result.address.sun_family = AF_UNIX;
    std::memcpy(result.address.sun_path, path.c_str(), path.size() + 1);
    result.length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + path.size() + 1);
    return true;
}

} // namespace Kalvor::MailSlotPosix
