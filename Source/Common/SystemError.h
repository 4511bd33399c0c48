// The platform's last error number and its text, translated in one place for every backend.
//
// win32: GetLastError() and FormatMessageA; posix: errno and strerror_r. The text has no
// trailing line break.
//
// Portable code decides by a SystemError's condition, never by the platform's numbers: each
// platform maps its own numbers to std::errc here and nowhere else. The native number stays
// with it for detail texts, which show the platform's own number and words.
#pragma once

#include <cstdint>
#include <string>
#include <system_error>

namespace Kalvor {

int32_t lastSystemError();
std::string systemErrorText(int32_t errorNumber);

struct SystemError {
    // std::errc{} when the number has no portable meaning (and for 0, no error).
    std::errc condition{};
    int32_t native = 0;

    std::string text() const { return systemErrorText(native); }

    friend bool operator==(const SystemError& error, std::errc condition) {
        return error.condition == condition;
    }
    friend bool operator!=(const SystemError& error, std::errc condition) {
        return error.condition != condition;
    }
};

// What the platform's error number `native` means.
SystemError systemError(int32_t native);
// The calling thread's last system error; read it before anything else can change it.
SystemError lastSystemErrorValue();

} // namespace Kalvor
