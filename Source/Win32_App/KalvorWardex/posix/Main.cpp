// The supervisor's entry on posix: the session signals stand in for the hidden window (SIGTERM
// and SIGHUP end the session, SIGINT closes the main thread), and the arguments are joined back
// into the one command line a Windows program would get.
#include "JobInstance/SessionSignals.h"
#include "JobInstance/ThreadMessages.h"
#include "Win32_App/KalvorWardex/ArgumentList.h"
#include "Win32_App/KalvorWardex/Platform.h"
#include "Win32_App/KalvorWardex/Usage.h"
#include "Win32_App/KalvorWardex/Wardex.h"
#include "Win32_App/KalvorWardex/WardexServices.h"

#include <atomic>
#include <cstdio>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    const std::string commandLine =
        Kalvor::joinArguments(std::vector<std::string>(argv + 1, argv + argc));
    if (Kalvor::asksForHelp(commandLine, Kalvor::optionMarkers())) {
        std::fputs(Kalvor::kUsage, stdout);
        return 0;
    }

    Kalvor::ensureMessageQueue();
    Kalvor::SessionSignals signals;
    std::atomic<bool> systemStop{false};
    int exitValue = 0;
    std::string failure;
    {
        Kalvor::Wardex wardex("dummy" + commandLine, Kalvor::makeSystemServices(),
                              Kalvor::optionMarkers());
        if (!wardex.initialise())
            exitValue = -1;
        else
            exitValue = wardex.run(systemStop) ? 0 : 1;
        failure = wardex.failure();
    }
    // After the shutdown sequence, so that this is the last thing the operator sees.
    if (exitValue != 0)
        std::fprintf(stderr, "%s\n", Kalvor::exitMessage(exitValue, failure).c_str());
    return exitValue;
}
