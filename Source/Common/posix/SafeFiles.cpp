#include "Common/posix/SafeFiles.h"

#include "Common/SystemError.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Kalvor {

namespace {

SafePathResult fault(int error, const std::string& path, const std::string& what) {
    return {error, path + ": " + what};
}

SafePathResult systemFault(const std::string& path) {
    const int error = errno;
    return fault(error, path, systemErrorText(error));
}

// Makes the folders above `path` that are missing, with `mode`.
SafePathResult makeParents(const std::string& path, mode_t mode) {
    for (std::size_t slash = path.find('/', 1); slash != std::string::npos;
         slash = path.find('/', slash + 1)) {
        const std::string part = path.substr(0, slash);
        if (::mkdir(part.c_str(), mode) != 0 && errno != EEXIST)
            return systemFault(part);
    }
    return {};
}

// lstat, making the folder with `mode` (and `owner`) first when it is missing; both are then
// set on the folder opened without following a link, never through its path.
SafePathResult statOrMake(const std::string& path, mode_t mode, uid_t owner,
                          struct stat& status) {
    if (::lstat(path.c_str(), &status) == 0)
        return {};
    if (errno != ENOENT)
        return systemFault(path);
    if (::mkdir(path.c_str(), mode) == 0) {
        UniqueFd folder(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (folder && ::fchmod(folder.get(), mode) != 0)
            return systemFault(path);
        if (folder && owner != ::geteuid() && ::fchown(folder.get(), owner, gid_t(-1)) != 0)
            return systemFault(path);
    } else if (errno != EEXIST) {
        return systemFault(path);
    }
    return ::lstat(path.c_str(), &status) == 0 ? SafePathResult{} : systemFault(path);
}

std::string ownerText(uid_t owner) {
    return "account " + std::to_string(owner);
}

// The folder at `path`, made (and its missing parents) when it is not there; a link or a file
// in its place is refused.
SafePathResult folderAt(const std::string& path, mode_t parentMode, mode_t mode, uid_t owner,
                        struct stat& status) {
    SafePathResult result = makeParents(path, parentMode);
    if (result.ok())
        result = statOrMake(path, mode, owner, status);
    if (result.ok() && !S_ISDIR(status.st_mode))
        return fault(ENOTDIR, path, "not a folder (a link or a file is not taken)");
    return result;
}

} // namespace

SafePathResult ensureSharedStickyDir(const std::string& path) {
    struct stat status {};
    if (SafePathResult result = folderAt(path, 0755, 01777, ::geteuid(), status); !result.ok())
        return result;
    if (status.st_uid != 0 && status.st_uid != ::geteuid())
        return fault(EPERM, path, "belongs to " + ownerText(status.st_uid));
    if ((status.st_mode & (S_IWGRP | S_IWOTH)) != 0 && (status.st_mode & S_ISVTX) == 0)
        return fault(EPERM, path, "others can write to it and it is not sticky");
    return {};
}

SafePathResult ensureAccountDir(const std::string& path) {
    return ensureAccountDir(path, ::geteuid());
}

SafePathResult ensureAccountDir(const std::string& path, uid_t owner) {
    struct stat status {};
    if (SafePathResult result = folderAt(path, 0700, 0700, owner, status); !result.ok())
        return result;
    if (status.st_uid != owner)
        return fault(EPERM, path, "belongs to " + ownerText(status.st_uid));
    if ((status.st_mode & (S_IWGRP | S_IWOTH)) != 0)
        return fault(EPERM, path, "others can write to it");
    return {};
}

UniqueFd openNoFollow(const std::string& path, int flags, mode_t mode, SafePathResult& result) {
    result = {};
    const int common = flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
    // Another process may make or remove the file between the two opens: a few rounds settle it.
    for (int round = 0; round < 5; ++round) {
        UniqueFd file(::open(path.c_str(), common));
        bool made = false;
        if (!file && errno == ENOENT) {
            file = UniqueFd(::open(path.c_str(), common | O_CREAT | O_EXCL, mode));
            if (!file && (errno == EEXIST || errno == ENOENT))
                continue;
            made = static_cast<bool>(file);
        }
        if (!file) {
            result = errno == ELOOP ? fault(ELOOP, path, "a link, which is not followed")
                                    : systemFault(path);
            return UniqueFd();
        }
        struct stat status {};
        if (::fstat(file.get(), &status) != 0) {
            result = systemFault(path);
            return UniqueFd();
        }
        if (!S_ISREG(status.st_mode)) {
            result = fault(EINVAL, path, "not a regular file");
            return UniqueFd();
        }
        if (made && ::fchmod(file.get(), mode) != 0) {
            result = systemFault(path);
            return UniqueFd();
        }
        return file;
    }
    result = fault(EAGAIN, path, "keeps being made and removed by another process");
    return UniqueFd();
}

} // namespace Kalvor
