#include "JobInstance/OutputPipe.h"

#include "Common/Exception.h"
#include "Common/posix/UniqueFd.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace Kalvor {

namespace {
// Kept clear of the standard streams' numbers, which a launch opens and duplicates onto: a
// supervisor started with a stream closed would otherwise get its pipe there.
UniqueFd aboveStandardStreams(int fd) {
    if (fd >= 3)
        return UniqueFd(fd);
    UniqueFd moved(::fcntl(fd, F_DUPFD_CLOEXEC, 3));
    ::close(fd);
    return moved;
}
} // namespace

struct OutputPipe::Native {
    UniqueFd readEnd;
    UniqueFd writeEnd;
    bool ended = false;
};

OutputPipe::OutputPipe() : native_(std::make_unique<Native>()) {
    int ends[2] = {-1, -1};
    // Close-on-exec: only the program it is handed to (by dup2 onto its streams) gets a copy.
    if (::pipe2(ends, O_CLOEXEC) != 0)
        throw JobException(JB_UNKNOWN_ERROR, "pipe2", KALVOR_HERE);
    native_->readEnd = aboveStandardStreams(ends[0]);
    native_->writeEnd = aboveStandardStreams(ends[1]);
    if (!native_->readEnd || !native_->writeEnd)
        throw JobException(JB_UNKNOWN_ERROR, "fcntl", KALVOR_HERE);
    const int readEnd = native_->readEnd.get();
    ::fcntl(readEnd, F_SETFL, ::fcntl(readEnd, F_GETFL) | O_NONBLOCK);
}

OutputPipe::~OutputPipe() = default;

intptr_t OutputPipe::writeEnd() const {
    return native_->writeEnd.get();
}

void OutputPipe::closeWriteEnd() {
    native_->writeEnd.reset();
}

intptr_t OutputPipe::waitable() const {
    return native_->readEnd.get();
}

bool OutputPipe::read(std::string& bytes, std::size_t limit) {
    char buffer[65536];
    while (!native_->ended && limit > 0) {
        const std::size_t wanted = limit < sizeof buffer ? limit : sizeof buffer;
        const ssize_t got = ::read(native_->readEnd.get(), buffer, wanted);
        if (got > 0) {
            bytes.append(buffer, static_cast<std::size_t>(got));
            limit -= static_cast<std::size_t>(got);
            continue;
        }
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return true;
        // The end, or a read that can never succeed: either way nothing more comes.
        native_->ended = true;
    }
    return !native_->ended;
}

} // namespace Kalvor
