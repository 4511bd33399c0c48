#include "StopSignal.h"

#include <atomic>
#include <csignal>

namespace Kalvor {

namespace {
std::atomic<bool> stopFlag{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");

extern "C" void noteStop(int) {
    stopFlag = true;
}
} // namespace

void installStopHandlers() {
    struct sigaction action {};
    action.sa_handler = noteStop;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGHUP, &action, nullptr);
}

bool stopRequested() {
    return stopFlag;
}

} // namespace Kalvor
