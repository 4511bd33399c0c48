#include "RegistrySandbox.h"

#include "Common/SystemInfo.h"
#include "Common/win32/Windows.h"

namespace Kalvor::Test {

struct RegistrySandbox::Storage {};

RegistrySandbox::RegistrySandbox()
    : token_(uniqueToken()),
      subKey_(std::string(SystemInfo::kResourceKey) + "\\WardexTest-" + token_),
      storage_(std::make_unique<Storage>()) {}

RegistrySandbox::~RegistrySandbox() {
    for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
        ::RegDeleteTreeA(root, subKey_.c_str());
        HKEY resources = nullptr;
        if (::RegOpenKeyExA(root, SystemInfo::kResourceKey, 0, KEY_SET_VALUE, &resources) !=
            ERROR_SUCCESS)
            continue;
        for (const std::string& name : resourceNames_)
            ::RegDeleteValueA(resources, name.c_str());
        ::RegCloseKey(resources);
    }
}

} // namespace Kalvor::Test
