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

ToolStop& toolStop() {
    static ToolStop stop;
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
