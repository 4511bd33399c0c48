#include "Common/posix/RegistryStore.h"

#include "Common/SystemError.h"
#include "Common/UserFolders.h"
#include "Common/posix/SafeFiles.h"
#include "Common/posix/UniqueFd.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace Kalvor {

namespace {

const char kDefaultDirectory[] = "/var/lib/kalvor/registry";

std::string hivePathIn(const std::string& directory, RegistryRoot root) {
    return directory + "/" + rootKeyName(root) + ".reg";
}

// The message of a failed system call; call it before anything else can change errno.
StoreResult failure(const std::string& what, const std::string& path) {
    const int32_t error = lastSystemError();
    return {StoreStatus::Failed, what + " " + path + ": " + systemErrorText(error)};
}

// Whether this account could make the missing `folder`: the nearest part of it that exists is a
// folder it may write to.
bool canMakeFolder(std::string folder) {
    for (;;) {
        const std::size_t slash = folder.find_last_of('/');
        folder = slash == std::string::npos ? "." : slash == 0 ? "/" : folder.substr(0, slash);
        struct stat info = {};
        if (::stat(folder.c_str(), &info) == 0)
            return S_ISDIR(info.st_mode) &&
                   ::faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) == 0;
        if (lastSystemErrorValue() != std::errc::no_such_file_or_directory || folder == "." ||
            folder == "/")
            return false;
    }
}

// The store folder must be this account's alone, or another account could change its values.
StoreResult useAccountFolder(const std::string& folder) {
    if (folder.empty())
        return {StoreStatus::Failed, "no folder for this account's registry values: neither "
                                     "XDG_STATE_HOME nor a home folder is known"};
    const SafePathResult safe = ensureAccountDir(folder);
    if (!safe.ok())
        return {StoreStatus::Failed,
                "the folder of this account's registry values is refused: " + safe.why};
    return {};
}

bool makeDirectories(const std::string& directory) {
    for (std::size_t slash = directory.find('/', 1);; slash = directory.find('/', slash + 1)) {
        const std::string part = directory.substr(0, slash);
        if (::mkdir(part.c_str(), 0777) != 0 && lastSystemErrorValue() != std::errc::file_exists)
            return false;
        if (slash == std::string::npos)
            return true;
    }
}

// The folder this account writes, made when missing.
StoreResult prepareWriteFolder(std::string& folder) {
    if (RegistryStore::writesMachineFiles()) {
        folder = RegistryStore::directory();
        return makeDirectories(folder) ? StoreResult{} : failure("cannot create", folder);
    }
    folder = RegistryStore::accountDirectory();
    return useAccountFolder(folder);
}

// Far above any hive; a larger file is refused rather than read into memory.
constexpr std::size_t kMaxHiveBytes = std::size_t{64} << 20;

StoreResult tooLarge(const std::string& path) {
    return {StoreStatus::Failed, path + " exceeds the " + std::to_string(kMaxHiveBytes >> 20) +
                                     " MiB limit of a registry file"};
}

StoreResult readWhole(const std::string& path, std::string& text, bool& missing) {
    text.clear();
    missing = false;
    // O_NONBLOCK: a FIFO in the file's place must not block the open; a regular file ignores it.
    UniqueFd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW));
    if (!file) {
        const SystemError failed = lastSystemErrorValue();
        if (failed == std::errc::no_such_file_or_directory) {
            missing = true;
            return {};
        }
        if (failed == std::errc::too_many_symbolic_link_levels)
            return {StoreStatus::Failed, path + " is not a regular file (a link is not followed)"};
        return failure("cannot open", path);
    }
    struct stat info = {};
    if (::fstat(file.get(), &info) != 0)
        return failure("cannot read", path);
    if (!S_ISREG(info.st_mode))
        return {StoreStatus::Failed, path + " is not a regular file"};
    // One byte past the limit tells a file that is too large, one that grew meanwhile included.
    const std::size_t limit = kMaxHiveBytes + 1;
    if (static_cast<uint64_t>(info.st_size) >= limit)
        return tooLarge(path);
    // Sized from fstat, read in place; the loop still copes with a file that grows meanwhile.
    text.resize(static_cast<std::size_t>(info.st_size) + 1);
    std::size_t done = 0;
    for (;;) {
        if (done == limit)
            return tooLarge(path);
        if (done == text.size())
            text.resize(text.size() < limit / 2 ? 2 * text.size() : limit);
        const ssize_t count = ::read(file.get(), &text[done], text.size() - done);
        if (count == 0) {
            text.resize(done);
            return {};
        }
        if (count < 0 && errno != EINTR)
            return failure("cannot read", path);
        if (count > 0)
            done += static_cast<std::size_t>(count);
    }
}

// The last hive parsed from each file, with the text it was parsed from: a supervisor reading
// its markers twice a second then reads the file but parses nothing while it is unchanged. The
// text itself is compared, since a file replaced within one tick of the clock can come back with
// the inode, size and times of a version before.
struct ParsedHive {
    std::string text;
    RegistryHive hive;
};

std::mutex parsedMutex;
std::map<std::string, ParsedHive> parsedHives;

// Into an empty hive; a missing file leaves it empty.
StoreResult loadFrom(const std::string& path, RegistryHive& hive) {
    std::string text;
    bool missing = false;
    StoreResult result = readWhole(path, text, missing);
    if (!result.ok() || missing)
        return result;
    {
        std::lock_guard<std::mutex> guard(parsedMutex);
        const auto cached = parsedHives.find(path);
        if (cached != parsedHives.end() && cached->second.text == text) {
            hive = cached->second.hive;
            return {};
        }
    }
    std::string error;
    if (!hive.parse(text, error))
        return {StoreStatus::Corrupt,
                path + " does not parse (" + error + "); it is left as it is for the operator"};
    std::lock_guard<std::mutex> guard(parsedMutex);
    parsedHives.insert_or_assign(path, ParsedHive{std::move(text), hive});
    return {};
}

