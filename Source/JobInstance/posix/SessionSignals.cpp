#include "JobInstance/SessionSignals.h"

#include "Common/posix/HelperThread.h"
#include "Common/posix/UniqueFd.h"

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <system_error>
#include <thread>

namespace Kalvor {

namespace {

StopFlag::Source sourceOf(int signal) {
    return signal == SIGINT ? StopFlag::kClose : StopFlag::kSessionEnd;
}

extern "C" void onSessionSignal(int signal) {
    const int savedErrno = errno;
    SessionSignals::deliver(sourceOf(signal));
    errno = savedErrno;
}

sigset_t sessionSignalSet() {
    sigset_t set;
    ::sigemptyset(&set);
    for (const int signal : {SIGTERM, SIGHUP, SIGINT})
        ::sigaddset(&set, signal);
    return set;
}

} // namespace

// The signals are blocked in the thread that made the object (and so in the threads it starts
// later) and read from a signalfd by a reader thread of its own. A handler would run on whichever
// thread the kernel picks, and ThreadSanitizer's runtime, which runs handlers on its own terms,
// was seen to lose one now and then in a process with a second thread. The handlers stay installed
// for a thread made earlier that does not block the signals.
struct SessionSignals::State {
    struct sigaction previousTerminate {};
    struct sigaction previousHangUp {};
    struct sigaction previousInterrupt {};
    sigset_t previousMask{};
    UniqueFd signals;
    UniqueFd stopReading;
    std::thread reader;

    void startReader() {
        const sigset_t session = sessionSignalSet();
        ::pthread_sigmask(SIG_BLOCK, &session, &previousMask);
        signals = UniqueFd(::signalfd(-1, &session, SFD_NONBLOCK | SFD_CLOEXEC));
        stopReading = UniqueFd(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
        if (signals && stopReading) {
            try {
                reader = startHelperThread([this] { readUntilStopped(); });
            } catch (const std::system_error&) {
                // No reader: the handlers take the signals, as below.
            }
        }
        if (!reader.joinable())
            ::pthread_sigmask(SIG_SETMASK, &previousMask, nullptr);
    }

    void stopReader() {
        if (!reader.joinable())
            return;
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = ::write(stopReading.get(), &one, sizeof one);
        reader.join();
        // What arrived since the reader ended goes to the handlers, which are still ours.
        ::pthread_sigmask(SIG_SETMASK, &previousMask, nullptr);
    }

    void readUntilStopped() {
        for (;;) {
            pollfd watched[] = {{stopReading.get(), POLLIN, 0}, {signals.get(), POLLIN, 0}};
            if (::poll(watched, 2, -1) < 0)
                continue; // EINTR
            if (watched[0].revents != 0)
                return;
            signalfd_siginfo received{};
            while (::read(signals.get(), &received, sizeof received) ==
                   static_cast<ssize_t>(sizeof received))
                SessionSignals::deliver(sourceOf(static_cast<int>(received.ssi_signo)));
        }
    }
};

SessionSignals::SessionSignals(StopFlag& stop) {
    if (!claim(stop))
        return;
    state_ = std::make_unique<State>();
    struct sigaction action {};
    ::sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    action.sa_handler = onSessionSignal;
    ::sigaction(SIGTERM, &action, &state_->previousTerminate);
    ::sigaction(SIGHUP, &action, &state_->previousHangUp);
    ::sigaction(SIGINT, &action, &state_->previousInterrupt);
    state_->startReader();
}

SessionSignals::~SessionSignals() {
    if (!state_)
        return;
    state_->stopReader();
    ::sigaction(SIGTERM, &state_->previousTerminate, nullptr);
    ::sigaction(SIGHUP, &state_->previousHangUp, nullptr);
    ::sigaction(SIGINT, &state_->previousInterrupt, nullptr);
    release();
}

} // namespace Kalvor
