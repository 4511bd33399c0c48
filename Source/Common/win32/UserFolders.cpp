#include "Common/UserFolders.h"

#include "Common/win32/Windows.h"

#include <vector>

namespace Kalvor {

std::optional<std::string> environmentValue(const std::string& name) {
    std::vector<char> buffer(256);
    for (;;) {
        ::SetLastError(ERROR_SUCCESS);
        const DWORD length =
            ::GetEnvironmentVariableA(name.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0)
            return ::GetLastError() == ERROR_ENVVAR_NOT_FOUND ? std::nullopt
                                                              : std::optional<std::string>("");
        if (length < buffer.size())
            return std::string(buffer.data(), length);
        buffer.resize(length);
    }
}

std::string homeFolder() {
    return environmentValue("USERPROFILE").value_or("");
}

std::string accountStateFolder() {
    return environmentValue("LOCALAPPDATA").value_or("");
}

std::string defaultLogFolder() {
    const std::string state = accountStateFolder();
    return state.empty() ? std::string() : state + "\\Kalvor\\log\\";
}

std::string programFolder() {
    std::vector<char> buffer(MAX_PATH);
    for (;;) {
        const DWORD length =
            ::GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0)
            return ".";
        if (length < buffer.size()) {
            const std::string self(buffer.data(), length);
            const auto separator = self.find_last_of("\\/");
            return separator == std::string::npos ? "." : self.substr(0, separator);
        }
        buffer.resize(buffer.size() * 2);
    }
}

} // namespace Kalvor
