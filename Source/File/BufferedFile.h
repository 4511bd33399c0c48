// A buffered byte stream on one file: C stdio underneath, always binary (no line-end
// translation), 64-bit positions, closed on destruction.
//
// Modes, numbered as callers and error texts know them: 1 read; 2 write (emptied); 3 write
// appending; 4 read and write (created when missing, contents kept); 5 read and write, emptied;
// 6 read and write appending. createNew() opens for writing only a file that does not exist
// yet, atomically across processes. Both open only a regular file, and never block on one.
// Switching between reading and writing is handled here.
// A failure is a false (or short) result; error() then says which step failed and
// systemError() holds the system's number for it.
#pragma once

#include "File/StreamBackend.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace Kalvor {

class BufferedFile {
public:
    enum Mode : int32_t {
        kNoMode = 0,
        kRead = 1,
        kWrite = 2,
        kAppend = 3,
        kReadWrite = 4,
        kReadWriteTruncate = 5,
        kReadAppend = 6,
    };

    // The stream's own error numbers.
    enum Error : int32_t {
        kNoError = 0,
        kNotOpen = 1,
        kAlreadyOpen = 2,
        kBadMode = 3,
        kCannotOpen = 4,
        kWriteFailed = 5,
        kReadFailed = 6,
        kPositionFailed = 7,
        kFlushFailed = 8,
        kCloseFailed = 9,
    };

    BufferedFile() = default;
    ~BufferedFile();
    BufferedFile(BufferedFile&& other) noexcept;
    BufferedFile& operator=(BufferedFile&& other) noexcept;
    BufferedFile(const BufferedFile&) = delete;
    BufferedFile& operator=(const BufferedFile&) = delete;

    bool open(const std::string& path, int32_t mode);
    bool createNew(const std::string& path);
    // Flushes and closes; false when buffered data could not be written. Closed either way.
    bool close();

    bool isOpen() const { return file_ != nullptr; }
    int32_t mode() const { return mode_; }
    int32_t error() const { return error_; }
    int32_t systemError() const { return systemError_; }
    bool canRead() const;
    bool canWrite() const;

    bool write(const std::string& data);
    // Up to `size` bytes; fewer at the end of the file or on failure (then error() is set).
    std::size_t read(char* buffer, std::size_t size);
    // The next line without its "\n" or "\r\n"; false at the end of the file with nothing
    // read, or on failure. Reading stops once the position passes `limit`, the line then cut
    // short: tell() > limit shows it.
    bool readLine(std::string& line, int64_t limit = INT64_MAX);
    bool atEnd() const;

    bool seek(int64_t offset);
    bool seekToEnd();
    // -1 on failure. Counted as the stream reads and writes: no system call, except after
    // seekToEnd() or an appending write.
    int64_t tell();
    int64_t size();

    bool flush();
    // See StreamBackend::openStatus; false when closed.
    bool openStatus(StreamBackend::OpenStatus& status) const;
    // Flushes and has the system write the data to the device: the last step before a file is
    // made to replace another.
    bool commitToDisk();

private:
    enum class Direction { None, Reading, Writing };
    static constexpr int64_t kUnknownPosition = -1;

    bool openWith(const std::string& path, int32_t mode, bool exclusive);
    bool appends() const;
    bool fail(Error error);
    bool turnTo(Direction direction);
    void release();

    std::FILE* file_ = nullptr;
    int32_t mode_ = kNoMode;
    int32_t error_ = kNoError;
    int32_t systemError_ = 0;
    Direction direction_ = Direction::None;
    // Unknown after seeking to the end and after appending writes; tell() asks the system then.
    int64_t position_ = kUnknownPosition;
};

} // namespace Kalvor
