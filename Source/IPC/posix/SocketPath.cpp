#include "IPC/posix/SocketPath.h"

#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>

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

int ensureSharedDirectory(const std::string& directory) {
    for (std::size_t end = directory.find('/', 1);; end = directory.find('/', end + 1)) {
        const std::string part = directory.substr(0, end);
        if (::mkdir(part.c_str(), 0777) == 0) {
            if (::chmod(part.c_str(), 01777) != 0) {
                // Left with the umask's rights: this account's own slots still work.
            }
        } else if (errno != EEXIST) {
            return errno;
        }
        if (end == std::string::npos)
            break;
    }
    struct stat status {};
    if (::stat(directory.c_str(), &status) != 0)
        return errno;
    return S_ISDIR(status.st_mode) ? 0 : ENOTDIR;
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
