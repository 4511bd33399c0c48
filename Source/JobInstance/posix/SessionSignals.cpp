#include "JobInstance/SessionSignals.h"

#include <cerrno>
#include <csignal>

namespace Kalvor {

namespace {

extern "C" void onSessionEnd(int) {
    const int savedErrno = errno;
    SessionSignals::deliver(StopFlag::kSessionEnd);
    errno = savedErrno;
}

extern "C" void onInterrupt(int) {
    const int savedErrno = errno;
    SessionSignals::deliver(StopFlag::kClose);
    errno = savedErrno;
}

} // namespace

struct SessionSignals::State {
    struct sigaction previousTerminate {};
    struct sigaction previousHangUp {};
    struct sigaction previousInterrupt {};
};

SessionSignals::SessionSignals(StopFlag& stop) {
    if (!claim(stop))
        return;
    state_ = std::make_unique<State>();
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
    release();
}

} // namespace Kalvor
