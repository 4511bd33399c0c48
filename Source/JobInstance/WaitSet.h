// One wait for what the supervisor's main loop acts on: the end of one of its processes, or a
// wake-up from another thread (a stop request, an application's answer).
//
// posix: poll over the jobs' pidfds and an eventfd. win32: MsgWaitForMultipleObjects over the
// process handles, an event and the calling thread's message queue (a posted WM_CLOSE ends the
// wait too); beyond 63 processes the others are only noticed when the wait times out.
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

    // Ends the current wait, or the next one if none is under way; any thread may call it.
    void wake();
    // Waits up to `milliseconds` for one of the waitables (JobInstance::waitable()) to be
    // signalled, or for wake(); true when the wait ended early.
    bool wait(const std::vector<intptr_t>& waitables, uint32_t milliseconds);

private:
    struct Native;
    std::unique_ptr<Native> native_;
};

} // namespace Kalvor
