#include "Sandbox.h"
#include "TestSupport.h"

#include "Common/SystemInfo.h"

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

void Sandbox::makeSharedFolder(const std::string& path) {
    ::CreateDirectoryA(path.c_str(), nullptr);
}

void Sandbox::removeRegistryNames(const std::string& subKey,
                                  const std::vector<std::string>& valueNames) {
    for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
        if (!subKey.empty())
            ::RegDeleteTreeA(root, subKey.c_str());
        HKEY resources = nullptr;
        if (::RegOpenKeyExA(root, SystemInfo::kResourceKey, 0, KEY_SET_VALUE, &resources) !=
            ERROR_SUCCESS)
            continue;
        for (const std::string& name : valueNames)
            ::RegDeleteValueA(resources, name.c_str());
        ::RegCloseKey(resources);
    }
}

std::string currentExecutablePath() {
    char buffer[MAX_PATH] = {};
    const DWORD length = ::GetModuleFileNameA(nullptr, buffer, sizeof buffer);
    return std::string(buffer, length);
}

} // namespace Kalvor::Test
