#include "JobInstance/SessionSignals.h"

#include "JobInstance/ThreadMessages.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <system_error>
#include <thread>
#include <unistd.h>

namespace Kalvor {

namespace {

constexpr char kInterruptByte = 'I';
constexpr char kStopByte = 'Q';

std::atomic<bool> systemStopFlag{false};
std::atomic<bool> installed{false};
// The pipe's write end while a forwarding thread reads the other end, else -1.
std::atomic<int> interruptWriteEnd{-1};

struct Pipe {
    int readEnd = -1;
    int writeEnd = -1;
};

// Made once and never closed: a handler still running on another thread while its object goes
// away must not write into a descriptor number that has been reused meanwhile.
const Pipe& interruptPipe() {
    static const Pipe pipe = [] {
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0)
            return Pipe{};
        return Pipe{ends[0], ends[1]};
    }();
    return pipe;
}

void writeByte(int fd, char byte) {
    if (::write(fd, &byte, 1) < 0) {
        // A full pipe already holds a byte that wakes the forwarder.
    }
}

extern "C" void onSessionEnd(int) {
    systemStopFlag.store(true);
}

extern "C" void onInterrupt(int) {
    const int savedErrno = errno;
    const int fd = interruptWriteEnd.load();
    if (fd >= 0)
        writeByte(fd, kInterruptByte);
    else
        systemStopFlag.store(true); // no forwarder: stopping is the next best thing
    errno = savedErrno;
}

void forward(int readEnd, uint32_t mainThread) {
    for (;;) {
        pollfd watched{readEnd, POLLIN, 0};
        if (::poll(&watched, 1, -1) < 0)
            continue;
        char bytes[64];
        const ssize_t count = ::read(readEnd, bytes, sizeof bytes);
        for (ssize_t i = 0; i < count; ++i) {
            if (bytes[i] == kStopByte)
                return;
            if (bytes[i] == kInterruptByte)
                postThreadMessage(mainThread, kWmClose, 0, 0);
        }
    }
}

void drain(int readEnd) {
    char bytes[64];
    while (::read(readEnd, bytes, sizeof bytes) > 0) {
    }
}

} // namespace

struct SessionSignals::State {
    struct sigaction previousTerminate {};
    struct sigaction previousHangUp {};
    struct sigaction previousInterrupt {};
    std::thread forwarder;
};

SessionSignals::SessionSignals() {
    ensureMessageQueue();
    if (installed.exchange(true))
        return;
    state_ = std::make_unique<State>();
    systemStopFlag = false;

    const Pipe& pipe = interruptPipe();
    if (pipe.readEnd >= 0) {
        drain(pipe.readEnd);
        try {
            state_->forwarder = std::thread(forward, pipe.readEnd, currentThreadId());
            interruptWriteEnd = pipe.writeEnd;
        } catch (const std::system_error&) {
            // SIGINT then sets the system stop flag instead.
        }
    }

    struct sigaction action {};
    ::sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    action.sa_handler = onSessionEnd;
    ::sigaction(SIGTERM, &action, &state_->previousTerminate);
    ::sigaction(SIGHUP, &action, &state_->previousHangUp);
    action.sa_handler = onInterrupt;
    ::sigaction(SIGINT, &action, &state_->previousInterrupt);
}

SessionSignals::~SessionSignals() {
    if (!state_)
        return;
    ::sigaction(SIGTERM, &state_->previousTerminate, nullptr);
    ::sigaction(SIGHUP, &state_->previousHangUp, nullptr);
    ::sigaction(SIGINT, &state_->previousInterrupt, nullptr);
    interruptWriteEnd = -1;
    if (state_->forwarder.joinable()) {
        writeByte(interruptPipe().writeEnd, kStopByte);
        state_->forwarder.join();
    }
    installed = false;
}

bool SessionSignals::systemStop() {
    return systemStopFlag;
}

} // namespace Kalvor
