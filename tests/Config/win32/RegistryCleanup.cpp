#include "RegistryCleanup.h"

#include "Common/SystemInfo.h"
#include "Common/win32/Windows.h"

namespace Kalvor::Test {

void deleteResourceValue(const std::string& name) {
    HKEY key = nullptr;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, SystemInfo::kResourceKey, 0, KEY_SET_VALUE, &key) !=
        ERROR_SUCCESS)
        return;
    ::RegDeleteValueA(key, name.c_str());
    ::RegCloseKey(key);
}

} // namespace Kalvor::Test
