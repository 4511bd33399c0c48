#include "Win32_App/KalvorWardex/Supervisor.h"

#include "JobInstance/ChildReaper.h"
#include "JobInstance/SessionSignals.h"
#include "JobInstance/ThreadMessages.h"
#include "Win32_App/KalvorWardex/Platform.h"
#include "Win32_App/KalvorWardex/Wardex.h"
#include "Win32_App/KalvorWardex/WardexServices.h"

namespace Kalvor {

int runSupervisor(const std::string& commandLine, std::string& failure) {
    // Before anything else, so that a close posted to this thread is never lost.
    ensureMessageQueue();
    // A daemon an application forks comes to the supervisor, not to process 1, so that a stop
    // can still end it and nothing is left a zombie.
    becomeChildSubreaper();
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
