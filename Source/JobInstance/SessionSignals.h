// How the end of the user's session reaches the process on posix, where there is no hidden
// window to receive WM_QUERYENDSESSION.
//
// While a SessionSignals object lives, SIGTERM and SIGHUP set the process-wide system stop flag
// (systemStop()), and SIGINT posts WM_CLOSE to the message queue of the thread that made the
// object. The handlers are async-signal-safe: they set an atomic flag or write one byte to a
// pipe, from which a small forwarding thread posts the message. Destruction restores the
// handlers that were there before. One object at a time; a second one made meanwhile is inert.
//
// win32: does nothing, and systemStop() stays false; the supervisor's hidden window is told of
// the session end instead.
#pragma once

#include <memory>

namespace Kalvor {

class SessionSignals {
public:
    // Clears the system stop flag and installs the handlers.
    SessionSignals();
    ~SessionSignals();
    SessionSignals(const SessionSignals&) = delete;
    SessionSignals& operator=(const SessionSignals&) = delete;

    static bool systemStop();

private:
    struct State;
    std::unique_ptr<State> state_;
};

} // namespace Kalvor
