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

} // namespace Kalvor::Test
