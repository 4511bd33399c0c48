#include "Win32_App/KalvorWardex/Supervisor.h"

#include "JobInstance/SessionSignals.h"
#include "JobInstance/ThreadMessages.h"
#include "Win32_App/KalvorWardex/Platform.h"
#include "Win32_App/KalvorWardex/Wardex.h"
#include "Win32_App/KalvorWardex/WardexServices.h"

namespace Kalvor {

int runSupervisor(const std::string& commandLine, std::string& failure) {
    // Before anything else, so that a close posted to this thread is never lost.
    ensureMessageQueue();
    Wardex wardex("dummy" + commandLine, makeSystemServices(), optionMarkers());
    const SessionSignals signals(wardex.stopFlag());
    int exitValue = 0;
    if (!wardex.initialise())
        exitValue = -1;
    else
        exitValue = wardex.run() ? 0 : 1;
    wardex.shutDown();
    failure = wardex.failure();
    return exitValue;
}

} // namespace Kalvor
