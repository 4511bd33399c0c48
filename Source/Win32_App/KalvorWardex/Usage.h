// What `wardex` prints for the operator: its --help text, and the one line it leaves on
// standard error when it ends with -1 or 1.
#pragma once

#include "Win32_App/KalvorWardex/ArgumentList.h"

#include <string>

namespace Kalvor {

inline constexpr const char* kUsage =
    "Usage: wardex [-c FILE]\n"
    "Keeps the Kalvor applications listed in the configuration running for this user.\n"
    "\n"
    "  -c FILE   read the first configuration from FILE instead of\n"
    "            <ConfigurationDir>wardex.conf (later reconfigurations use the latter)\n"
    "  --help    print this text and exit\n"
    "\n"
    "It stops on a \"DIE\" message, when the registry value WardexMarker is missing or 2,\n"
    "and at the end of the session. Exit value: 0 after a normal stop, 1 when its IPC\n"
    "server could not be created, -1 (255) when it could not start.\n";

// "--help", "-h" or (win32) "/?" anywhere on the command line.
inline bool asksForHelp(const std::string& commandLine, const std::string& markers) {
    for (const Argument& argument : splitArguments(commandLine, "", markers))
        if (argument.option == "help" || argument.option == "h" || argument.option == "?")
            return true;
    return false;
}

// "wardex: could not start: <why>" for -1, "wardex: stopped: <why>" for 1.
inline std::string exitMessage(int exitValue, const std::string& failure) {
    return std::string("wardex: ") + (exitValue == 1 ? "stopped: " : "could not start: ") +
           (failure.empty() ? "see its log file" : failure);
}

} // namespace Kalvor
