#include "JobInstance/posix/LockDirectory.h"

#include "Common/posix/AccountFolder.h"

#include <cstdlib>
#include <map>
#include <mutex>
#include <unistd.h>

namespace Kalvor {

// Checked once per process and setting: a folder found to be this account's alone stays so,
// and a lock taken for every log line must not pay for the checks again.
std::string lockDirectory(std::string& why) {
    static std::mutex mutex;
    static std::map<std::string, std::string> found;
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    const std::string key =
        accountFolderBase(kLockFolders) + '\n' + (runtime != nullptr ? runtime : "");
    std::lock_guard<std::mutex> guard(mutex);
    if (const auto known = found.find(key); known != found.end())
        return known->second;
    const std::string directory = accountFolder(kLockFolders, ::geteuid(), why);
    if (!directory.empty())
        found.emplace(key, directory);
    return directory;
}

} // namespace Kalvor
