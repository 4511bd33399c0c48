// The platform's last error number and its text, translated in one place for every backend.
//
// win32: GetLastError() and FormatMessageA; posix: errno and strerror_r. The text has no
// trailing line break.
#pragma once

#include <cstdint>
#include <string>

namespace Kalvor {

int32_t lastSystemError();
std::string systemErrorText(int32_t errorNumber);

} // namespace Kalvor
