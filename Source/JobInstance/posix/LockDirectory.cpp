#include "JobInstance/posix/LockDirectory.h"

#include "Common/posix/AccountFolder.h"

#include <unistd.h>

namespace Kalvor {

std::string lockDirectory(std::string& why) {
    return accountFolder(kLockFolders, ::geteuid(), why);
}

} // namespace Kalvor
