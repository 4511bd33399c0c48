#include "JobInstance/posix/LockDirectory.h"

#include "Common/posix/SafeFiles.h"

#include <cstdlib>
#include <map>
#include <mutex>
#include <unistd.h>

namespace Kalvor {

namespace {

// The machine-wide base, and this account's folder in it: a name without "Global\\" names an
// object of the caller's session on Windows, of the caller's account here. Where another
// account has taken this account's folder name first, a private folder under XDG_RUNTIME_DIR
// stands in; without one the lock is refused, naming the folder and its owner.
std::string findLockDirectory(const std::string& base, const char* runtime, std::string& why) {
    SafePathResult result = ensureSharedStickyDir(base);
    const std::string own = base + "/" + std::to_string(::geteuid());
    if (result.ok())
        result = ensureAccountDir(own);
    if (result.ok())
        return own;
    why = result.why;
    if (runtime == nullptr || *runtime != '/')
        return "";
    const std::string fallback = std::string(runtime) + "/kalvor-locks";
    result = ensureAccountDir(fallback);
    if (!result.ok()) {
        why += "; " + result.why;
        return "";
    }
    why.clear();
    return fallback;
}

} // namespace

// Checked once per process and setting: a folder found to be this account's alone stays so,
// and a lock taken for every log line must not pay for the checks again.
std::string lockDirectory(std::string& why) {
    static std::mutex mutex;
    static std::map<std::string, std::string> found;
    const char* configured = std::getenv("KALVOR_LOCK_DIR");
    const std::string base =
        configured != nullptr && *configured != '\0' ? configured : "/tmp/kalvor-locks";
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    const std::string key = base + '\n' + (runtime != nullptr ? runtime : "");
    std::lock_guard<std::mutex> guard(mutex);
    if (const auto known = found.find(key); known != found.end())
        return known->second;
    const std::string directory = findLockDirectory(base, runtime, why);
    if (!directory.empty())
        found.emplace(key, directory);
    return directory;
}

} // namespace Kalvor
