// The Windows file calls, as the posix layer stands in for them.
#include "File/FileOps.h"

#include "Common/SystemError.h"
#include "File/FileOpsBackend.h"
#include "File/FileUtils.h"
#include "File/posix/NativePath.h"
#include "Common/posix/UniqueFd.h"
#include "Time/SystemClock.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace Kalvor::FileOps {

namespace {

class DirectoryStream {
public:
    explicit DirectoryStream(const std::string& path) : dir_(::opendir(path.c_str())) {}
    ~DirectoryStream() {
        if (dir_)
            ::closedir(dir_);
    }
    DirectoryStream(const DirectoryStream&) = delete;
    DirectoryStream& operator=(const DirectoryStream&) = delete;

    DIR* get() const { return dir_; }

private:
    DIR* dir_;
};

// Keeps errno across clean-up calls that may change it.
class ErrnoKeeper {
public:
    ErrnoKeeper() : saved_(errno) {}
    ~ErrnoKeeper() { errno = saved_; }
    ErrnoKeeper(const ErrnoKeeper&) = delete;
    ErrnoKeeper& operator=(const ErrnoKeeper&) = delete;

private:
    int saved_;
};

bool sameCharacter(char a, char b) {
    return std::tolower(static_cast<unsigned char>(a)) ==
           std::tolower(static_cast<unsigned char>(b));
}

// FindFirstFileA's "*" and "?", without case; a "*" backtracks to its latest position only.
bool matchesPattern(const std::string& name, const std::string& pattern) {
    std::size_t n = 0;
    std::size_t p = 0;
    std::size_t starP = std::string::npos;
    std::size_t starN = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            starP = p++;
            starN = n;
        } else if (p < pattern.size() &&
                   (pattern[p] == '?' || sameCharacter(pattern[p], name[n]))) {
            ++p;
            ++n;
        } else if (starP != std::string::npos) {
            p = starP + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}

bool isDirectory(int directoryFd, const dirent& entry) {
    if (entry.d_type != DT_UNKNOWN && entry.d_type != DT_LNK)
        return entry.d_type == DT_DIR;
    struct stat status {};
    return ::fstatat(directoryFd, entry.d_name, &status, 0) == 0 && S_ISDIR(status.st_mode);
}

CalendarFields calendarFields(const struct statx_timestamp& stamp) {
    CalendarFields fields;
    std::tm tm{};
    if (!SystemClock::utcFields(stamp.tv_sec, tm))
        return fields;
    fields.year = tm.tm_year + 1900;
    fields.month = tm.tm_mon + 1;
    fields.day = tm.tm_mday;
    fields.hour = tm.tm_hour;
    fields.minute = tm.tm_min;
    fields.second = tm.tm_sec;
    return fields;
}

bool isHiddenName(std::string path) {
    FileUtils::stripTrailingSeparators(path);
    const std::string name = FileUtils::namePart(path);
    return name.size() > 1 && name[0] == '.' && name != "..";
}

bool copyBytes(int from, int to) {
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(from, buffer, sizeof buffer);
        if (got == 0)
            return true;
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        for (ssize_t done = 0; done < got;) {
            const ssize_t put = ::write(to, buffer + done, static_cast<std::size_t>(got - done));
            if (put < 0 && errno != EINTR)
                return false;
            if (put > 0)
                done += put;
        }
    }
}

} // namespace