bool writeAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t count = ::write(fd, text.data() + done, text.size() - done);
        if (count < 0 && errno != EINTR)
            return false;
        if (count > 0)
            done += static_cast<std::size_t>(count);
    }
    return true;
}

// The machine hive and the account's store overlaid: a value of the store replaces the one of the
// same key and name, and every key of the store exists.
void overlay(RegistryHive& hive, const RegistryHive& top, const std::string& path) {
    hive.createKey(path);
    for (const RegistryValue& value : top.values(path))
        hive.setValue(path, value);
    for (const std::string& name : top.subKeys(path))
        overlay(hive, top, path.empty() ? name : path + "\\" + name);
}

// Readers see the old file or the new one, never a part: the new text is complete and synced
// before the rename. Called under the lock, so a temporary file left there is stale; whatever
// stands in its place is removed rather than written through.
StoreResult replaceFile(const std::string& path, const std::string& text) {
    const std::string temporary = path + ".tmp";
    if (::unlink(temporary.c_str()) != 0 &&
        lastSystemErrorValue() != std::errc::no_such_file_or_directory)
        return failure("cannot remove", temporary);
    UniqueFd file(
        ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
    if (!file)
        return failure("cannot create", temporary);
    struct stat old = {};
    if (::lstat(path.c_str(), &old) == 0 && S_ISREG(old.st_mode))
        ::fchmod(file.get(), old.st_mode & 07777);
    if (!writeAll(file.get(), text) || ::fsync(file.get()) != 0 || !file.close() ||
        ::rename(temporary.c_str(), path.c_str()) != 0) {
        StoreResult result = failure("cannot write", path);
        ::unlink(temporary.c_str());
        return result;
    }
    return {};
}

} // namespace

std::string RegistryStore::directory() {
    const char* configured = std::getenv("KALVOR_REGISTRY_DIR");
    return configured != nullptr && *configured != '\0' ? configured : kDefaultDirectory;
}

std::string RegistryStore::hivePath(RegistryRoot root) {
    return hivePathIn(directory(), root);
}

// Root writes the machine files, and so does the account that owns their folder or could make it
// where it is missing: tests, the demo and single-user installations keep a folder of their own.
bool RegistryStore::writesMachineFiles() {
    const uid_t self = ::geteuid();
    if (self == 0)
        return true;
    const std::string folder = directory();
    struct stat info = {};
    if (::stat(folder.c_str(), &info) == 0)
        return S_ISDIR(info.st_mode) && info.st_uid == self;
    return lastSystemErrorValue() == std::errc::no_such_file_or_directory && canMakeFolder(folder);
}

std::string RegistryStore::accountDirectory() {
    const std::string state = accountStateFolder();
    return state.empty() ? std::string() : state + "/kalvor/registry";
}

std::string RegistryStore::accountHivePath(RegistryRoot root) {
    const std::string folder = accountDirectory();
    return folder.empty() ? std::string() : hivePathIn(folder, root);
}

StoreResult RegistryStore::load(RegistryRoot root, RegistryHive& hive) {
    StoreResult result = loadMachine(root, hive);
    if (!result.ok())
        return result;
    RegistryHive own(root);
    result = loadAccount(root, own);
    if (!result.ok()) {
        hive = RegistryHive(root);
        return result;
    }
    overlay(hive, own, "");
    return {};
}

StoreResult RegistryStore::readText(const std::string& path, std::string& text) {
    bool missing = false;
    const StoreResult result = readWhole(path, text, missing);
    if (missing)
        return {StoreStatus::Failed, "cannot open " + path + ": no such file"};
    return result;
}

StoreResult RegistryStore::loadMachine(RegistryRoot root, RegistryHive& hive) {
    hive = RegistryHive(root);
    return loadFrom(hivePath(root), hive);
}

// A missing store holds nothing; one that exists is read only from a folder of this account.
StoreResult RegistryStore::loadAccount(RegistryRoot root, RegistryHive& hive) {
    hive = RegistryHive(root);
    if (writesMachineFiles())
        return {};
    const std::string folder = accountDirectory();
    struct stat info = {};
    if (folder.empty() || (::lstat(folder.c_str(), &info) != 0 &&
                           lastSystemErrorValue() == std::errc::no_such_file_or_directory))
        return {};
    const StoreResult result = useAccountFolder(folder);
    return result.ok() ? loadFrom(hivePathIn(folder, root), hive) : result;
}

StoreResult RegistryStore::update(RegistryRoot root,
                                  const std::function<bool(RegistryHive&)>& change) {
    std::string folder;
    const StoreResult prepared = prepareWriteFolder(folder);
    if (!prepared.ok())
        return prepared;
    const std::string path = hivePathIn(folder, root);
    SafePathResult opened;
    // Only the writers of this folder take the lock; nobody else needs to open it.
    const UniqueFd lock = openNoFollow(path + ".lock", O_RDWR, 0600, opened);
    if (!lock)
        return {StoreStatus::Failed, "cannot open " + opened.why};
    while (::flock(lock.get(), LOCK_EX) != 0) {
        if (errno != EINTR)
            return failure("cannot lock", path + ".lock");
    }
    RegistryHive hive(root);
    StoreResult result = loadFrom(path, hive);
    if (!result.ok() || !change(hive))
        return result;
    return replaceFile(path, hive.text());
}

} // namespace Kalvor
