// The calling process's number, for telling processes apart (never for addressing one).
#pragma once

#include <cstdint>

namespace Kalvor {

uint32_t currentProcessId();

} // namespace Kalvor
