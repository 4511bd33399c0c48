// One wait for everything a thread acts on: the end of the processes it watches, a wake-up from
// another thread (or, on posix, a signal handler), a message posted to the thread's queue, and a
// deadline.
//
// Each watched end is reported once, by the wait that sees it, and is not watched after that: a
// process whose exit code reads as still running (259) cannot make every later wait return at
// once. The set belongs to the thread that made it; only wake() may be called from elsewhere.
//
// posix: poll over the pidfds and an eventfd, which wake() and a message posted to the owner's
// queue write. win32: one RegisterWaitForSingleObject (WT_EXECUTEONLYONCE) per process handle,
// so there is no limit of 64 handles; the callbacks and wake() set one event, which
// MsgWaitForMultipleObjectsEx waits on together with the owner's message queue.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

namespace Kalvor {

class WaitSet {
public:
    // Throws JobException JB_UNKNOWN_ERROR when the system cannot make the wake-up object.
    WaitSet();
    ~WaitSet();
    WaitSet(const WaitSet&) = delete;
    WaitSet& operator=(const WaitSet&) = delete;

    // Watches the end of a job's waitable (JobInstance::waitable()), which must stay valid until
    // its end is reported or it is forgotten. Watching one already watched changes nothing.
    void watch(intptr_t waitable);
    void forget(intptr_t waitable);
    // Only these stay watched (what is not watched yet is added).
    void watchOnly(const std::vector<intptr_t>& waitables);

    // Ends the current wait, or the next one if none is under way. Async-signal-safe on posix.
    void wake() noexcept;
    // Waits up to `milliseconds` for a watched end, wake() or a posted message; returns the
    // waitables whose end it saw, which are no longer watched.
    std::vector<intptr_t> wait(uint32_t milliseconds);

private:
    struct Native;
    std::unique_ptr<Native> native_;
};

} // namespace Kalvor
