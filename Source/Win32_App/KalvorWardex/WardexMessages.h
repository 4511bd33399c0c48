// Numbers of the Wardex module's catalog messages (LogMessages/wardex.mess), one list for every
// unit of the supervisor that logs them.
#pragma once

#include <cstdint>

namespace Kalvor::WardexMessage {

constexpr int32_t kStarted = 1;
constexpr int32_t kAlreadyRunning = 2;
constexpr int32_t kMissingKey = 3;
constexpr int32_t kCaptureFailed = 5;
constexpr int32_t kStartFailed = 6;
constexpr int32_t kNotRunning = 7;
constexpr int32_t kGivenUp = 8;
constexpr int32_t kNoServer = 9;

} // namespace Kalvor::WardexMessage
