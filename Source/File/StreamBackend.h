// The platform half of BufferedFile: how a stream is opened, positioned and made durable, and
// which file an open stream is.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace Kalvor::StreamBackend {

// What makes two names one file: device and inode (win32: volume serial number and file index).
struct FileIdentity {
    uint64_t volume = 0;
    uint64_t index = 0;

    bool operator==(const FileIdentity& other) const {
        return volume == other.volume && index == other.index;
    }
};

// Wraps one BufferedFile open on this thread (BufferedFile keeps its stream to itself): says
// whether other processes may rename and delete the file while it is open, and learns which
// file was opened. posix always lets them; win32 otherwise holds an open file in place, which
// lock files rely on. A file shared with writers that rotate it must let them.
class OpenScope {
public:
    explicit OpenScope(bool renamable) : renamable_(renamable), outer_(current_) {
        current_ = this;
    }
    ~OpenScope() { current_ = outer_; }
    OpenScope(const OpenScope&) = delete;
    OpenScope& operator=(const OpenScope&) = delete;

    // The innermost scope of this thread; nullptr outside any.
    static OpenScope* current() { return current_; }

    bool renamable() const { return renamable_; }
    // Set by a successful open() within the scope.
    const FileIdentity& identity() const { return identity_; }
    void setIdentity(const FileIdentity& identity) { identity_ = identity; }

private:
    static inline thread_local OpenScope* current_ = nullptr;
    bool renamable_;
    OpenScope* outer_;
    FileIdentity identity_;
};

// `mode` is a BufferedFile mode (1 to 6); with `exclusive` (mode 2 only) the file must not
// exist. Never inherited by child processes. Only a regular file is opened, and without
// blocking: a directory, FIFO or device fails the open (EISDIR or EINVAL; win32
// ERROR_NOT_SUPPORTED), so that no read can hang or run on without end. Other processes may
// read and write the file while it is open; see OpenScope for renaming and deleting. nullptr
// on failure, the system error left set.
std::FILE* open(const std::string& path, int32_t mode, bool exclusive);

// The identity of the file at the path now, a link not followed (win32 opens it briefly, for
// attributes only and sharing everything, so that it neither blocks nor is refused). False
// when nothing is there.
bool identityAtPath(const std::string& path, FileIdentity& identity);

// What the open file itself says now. Its times are not asked: on posix a look at them makes
// the system give the next write a fresh fine-grained time stamp, which costs that write as
// much again.
struct OpenStatus {
    // No name leads to it any longer (win32: its deletion is pending, or it has no name).
    bool deleted = false;
    // Bytes on the device, without what the stream still buffers.
    int64_t bytes = 0;
};

// One look at the open file, none at a path. False when the system refuses.
bool openStatus(std::FILE* file, OpenStatus& status);

// `origin` is SEEK_SET, SEEK_CUR or SEEK_END.
bool seek(std::FILE* file, int64_t offset, int origin);
int64_t tell(std::FILE* file);

// Written data (already flushed from the stream's buffer) reaches the device.
bool commit(std::FILE* file);

} // namespace Kalvor::StreamBackend
