// Starts a helper thread (a listener, a reaper) that never takes the process's signals.
//
// The kernel hands a signal sent to the process to any thread that does not block it, so a
// helper would otherwise take SIGTERM or SIGINT in place of the thread that waits for them, or
// let a signal that should stay pending for a signalfd (SessionSignals.h) be handled. The faults
// that a thread raises itself (SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGSYS, SIGABRT) stay
// unblocked, so that they still end the process with their usual report.
#pragma once

#include <csignal>
#include <thread>
#include <utility>

namespace Kalvor {

// Blocks the asynchronous signals in the calling thread while it lives; restores the mask after.
class AsynchronousSignalsBlocked {
public:
    AsynchronousSignalsBlocked();
    ~AsynchronousSignalsBlocked();
    AsynchronousSignalsBlocked(const AsynchronousSignalsBlocked&) = delete;
    AsynchronousSignalsBlocked& operator=(const AsynchronousSignalsBlocked&) = delete;

private:
    sigset_t previous_;
};

// A new thread starts with its creator's signal mask.
template <class Routine>
std::thread startHelperThread(Routine&& routine) {
    const AsynchronousSignalsBlocked blocked;
    return std::thread(std::forward<Routine>(routine));
}

} // namespace Kalvor
