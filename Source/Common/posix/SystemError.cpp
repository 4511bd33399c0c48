#include "Common/SystemError.h"

#include <cerrno>
#include <cstring>

namespace Kalvor {

namespace {
// strerror_r comes in two flavours; overloads pick whichever the C library declares.
[[maybe_unused]] const char* chooseText(int result, const char* buffer) {
    return result == 0 ? buffer : "Unknown error";
}
[[maybe_unused]] const char* chooseText(const char* result, const char*) { return result; }
} // namespace

int32_t lastSystemError() { return errno; }

// errno values are the generic conditions themselves.
SystemError systemError(int32_t native) {
    return {static_cast<std::errc>(native), native};
}

SystemError lastSystemErrorValue() {
    return systemError(errno);
}

std::string systemErrorText(int32_t errorNumber) {
    char buffer[256] = {};
    return chooseText(::strerror_r(errorNumber, buffer, sizeof buffer), buffer);
}

} // namespace Kalvor
