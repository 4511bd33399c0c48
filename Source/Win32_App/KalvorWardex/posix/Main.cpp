// The supervisor's entry on posix: the arguments are joined back into the one command line a
// Windows program would get; the session signals stand in for the hidden window.
#include "Win32_App/KalvorWardex/ArgumentList.h"
#include "Win32_App/KalvorWardex/Platform.h"
#include "Win32_App/KalvorWardex/Supervisor.h"
#include "Win32_App/KalvorWardex/Usage.h"

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
    std::string failure;
    const int exitValue = Kalvor::runSupervisor(commandLine, failure);
    // After the shutdown sequence, so that this is the last thing the operator sees.
    if (exitValue != 0)
        std::fprintf(stderr, "%s\n", Kalvor::exitMessage(exitValue, failure).c_str());
    return exitValue;
}