bool copyFile(const std::string& source, const std::string& target, bool overwrite) {
    const std::string from = nativePath(source);
    const std::string to = nativePath(target);
    UniqueFd in(::open(from.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat sourceStatus {};
    if (!in || ::fstat(in.get(), &sourceStatus) != 0)
        return false;
    if (!S_ISREG(sourceStatus.st_mode)) {
        errno = S_ISDIR(sourceStatus.st_mode) ? EISDIR : EINVAL;
        return false;
    }
    // Not truncated on opening: the target might be the source itself.
    const int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (overwrite ? 0 : O_EXCL);
    UniqueFd out(::open(to.c_str(), flags, sourceStatus.st_mode & 07777));
    if (!out)
        return false;
    struct stat targetStatus {};
    if (::fstat(out.get(), &targetStatus) != 0)
        return false;
    if (targetStatus.st_dev == sourceStatus.st_dev && targetStatus.st_ino == sourceStatus.st_ino) {
        errno = EINVAL;
        return false;
    }
    if (::ftruncate(out.get(), 0) != 0 || !copyBytes(in.get(), out.get()) || !out.close()) {
        // A partial copy is worth nothing and would pass for the real thing.
        ErrnoKeeper keep;
        ::unlink(to.c_str());
        return false;
    }
    return true;
}

bool deleteFile(const std::string& path) {
    const std::string native = nativePath(path);
    struct stat status {};
    if (::lstat(native.c_str(), &status) != 0)
        return false;
    if (S_ISDIR(status.st_mode)) {
        errno = EISDIR;
        return false;
    }
    if (S_ISREG(status.st_mode) && (status.st_mode & S_IWUSR) == 0) {
        errno = EACCES;
        return false;
    }
    return ::unlink(native.c_str()) == 0;
}

bool createDirectory(const std::string& path) {
    return ::mkdir(nativePath(path).c_str(), 0777) == 0;
}

bool setAttributes(const std::string& path, uint16_t attributes) {
    const std::string native = nativePath(path);
    struct stat status {};
    if (::stat(native.c_str(), &status) != 0)
        return false;
    mode_t mode = status.st_mode & 07777;
    if (attributes & kReadOnly)
        mode &= ~static_cast<mode_t>(S_IWUSR | S_IWGRP | S_IWOTH);
    else
        mode |= S_IWUSR;
    return ::chmod(native.c_str(), mode) == 0;
}

namespace Backend {

int32_t move(const std::string& source, const std::string& target, bool replace) {
    const std::string from = nativePath(source);
    const std::string to = nativePath(target);
    if (replace)
        return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : lastSystemError();
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return 0;
    const SystemError refused = lastSystemErrorValue();
    if (refused != std::errc::invalid_argument && refused != std::errc::function_not_supported &&
        refused != std::errc::not_supported)
        return refused.native;
    // A file system without RENAME_NOREPLACE: a hard link never replaces either.
    if (::link(from.c_str(), to.c_str()) != 0)
        return lastSystemError();
    if (::unlink(from.c_str()) != 0) {
        const int32_t error = lastSystemError();
        ::unlink(to.c_str());
        return error;
    }
    return 0;
}

std::vector<DirectoryEntry> find(const std::string& searchPath) {
    const std::string native = nativePath(searchPath);
    const std::size_t slash = native.rfind('/');
    const std::string directory = slash == std::string::npos ? "." : native.substr(0, slash + 1);
    std::string pattern = slash == std::string::npos ? native : native.substr(slash + 1);
    if (pattern == "*.*")
        pattern = "*";

    std::vector<DirectoryEntry> entries;
    DirectoryStream stream(directory);
    if (!stream.get())
        return entries;
    while (const dirent* entry = ::readdir(stream.get())) {
        if (matchesPattern(entry->d_name, pattern))
            entries.push_back({entry->d_name, !isDirectory(::dirfd(stream.get()), *entry)});
    }
    return entries;
}

bool driveExists(const std::string&) {
    errno = ENOENT;
    return false;
}

bool lookUp(const std::string& path, FileInformation& info) {
    const std::string native = nativePath(path);
    struct statx status {};
    if (::statx(AT_FDCWD, native.c_str(), 0, STATX_BASIC_STATS | STATX_BTIME, &status) != 0)
        return false;

    std::error_code ignored;
    info.fullPath = std::filesystem::absolute(native, ignored).lexically_normal().string();
    info.sizeLow = static_cast<uint32_t>(status.stx_size & 0xffffffffu);
    info.sizeHigh = static_cast<uint32_t>(status.stx_size >> 32);

    if (S_ISDIR(status.stx_mode))
        info.attributes |= kDirectory;
    if ((status.stx_mode & S_IWUSR) == 0)
        info.attributes |= kReadOnly;
    if (isHiddenName(native))
        info.attributes |= kHidden;
    if (info.attributes == 0)
        info.attributes = kNormal;

    const bool hasBirthTime = (status.stx_mask & STATX_BTIME) != 0;
    info.created = calendarFields(hasBirthTime ? status.stx_btime : status.stx_mtime);
    info.accessed = calendarFields(status.stx_atime);
    info.modified = calendarFields(status.stx_mtime);
    return true;
}

} // namespace Backend

} // namespace Kalvor::FileOps
