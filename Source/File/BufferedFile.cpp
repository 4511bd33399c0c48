#include "File/BufferedFile.h"

#include "Common/SystemError.h"
#include "File/StreamBackend.h"

#include <utility>

namespace Kalvor {

BufferedFile::~BufferedFile() {
    release();
}

BufferedFile::BufferedFile(BufferedFile&& other) noexcept
    : file_(std::exchange(other.file_, nullptr)), mode_(std::exchange(other.mode_, kNoMode)),
      error_(other.error_), systemError_(other.systemError_), direction_(other.direction_),
      position_(other.position_) {}

BufferedFile& BufferedFile::operator=(BufferedFile&& other) noexcept {
    if (this != &other) {
        release();
        file_ = std::exchange(other.file_, nullptr);
        mode_ = std::exchange(other.mode_, kNoMode);
        error_ = other.error_;
        systemError_ = other.systemError_;
        direction_ = other.direction_;
        position_ = other.position_;
    }
    return *this;
}

bool BufferedFile::open(const std::string& path, int32_t mode) {
    return openWith(path, mode, false);
}

bool BufferedFile::createNew(const std::string& path) {
    return openWith(path, kWrite, true);
}

bool BufferedFile::openWith(const std::string& path, int32_t mode, bool exclusive) {
    if (isOpen())
        return fail(kAlreadyOpen);
    if (mode < kRead || mode > kReadAppend)
        return fail(kBadMode);
    file_ = StreamBackend::open(path, mode, exclusive);
    if (!file_)
        return fail(kCannotOpen);
    mode_ = mode;
    error_ = kNoError;
    direction_ = Direction::None;
    position_ = appends() ? kUnknownPosition : 0;
    return true;
}

bool BufferedFile::close() {
    if (!isOpen())
        return fail(kNotOpen);
    const bool closed = std::fclose(std::exchange(file_, nullptr)) == 0;
    mode_ = kNoMode;
    return closed || fail(kCloseFailed);
}

void BufferedFile::release() {
    if (file_)
        std::fclose(std::exchange(file_, nullptr));
    mode_ = kNoMode;
}

bool BufferedFile::fail(Error error) {
    systemError_ = lastSystemError();
    error_ = error;
    return false;
}

bool BufferedFile::canRead() const {
    return mode_ == kRead || mode_ == kReadWrite || mode_ == kReadWriteTruncate ||
           mode_ == kReadAppend;
}

// Every write goes to the end, wherever the position was.
bool BufferedFile::appends() const {
    return mode_ == kAppend || mode_ == kReadAppend;
}

bool BufferedFile::canWrite() const {
    return mode_ != kNoMode && mode_ != kRead;
}

// C streams must be repositioned between reading and writing.
bool BufferedFile::turnTo(Direction direction) {
    if (direction_ != Direction::None && direction_ != direction &&
        !StreamBackend::seek(file_, 0, SEEK_CUR))
        return fail(kPositionFailed);
    direction_ = direction;
    return true;
}

bool BufferedFile::write(const std::string& data) {
    if (!isOpen())
        return fail(kNotOpen);
    if (!turnTo(Direction::Writing))
        return false;
    const bool written =
        data.empty() || std::fwrite(data.data(), 1, data.size(), file_) == data.size();
    if (!written || appends())
        position_ = kUnknownPosition;
    else if (position_ != kUnknownPosition)
        position_ += static_cast<int64_t>(data.size());
    return written || fail(kWriteFailed);
}

std::size_t BufferedFile::read(char* buffer, std::size_t size) {
    if (!isOpen()) {
        fail(kNotOpen);
        return 0;
    }
    if (!turnTo(Direction::Reading))
        return 0;
    const std::size_t got = std::fread(buffer, 1, size, file_);
    if (position_ != kUnknownPosition)
        position_ += static_cast<int64_t>(got);
    if (got < size && std::ferror(file_))
        fail(kReadFailed);
    return got;
}

bool BufferedFile::readLine(std::string& line, int64_t limit) {
    line.clear();
    if (!isOpen())
        return fail(kNotOpen);
    if (!turnTo(Direction::Reading) || tell() < 0)
        return false;
    bool readAny = false;
    for (int byte; position_ <= limit && (byte = std::getc(file_)) != EOF;) {
        ++position_;
        readAny = true;
        if (byte == '\n') {
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            return true;
        }
        line.push_back(static_cast<char>(byte));
    }
    if (std::ferror(file_))
        return fail(kReadFailed);
    return readAny;
}

bool BufferedFile::atEnd() const {
    return !isOpen() || std::feof(file_) != 0;
}

bool BufferedFile::seek(int64_t offset) {
    if (!isOpen())
        return fail(kNotOpen);
    if (offset < 0 || !StreamBackend::seek(file_, offset, SEEK_SET)) {
        position_ = kUnknownPosition;
        return fail(kPositionFailed);
    }
    direction_ = Direction::None;
    position_ = offset;
    return true;
}

bool BufferedFile::seekToEnd() {
    if (!isOpen())
        return fail(kNotOpen);
    position_ = kUnknownPosition;
    if (!StreamBackend::seek(file_, 0, SEEK_END))
        return fail(kPositionFailed);
    direction_ = Direction::None;
    return true;
}

int64_t BufferedFile::tell() {
    if (!isOpen()) {
        fail(kNotOpen);
        return -1;
    }
    if (position_ == kUnknownPosition) {
        position_ = StreamBackend::tell(file_);
        if (position_ < 0) {
            position_ = kUnknownPosition;
            fail(kPositionFailed);
        }
    }
    return position_;
}

int64_t BufferedFile::size() {
    const int64_t position = tell();
    if (position < 0 || !seekToEnd())
        return -1;
    const int64_t end = tell();
    if (!seek(position))
        return -1;
    return end;
}

bool BufferedFile::flush() {
    if (!isOpen())
        return fail(kNotOpen);
    return std::fflush(file_) == 0 || fail(kFlushFailed);
}

bool BufferedFile::openStatus(StreamBackend::OpenStatus& status) const {
    return file_ != nullptr && StreamBackend::openStatus(file_, status);
}

bool BufferedFile::commitToDisk() {
    return flush() && (StreamBackend::commit(file_) || fail(kFlushFailed));
}

} // namespace Kalvor
