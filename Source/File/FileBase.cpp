#include "File/FileBase.h"

#include "Common/Exception.h"
#include "File/FileOps.h"
#include "Time/DateTime.h"

#include <new>

namespace Kalvor {

namespace {
constexpr int kCommitAttempts = 10;
constexpr int32_t kCommitPauseSeconds = 2;
} // namespace

FileBase::FileBase(std::string path) : path_(std::move(path)) {}

FileBase::~FileBase() {
    try {
        abort();
    } catch (const Exception&) {
        // Nothing to tell from a destructor; the lock expires on its own.
    }
}

int32_t FileBase::streamMode(int32_t flags, const std::string& path) {
    const bool read = flags & kRead;
    const bool write = flags & kWrite;
    const bool truncate = flags & kTruncate;
    const bool append = flags & kAppend;
    if ((read && !write && (flags & (kTruncate | kWriteOption | kAppend))) || (truncate && append))
        throw FileException(FL_ACCESS_COMB, path, KALVOR_HERE);
    if (read && write)
        return append     ? BufferedFile::kReadAppend
               : truncate ? BufferedFile::kReadWriteTruncate
                          : BufferedFile::kReadWrite;
    if (read)
        return BufferedFile::kRead;
    if (write)
        return append ? BufferedFile::kAppend : BufferedFile::kWrite;
    throw FileException(FL_ACCESS_COMB, path, KALVOR_HERE);
}

void FileBase::open(int32_t flags) {
    if (!closed_)
        throw FileException(FL_IS_OPEN, path_, KALVOR_HERE);
    const int32_t mode = streamMode(flags, path_);
    const bool write = flags & kWrite;
    if (!write && !FileOps::exists(path_))
        throw FileException(FL_EXISTS_NOT, path_ + "-->File does not exist.", KALVOR_HERE);
    if (write && !(flags & kNoLock))
        takeLock(flags);

    const std::string name = openedName();
    StreamBackend::OpenScope scope((flags & kRenamable) != 0);
    if (!stream_.open(name, mode)) {
        discard();
        throw FileException(FL_CANNOT_OPEN, name, KALVOR_HERE);
    }
    identity_ = scope.identity();
    if ((flags & kAppend) && !stream_.seekToEnd()) {
        stream_.close();
        discard();
        throw FileException(FL_POSITION, name, KALVOR_HERE);
    }
    closed_ = false;
    openFlags_ = flags;
}

// The lock comes before the copy: a copy made without it could overwrite the ".tmp" of the
// writer who holds the lock.
void FileBase::takeLock(int32_t flags) {
    try {
        lock_ = std::make_unique<LockFile>(path_);
    } catch (TimeException& error) {
        error.addLocation(KALVOR_HERE);
        throw;
    } catch (const std::bad_alloc&) {
        throw FileException(FL_MEM, path_, KALVOR_HERE);
    }
    if (lock_->isLockActive() && !lock_->unlock()) {
        lock_.reset();
        throw FileException(FL_IS_LOCKED, path_, KALVOR_HERE);
    }
    const bool inPlace = flags & kInPlace;
    if (!lock_->lock(lockDuration_, !inPlace)) {
        lock_.reset();
        throw FileException(FL_CANNOT_LOCK, path_, KALVOR_HERE);
    }
    if (inPlace)
        return;
    usingTemp_ = true;
    if (!lock_->targetExisted()) {
        // A ".tmp" left by a writer that died must not show through.
        FileOps::deleteFile(tempName());
    } else if (!FileOps::copyFile(path_, tempName(), true)) {
        discard();
        throw FileException(FL_CANNOT_COPY, path_, KALVOR_HERE);
    }
}

bool FileBase::isStillAtPath() const {
    StreamBackend::FileIdentity atPath;
    return !closed_ && StreamBackend::identityAtPath(openedName(), atPath) && atPath == identity_;
}

StreamBackend::OpenStatus FileBase::openStatus() const {
    requireOpen();
    StreamBackend::OpenStatus status;
    if (!stream_.openStatus(status))
        throw FileException(FL_POSITION, path_, KALVOR_HERE);
    return status;
}

StreamBackend::OpenStatus FileBase::openStatusOrSize(bool& told) {
    try {
        told = true;
        return openStatus();
    } catch (const FileException& failure) {
        if (failure.code() != FL_POSITION)
            throw;
        told = false;
        return {false, size()};
    }
}

std::string FileBase::openedName() const {
    return usingTemp_ ? tempName() : path_;
}

void FileBase::close() {
    if (closed_)
        return;
    // The copy reaches the disk before it replaces the file (the Windows move writes through).
    const bool written = !usingTemp_ || stream_.commitToDisk();
    const bool closed = stream_.close() && written;
    closed_ = true;
    openFlags_ = 0;
    if (!closed) {
        const std::string name = openedName();
        discard();
        throw FileException(FL_CANNOT_CLOSE, name, KALVOR_HERE);
    }
    // The lock is released only after the move: another writer must not copy the old file
    // onto our ".tmp" before it has replaced the file.
    const bool replaced = !usingTemp_ || replaceWithTemp();
    usingTemp_ = false;
    const bool unlocked = unlockAndDrop();
    if (!replaced)
        throw FileException(FL_RENAME, "Failed to update the file \"" + path_ + "\"", KALVOR_HERE);
    if (!unlocked)
        throw FileException(FL_CANNOT_UNLOCK, path_, KALVOR_HERE);
}

bool FileBase::replaceWithTemp() {
    lock_->releaseTarget();
    for (int attempt = 1;; ++attempt) {
        if (FileOps::moveFile(tempName(), path_, true))
            return true;
        if (attempt == kCommitAttempts)
            return false;
        DateTime::waitUntil(TimeSpan(kCommitPauseSeconds));
    }
}

void FileBase::abort() {
    if (closed_)
        return;
    stream_.close();
    closed_ = true;
    openFlags_ = 0;
    discard();
}

// Undoes an open: removes what it created, then releases the lock (in that order, so that
// nothing of the next writer's is removed).
void FileBase::discard() {
    if (lock_) {
        lock_->releaseTarget();
        if (!lock_->targetExisted())
            FileOps::deleteFile(path_);
    }
    if (usingTemp_)
        FileOps::deleteFile(tempName());
    usingTemp_ = false;
    if (!unlockAndDrop())
        throw FileException(FL_CANNOT_UNLOCK, path_, KALVOR_HERE);
}

bool FileBase::unlockAndDrop() {
    if (!lock_)
        return true;
    const bool unlocked = lock_->unlock();
    lock_.reset();
    return unlocked;
}

void FileBase::requireOpen() const {
    if (closed_)
        throw FileException(FL_IS_CLOSED, path_, KALVOR_HERE);
}

void FileBase::requireReadable() const {
    requireOpen();
    if (!stream_.canRead())
        throw FileException(FL_CANNOT_READ, path_, KALVOR_HERE);
}

void FileBase::requireWritable() const {
    requireOpen();
    if (!stream_.canWrite())
        throw FileException(FL_CANNOT_WRITE, path_, KALVOR_HERE);
}

std::string FileBase::streamErrorDetail() const {
    return path_ + " - BFile error: " + std::to_string(stream_.error()) +
           " - Access: " + std::to_string(stream_.mode());
}

int64_t FileBase::size() {
    requireOpen();
    const int64_t bytes = stream_.size();
    if (bytes < 0)
        throw FileException(FL_POSITION, streamErrorDetail(), KALVOR_HERE);
    return bytes;
}

int64_t FileBase::position() {
    if (closed_)
        return 0;
    const int64_t offset = stream_.tell();
    if (offset < 0)
        throw FileException(FL_POSITION, streamErrorDetail(), KALVOR_HERE);
    return offset;
}

void FileBase::seek(int64_t offset) {
    requireOpen();
    if (!stream_.seek(offset))
        throw FileException(FL_POSITION, streamErrorDetail(), KALVOR_HERE);
}

void FileBase::seekToEnd() {
    requireOpen();
    if (!stream_.seekToEnd())
        throw FileException(FL_POSITION, streamErrorDetail(), KALVOR_HERE);
}

void FileBase::flush() {
    requireOpen();
    if (!stream_.flush())
        throw FileException(FL_FLUSH, streamErrorDetail(), KALVOR_HERE);
}

} // namespace Kalvor
