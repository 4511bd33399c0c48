#include "Installation.h"

#include "Common/win32/Windows.h"

namespace Kalvor::Test {

std::string demoFileName(const std::string& name) {
    return name + ".exe";
}

void deleteRegistryValue(const std::string& key, const std::string& name) {
    HKEY handle = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_SET_VALUE, &handle) != ERROR_SUCCESS)
        return;
    RegDeleteValueA(handle, name.c_str());
    RegCloseKey(handle);
}

} // namespace Kalvor::Test
