#include "TestSupport.h"

#include "Common/win32/Windows.h"

#include <cstdlib>

namespace Kalvor::Test {

void setEnvironment(const std::string& name, const std::optional<std::string>& value) {
    // An empty value removes the variable on Windows.
    ::_putenv_s(name.c_str(), value ? value->c_str() : "");
}

bool canActAsOtherAccounts() {
    return false;
}

std::string currentExecutablePath() {
    char buffer[MAX_PATH] = {};
    const DWORD length = ::GetModuleFileNameA(nullptr, buffer, sizeof buffer);
    return std::string(buffer, length);
}

} // namespace Kalvor::Test
