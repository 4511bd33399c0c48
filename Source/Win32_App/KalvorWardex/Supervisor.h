// The supervisor's life from a command line to its exit value, the same for both entry points:
// made, connected to the session's stop sources (SessionSignals.h), initialised, run until a stop,
// and shut down while those sources still reach it.
#pragma once

#include <string>

namespace Kalvor {

// 0 after a normal stop, 1 when the IPC server could not be made, -1 when initialisation failed;
// `failure` then says why, in one line for the operator.
int runSupervisor(const std::string& commandLine, std::string& failure);

} // namespace Kalvor
