// The processes the test program has started and not yet reaped, for the check that no test
// leaves one behind.
#pragma once

#include <cstdint>
#include <vector>

namespace Kalvor::Test {

// Children of the running test program, zombies (posix) included.
std::vector<uint32_t> childProcessIds();

// Ends a left-over child without asking; posix also reaps it.
void killChildProcess(uint32_t processId);

// Undoes becomeChildSubreaper() (ChildReaper.h), so that one test's orphans do not come to the
// tests after it. win32: nothing.
void endChildSubreaper();

// Under Wine the desktop's process is started by the first process that needs a window, and
// joins that process's job, where it keeps the container from ever emptying. win32 has it
// started by the test program itself, as the supervisor does with its own window. posix:
// nothing.
void startDesktopOutsideContainers();

} // namespace Kalvor::Test
