#include "IPC/Datagram.h"

#include <unistd.h>

namespace Kalvor {

bool isOwnAccountOrAdministrator(const std::optional<SenderIdentity>& sender) {
    return !sender || sender->userId == 0 || sender->userId == ::geteuid();
}

} // namespace Kalvor
