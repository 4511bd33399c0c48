// A well-behaved application of the suite, as the supervisor expects one to be, with switches
// for the ways real ones misbehave.
//
// It listens on the mailslot `id` + "_" + user tag (Common/UserName.h), polling it five times a
// second. "COMMAND" "SEND_PROCESS_INFO" is answered with a "REPLY" whose id is
// "SEND_PROCESS_INFO" and whose text is "pid,tid" (its main thread, the one with the message
// queue), sent to the question's sender or, when the question names none, to the supervisor's
// mailslot "Wardex_" + user tag. "COMMAND" "DIE" ends it with 0 unless it ignores DIE. A polite
// close also ends it with 0: WM_CLOSE (or WM_QUIT, WM_DESTROY) in its main thread's queue, and on
// posix SIGTERM, SIGHUP and SIGINT. In crash mode it ends with its crash code
// (kDemoCrashExitCode unless told otherwise) once its time
// is up, skipping all clean-up as a crash would. Every event is one line on `out`, flushed.
#pragma once

#include "DemoOptions.h"
#include "JobInstance/StopFlag.h"
#include "JobInstance/WaitSet.h"

#include <cstdint>
#include <iosfwd>
#include <string>

namespace Kalvor {

struct IPCMessage;

inline constexpr int kDemoDoneExitCode = 0;
inline constexpr int kDemoFailedExitCode = 1;
inline constexpr int kDemoUsageExitCode = 2;
inline constexpr int kDemoCrashExitCode = 3;

class DemoApplication {
public:
    DemoApplication(DemoOptions options, std::string userTag, std::ostream& out);

    // Runs on the calling thread, which must be the main thread: its id goes into the answer.
    // Returns the exit value; throws IPCException when the mailslot cannot be created (another
    // instance holds it).
    int run();

    const std::string& mailslotName() const { return mailslotName_; }

private:
    enum class Next { Continue, Exit };

    Next handle(const std::string& line);
    void answerProcessInfo(const IPCMessage& question);
    bool closeRequested();
    bool crashDue(uint32_t startTick) const;
    std::ostream& say();

    DemoOptions options_;
    std::string userTag_;
    std::string mailslotName_;
    std::string processInfo_;
    std::ostream& out_;
    // Session end and Ctrl-C (SessionSignals.h) land here and end the loop's wait between polls.
    WaitSet wakeUps_;
    StopFlag stop_{wakeUps_};
};

} // namespace Kalvor
