#include "File/StreamBackend.h"

#include "Common/posix/UniqueFd.h"
#include "File/posix/NativePath.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

namespace Kalvor::StreamBackend {

namespace {

struct Opening {
    int flags;
    const char* letters;
};

// Indexed by BufferedFile mode.
const Opening kOpenings[] = {
    {0, nullptr},
    {O_RDONLY, "rb"},
    {O_WRONLY | O_CREAT | O_TRUNC, "wb"},
    {O_WRONLY | O_CREAT | O_APPEND, "ab"},
    {O_RDWR | O_CREAT, "r+b"},
    {O_RDWR | O_CREAT | O_TRUNC, "w+b"},
    {O_RDWR | O_CREAT | O_APPEND, "a+b"},
};

FileIdentity identityOf(const struct stat& info) {
    return {static_cast<uint64_t>(info.st_dev), static_cast<uint64_t>(info.st_ino)};
}

} // namespace

std::FILE* open(const std::string& path, int32_t mode, bool exclusive) {
    const Opening& opening = kOpenings[mode];
    // O_NONBLOCK keeps a FIFO without partner from blocking the open; a regular file ignores it.
    // A file opened to write (a log, a lock file, a copy) may sit in a folder other accounts can
    // write to: a link planted there must not lead the write, or a truncation, to a file of
    // ours elsewhere. Reading follows links, as operators link configuration files.
    const bool writes = (opening.flags & O_CREAT) != 0 || exclusive;
    const int flags = opening.flags | O_CLOEXEC | O_NONBLOCK | (writes ? O_NOFOLLOW : 0) |
                      (exclusive ? O_CREAT | O_EXCL : 0);
    UniqueFd fd(::open(nativePath(path).c_str(), flags, 0666));
    if (!fd)
        return nullptr;
    struct stat info = {};
    if (::fstat(fd.get(), &info) != 0)
        return nullptr;
    if (!S_ISREG(info.st_mode)) {
        fd.reset();
        errno = S_ISDIR(info.st_mode) ? EISDIR : EINVAL;
        return nullptr;
    }
    std::FILE* file = ::fdopen(fd.get(), opening.letters);
    if (!file)
        return nullptr;
    fd.release();
    if (OpenScope* scope = OpenScope::current())
        scope->setIdentity(identityOf(info));
    return file;
}

// lstat, as a file opened to write is never reached through a link: a link now in its place is
// another file.
bool identityAtPath(const std::string& path, FileIdentity& identity) {
    struct stat info = {};
    if (::lstat(nativePath(path).c_str(), &info) != 0)
        return false;
    identity = identityOf(info);
    return true;
}

bool openStatus(std::FILE* file, OpenStatus& status) {
    struct statx info;
    constexpr unsigned kWanted = STATX_NLINK | STATX_SIZE;
    if (::statx(::fileno(file), "", AT_EMPTY_PATH, kWanted, &info) != 0 ||
        (info.stx_mask & kWanted) != kWanted)
        return false;
    status.deleted = info.stx_nlink == 0;
    status.bytes = static_cast<int64_t>(info.stx_size);
    return true;
}

bool seek(std::FILE* file, int64_t offset, int origin) {
    return ::fseeko(file, static_cast<off_t>(offset), origin) == 0;
}

int64_t tell(std::FILE* file) {
    return static_cast<int64_t>(::ftello(file));
}

bool commit(std::FILE* file) {
    return ::fsync(::fileno(file)) == 0;
}

} // namespace Kalvor::StreamBackend
