// How the end of the user's session and a close request reach a StopFlag.
//
// While a SessionSignals object lives, it is the flag that deliver() sets. posix: SIGTERM and
// SIGHUP request kSessionEnd (where Windows sends WM_QUERYENDSESSION), SIGINT requests kClose
// (where Windows posts WM_CLOSE). They are blocked in the thread that makes the object, and so in
// the threads it starts afterwards, and a reader thread of the object's own takes them; a thread
// made earlier that does not block them runs a handler instead, which only touches the flag.
// Destruction, on the thread that made the object, restores that thread's signal mask and the
// handlers that were there before. win32: the hidden window's procedure calls deliver(). One
// object at a time; a second one made meanwhile is inert.
#pragma once

#include "JobInstance/StopFlag.h"

#include <memory>

namespace Kalvor {

class SessionSignals {
public:
    explicit SessionSignals(StopFlag& stop);
    ~SessionSignals();
    SessionSignals(const SessionSignals&) = delete;
    SessionSignals& operator=(const SessionSignals&) = delete;

    // Requests a stop of the flag of the living object; false when there is none.
    static bool deliver(StopFlag::Source source) noexcept;

private:
    struct State;
    // Makes `stop` the flag in charge; false when another object is in charge.
    static bool claim(StopFlag& stop);
    static void release();

    std::unique_ptr<State> state_;
};

} // namespace Kalvor
