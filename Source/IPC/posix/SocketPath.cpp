#include "IPC/posix/SocketPath.h"

#include "Common/posix/AccountFolder.h"

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace Kalvor::MailSlotPosix {

namespace {
// -1: none chosen, the process's own account.
std::atomic<long long> chosenAccount{-1};
} // namespace

uid_t addressedAccount() {
    const long long chosen = chosenAccount.load();
    return chosen < 0 ? ::geteuid() : static_cast<uid_t>(chosen);
}

void setAddressedAccount(uid_t account) {
    chosenAccount.store(static_cast<long long>(account));
}

std::string mailSlotDirectory(std::string& why) {
    return accountFolder(kMailSlotFolders, addressedAccount(), why);
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
