#include "Common/SystemError.h"

#include "Common/win32/Windows.h"

namespace Kalvor {

int32_t lastSystemError() { return static_cast<int32_t>(::GetLastError()); }

std::string systemErrorText(int32_t errorNumber) {
    char buffer[512] = {};
    const DWORD length =
        ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                         static_cast<DWORD>(errorNumber), 0, buffer, sizeof buffer, nullptr);
    std::string text(buffer, length);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
        text.pop_back();
    return text.empty() ? "Unknown error " + std::to_string(errorNumber) : text;
}

} // namespace Kalvor
