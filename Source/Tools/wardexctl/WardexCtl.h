// wardexctl's work, callable in-process: the status of the calling account's supervisor, or a
// command to it (SupervisorLink.h).
//
//   status [--json] [NAME...]  prints the supervised applications (or those named) as a
//                              table or as JSON (StatusOutput.h)
//   start|stop|restart NAME... an operator's command for each application, answered by the
//                              supervisor (CommandHandler.h's OperatorRequest)
//   signal NAME SIGNAL         a signal to its container (ContainerSignal.h)
//   reconfig                   has the supervisor read its configuration again
//   shutdown                   has it stop its applications and end
//
// "--account NAME" before the command addresses the supervisor of another account (root only;
// by name or number): its mailslots are reached in that account's folder (MailSlot::useAccount).
//
// Returns the exit value: 0 done, 1 failed (for any name; a message on `err`), 2 bad arguments (a message and
// the usage on `err`), 3 no supervisor (its mailslot is not there, or no status answer came
// within the wait; a message on `err`). "--help" or "-h" anywhere prints the usage on `out` and
// returns 0.
#pragma once

#include <chrono>
#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

namespace Kalvor {

inline constexpr int kCtlDone = 0;
inline constexpr int kCtlFailed = 1;
inline constexpr int kCtlUsage = 2;
inline constexpr int kCtlNoSupervisor = 3;

struct WardexCtlSettings {
    // Whose supervisor is addressed; empty: the calling account's (currentUserTag()), or the
    // one "--account" names.
    std::string userTag;
    std::chrono::milliseconds answerWait = std::chrono::seconds(2);
    // True once the user asked to stop (Ctrl-C): a wait for an answer ends, and the own
    // mailslot goes with the tool.
    std::function<bool()> stopRequested;
};

// `arguments` excludes the program name.
int runWardexCtl(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err,
                 const WardexCtlSettings& settings = {});

} // namespace Kalvor
