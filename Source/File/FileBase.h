// A file opened for reading, writing or both, with the safe update that protects writers.
//
// A writer first takes the LockFile path + ".lock": another owner's unexpired lock refuses the
// open (FL_IS_LOCKED), an expired one is removed. Unless told to write in place, the writer then
// works on a copy, path + ".tmp", that replaces the file only when close() succeeds; abort(), a
// failed close and destruction leave the file as it was (a file that did not exist is removed
// again), and so does a writer process that dies. With kNoLock there is neither lock nor copy.
// With kRenamable other processes may rename and delete the file while it is open (posix always
// lets them; win32 otherwise holds an open file in place): for a file its writers rotate.
//
// Open flags: kRead 1, kWrite 2, kTruncate 4 (with read and write), 8 (accepted with write
// only; no effect), kAppend 16, kInPlace 32, kNoLock 64, kRenamable 128. Every failure is a
// FileException. The default lock duration is five minutes: a writer that dies blocks others
// for at most that long, and an ordinary update ends well within it. A writer holding a file
// longer must set a longer duration, or another writer takes over its expired lock.
#pragma once

#include "File/BufferedFile.h"
#include "File/LockFile.h"
#include "File/StreamBackend.h"
#include "Time/TimeSpan.h"

#include <cstdint>
#include <memory>
#include <string>

namespace Kalvor {

class FileBase {
public:
    enum OpenFlag : int32_t {
        kRead = 1,
        kWrite = 2,
        kTruncate = 4,
        kWriteOption = 8,
        kAppend = 16,
        kInPlace = 32,
        kNoLock = 64,
        kRenamable = 128,
    };
    static constexpr int32_t kDefaultLockSeconds = 300;

    explicit FileBase(std::string path);
    // An open file is abandoned as by abort(), without throwing.
    virtual ~FileBase();
    FileBase(const FileBase&) = delete;
    FileBase& operator=(const FileBase&) = delete;

    // FL_IS_OPEN, FL_ACCESS_COMB (checked before anything is touched), FL_EXISTS_NOT (reading
    // only), FL_MEM, FL_IS_LOCKED, FL_CANNOT_LOCK, FL_CANNOT_COPY, FL_CANNOT_OPEN; a
    // malformed lock file throws its TimeException.
    void open(int32_t flags);
    // Commits: the copy replaces the file (retried every 2 s, 10 attempts: FL_RENAME), then
    // the lock is released. FL_CANNOT_CLOSE when the stream's data could not be written; the
    // file is then left as abort() leaves it.
    void close();
    // Closes without committing: the copy is deleted, and so is a file that did not exist.
    // Throws FL_CANNOT_UNLOCK only.
    void abort();

    bool isOpen() const { return !closed_; }
    // Whether the name the file was opened under (the copy's, while updating through one) still
    // leads to the open file: another process may have renamed or deleted it since. False when
    // closed. One look at the path (win32: a brief open for attributes).
    bool isStillAtPath() const;
    // Whether the open file has been deleted, and its size on the device (flushed data only):
    // a cheaper look than isStillAtPath() or size(), at the open file alone, which leaves the
    // position alone. FL_IS_CLOSED on a closed file, FL_POSITION when the system refuses.
    StreamBackend::OpenStatus openStatus() const;
    // openStatus(), or where the system cannot tell, the size found by seeking (and "deleted"
    // unknown, so false); `told` says which. For writers that follow their file: slower without
    // the look, but rotation and following still work. Throws as size() does.
    StreamBackend::OpenStatus openStatusOrSize(bool& told);
    const std::string& path() const { return path_; }
    int32_t openFlags() const { return openFlags_; }
    void setLockDuration(const TimeSpan& duration) { lockDuration_ = duration; }
    const TimeSpan& lockDuration() const { return lockDuration_; }

    // Each throws FL_IS_CLOSED on a closed file and FL_POSITION / FL_FLUSH when the stream
    // fails. Positions count bytes from the start of the open file.
    int64_t size();
    int64_t position(); // 0 when closed
    void seek(int64_t offset);
    void seekToEnd();
    void flush();

protected:
    BufferedFile& stream() { return stream_; }
    void requireOpen() const;
    void requireReadable() const;
    void requireWritable() const;
    // path, " - BFile error: ", the stream's error number, " - Access: ", its mode.
    std::string streamErrorDetail() const;

private:
    static int32_t streamMode(int32_t flags, const std::string& path);
    void takeLock(int32_t flags);
    std::string openedName() const;
    std::string tempName() const { return path_ + ".tmp"; }
    void discard();
    bool unlockAndDrop();
    bool replaceWithTemp();

    std::string path_;
    bool closed_ = true;
    int32_t openFlags_ = 0;
    bool usingTemp_ = false;
    std::unique_ptr<LockFile> lock_;
    TimeSpan lockDuration_{kDefaultLockSeconds};
    BufferedFile stream_;
    StreamBackend::FileIdentity identity_; // of the open file
};

} // namespace Kalvor
