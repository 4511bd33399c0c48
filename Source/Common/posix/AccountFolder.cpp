#include "Common/posix/AccountFolder.h"

#include "Common/posix/SafeFiles.h"

#include <cstdlib>
#include <map>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace Kalvor {

namespace {

// The account's runtime folder: its own XDG_RUNTIME_DIR, or the one the system made for it.
std::string runtimeFolder(uid_t account) {
    if (account == ::geteuid()) {
        const char* runtime = std::getenv("XDG_RUNTIME_DIR");
        if (runtime != nullptr && *runtime == '/')
            return runtime;
    }
    const std::string system = "/run/user/" + std::to_string(account);
    struct stat status {};
    if (::lstat(system.c_str(), &status) == 0 && S_ISDIR(status.st_mode) &&
        status.st_uid == account)
        return system;
    return "";
}

} // namespace

std::string accountFolderBase(const AccountFolderKind& kind) {
    const char* configured = std::getenv(kind.baseVariable);
    return configured != nullptr && *configured != '\0' ? configured : kind.defaultBase;
}

namespace {

std::string findAccountFolder(const std::string& base, const AccountFolderKind& kind,
                              uid_t account, std::string& why) {
    SafePathResult result = ensureSharedStickyDir(base);
    const std::string own = base + "/" + std::to_string(account);
    if (result.ok())
        result = ensureAccountDir(own, account);
    if (result.ok()) {
        why.clear();
        return own;
    }
    why = result.why;
    const std::string runtime = runtimeFolder(account);
    if (runtime.empty()) {
        why += "; no runtime folder of account " + std::to_string(account) +
               " (XDG_RUNTIME_DIR, /run/user/" + std::to_string(account) + ") stands in";
        return "";
    }
    const std::string fallback = runtime + "/" + kind.kind;
    result = ensureAccountDir(fallback, account);
    if (!result.ok()) {
        why += "; " + result.why;
        return "";
    }
    why.clear();
    return fallback;
}

} // namespace

// Checked once per process, base and account: a folder found to be the account's alone stays
// so, and a lock taken for every log line must not pay for the checks again.
std::string accountFolder(const AccountFolderKind& kind, uid_t account, std::string& why) {
    static std::mutex mutex;
    static std::map<std::string, std::string> found;
    const std::string base = accountFolderBase(kind);
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    const std::string key = base + '\n' + std::to_string(account) + '\n' +
                            (runtime != nullptr ? runtime : "");
    std::lock_guard<std::mutex> guard(mutex);
    if (const auto known = found.find(key); known != found.end())
        return known->second;
    const std::string folder = findAccountFolder(base, kind, account, why);
    if (!folder.empty())
        found.emplace(key, folder);
    return folder;
}

} // namespace Kalvor
