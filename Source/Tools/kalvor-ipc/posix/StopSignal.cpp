#include "StopSignal.h"

#include "JobInstance/SessionSignals.h"
#include "JobInstance/StopFlag.h"
#include "JobInstance/WaitSet.h"

#include <optional>

namespace Kalvor {

namespace {

// The supervisor's own way of hearing the signals (SessionSignals.h), for the tool's whole run.
struct ToolStop {
    WaitSet wakeUps;
    StopFlag flag{wakeUps};
    std::optional<SessionSignals> signals;
};

// Never destroyed: at exit the main thread's message queue, which the wait set hooks into, is
// gone before any static object, and the reader thread may simply end with the process.
ToolStop& toolStop() {
    static ToolStop& stop = *new ToolStop;
    return stop;
}

} // namespace

void installStopHandlers() {
    ToolStop& stop = toolStop();
    if (!stop.signals)
        stop.signals.emplace(stop.flag);
}

bool stopRequested() {
    return toolStop().flag.requested();
}

} // namespace Kalvor
