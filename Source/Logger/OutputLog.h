// An application's output file: the bytes the program writes, appended as they come (binary,
// nothing added or translated), in a file rotated by size as the log is, and followed at its
// path as the log is.
//
// The file is opened on the first append, for appending in place and without a lock file, so
// that others may rename or delete it while it is open (on Windows too). FilePlain opens only a
// regular file, never blocking on a FIFO, and on posix never through a link planted at the path.
// Each append is flushed before it returns.
//
// Before an append, a file of LogRotation::sizeLimit() megabytes or more (a limit of 0 or less
// switches this off) is closed and renamed to "<base>_<now in basic UTC form>_<counter>.<ext>"
// (LogArchives), the counter the first free one from 0, above those of archives named in the same
// second so that a new archive always sorts last; the rename never replaces a file. The oldest
// archives beyond LogRotation::keptArchives() are then deleted, and the bytes start a new file.
// When the rename fails (on Windows, a reader holds the file without sharing deletion) the file
// is kept, and the next append tries again, so that it rotates as soon as the holder lets go.
// The scheme's
// init and time conditions, and the registry values, are the log's alone.
//
// A file deleted while open is left at the next append, one renamed by another program within a
// second, and the bytes go to a new file at the path. One thread uses an object.
#pragma once

#include "File/StreamBackend.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace Kalvor {

class Exception;

class OutputLog {
public:
    explicit OutputLog(std::string path);
    // Closes the file.
    ~OutputLog();
    OutputLog(const OutputLog&) = delete;
    OutputLog& operator=(const OutputLog&) = delete;

    const std::string& path() const;

    // Appends the bytes; false when the file cannot be opened or written, with failure() saying
    // why (the bytes are then lost; the next append tries again). Never throws.
    bool append(const char* bytes, std::size_t size);
    // Why the latest append failed; empty after one that succeeded.
    const std::string& failure() const { return failure_; }

private:
    class File;

    void followPath();
    // Fills status_; false when the open file could not tell, only its size was found.
    bool lookAtOpenFile();
    void openIfClosed();
    bool rotationDue() const;
    void rotate();
    void closeFile();
    void abandonFile();
    std::string failureText(const Exception& failure) const;

    std::unique_ptr<File> file_;
    StreamBackend::OpenStatus status_;
    // When the path was last looked at.
    uint32_t pathLookedAt_ = 0;
    std::string bytes_;
    std::string failure_;
};

} // namespace Kalvor
