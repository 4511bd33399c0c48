#include "Common/posix/RegistryStore.h"

#include "Common/SystemError.h"
#include "Common/posix/UniqueFd.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

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

bool makeDirectories(const std::string& directory) {
    for (std::size_t slash = directory.find('/', 1);; slash = directory.find('/', slash + 1)) {
        const std::string part = directory.substr(0, slash);
        if (::mkdir(part.c_str(), 0777) != 0 && errno != EEXIST)
            return false;
        if (slash == std::string::npos)
            return true;
    }
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
    UniqueFd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!file) {
        if (errno == ENOENT) {
            missing = true;
            return {};
        }
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

// Into an empty hive; a missing file leaves it empty.
StoreResult loadFrom(const std::string& path, RegistryHive& hive) {
    std::string text;
    bool missing = false;
    StoreResult result = readWhole(path, text, missing);
    if (!result.ok() || missing)
        return result;
    std::string error;
    if (!hive.parse(text, error))
        return {StoreStatus::Corrupt,
                path + " does not parse (" + error + "); it is left as it is for the operator"};
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

// Readers see the old file or the new one, never a part: the new text is complete and synced
// before the rename.
StoreResult replaceFile(const std::string& path, const std::string& text) {
    const std::string temporary = path + ".tmp";
    UniqueFd file(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    if (!file)
        return failure("cannot create", temporary);
    struct stat old = {};
    if (::stat(path.c_str(), &old) == 0)
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

StoreResult RegistryStore::load(RegistryRoot root, RegistryHive& hive) {
    hive = RegistryHive(root);
    return loadFrom(hivePath(root), hive);
}

StoreResult RegistryStore::update(RegistryRoot root,
                                  const std::function<bool(RegistryHive&)>& change) {
    const std::string folder = directory();
    const std::string path = hivePathIn(folder, root);
    if (!makeDirectories(folder))
        return failure("cannot create", folder);
    const std::string lockPath = path + ".lock";
    UniqueFd lock(::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666));
    if (!lock)
        return failure("cannot open", lockPath);
    while (::flock(lock.get(), LOCK_EX) != 0) {
        if (errno != EINTR)
            return failure("cannot lock", lockPath);
    }
    RegistryHive hive(root);
    StoreResult result = loadFrom(path, hive);
    if (!result.ok() || !change(hive))
        return result;
    return replaceFile(path, hive.text());
}

} // namespace Kalvor
