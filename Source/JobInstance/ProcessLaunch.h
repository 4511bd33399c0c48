// How an ordinary program is started: ProcessInstance(const ProcessLaunch&).
//
// A container holds a program and everything it starts, so that a stop can reach all of it:
// - posix: a session and process group of its own, led by the program, and the environment
//   variable KALVOR_CONTAINER=<container> in the program's environment, which its descendants
//   inherit; a daemon that leaves the group with setsid is still found by it (among this
//   account's processes);
// - win32: the job object "Local\Kalvor_<container>" (made, or opened when it exists), which
//   every process the program starts joins. It is made without "kill on close", so the programs
//   outlive a supervisor that crashes, and a new supervisor finds them by the name again.
#pragma once

#include <string>

namespace Kalvor {

class OutputPipe;

struct ProcessLaunch {
    // The whole command line, quoted by the Windows rules (CommandLine.h). win32: given to
    // CreateProcessA as it is. posix: split by the same rules; a program name without "/" (or
    // "\") is looked for along PATH, as execvp does; one with a folder is taken relative to the
    // supervisor's current directory, as CreateProcessA does, even with `directory` set.
    std::string commandLine;
    // The program's working directory; empty: the supervisor's. One that does not exist fails
    // the start.
    std::string directory;
    // When set, the program's standard output and error go into this pipe's write end, which
    // must stay open until the program is started. Standard input is then the null device, and
    // on win32 the program gets no console window. Null: the three streams are the supervisor's.
    const OutputPipe* output = nullptr;
    // When not empty, the program is started in the container of this name (see above).
    std::string container;
};

// The variable posix marks a container's processes with, and the prefix of a container's job
// object name on win32.
inline constexpr const char* kContainerVariable = "KALVOR_CONTAINER";
inline constexpr const char* kContainerJobPrefix = "Local\\Kalvor_";

} // namespace Kalvor
