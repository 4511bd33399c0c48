// A registry key that everyone may read and nobody may write while the object lives, as
// HKEY_LOCAL_MACHINE\SOFTWARE is to a standard user; full access again afterwards, so that
// the tests can delete it. Wine enforces a key's access list as Windows does.
#pragma once

#include "Common/win32/Windows.h"

#include <sddl.h>
#include <string>

namespace Kalvor::Test {

class ReadOnlyKey {
public:
    ReadOnlyKey(HKEY root, std::string subKey) : root_(root), subKey_(std::move(subKey)) {
        applied_ = setAccess("D:P(A;;KR;;;WD)");
    }
    ~ReadOnlyKey() { setAccess("D:P(A;;KA;;;WD)"); }
    ReadOnlyKey(const ReadOnlyKey&) = delete;
    ReadOnlyKey& operator=(const ReadOnlyKey&) = delete;

    bool applied() const { return applied_; }

private:
    bool setAccess(const char* sddl) const {
        HKEY key = nullptr;
        if (::RegOpenKeyExA(root_, subKey_.c_str(), 0, WRITE_DAC | READ_CONTROL, &key) !=
            ERROR_SUCCESS)
            return false;
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        bool done = ::ConvertStringSecurityDescriptorToSecurityDescriptorA(
                        sddl, SDDL_REVISION_1, &descriptor, nullptr) &&
                    ::RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, descriptor) ==
                        ERROR_SUCCESS;
        ::LocalFree(descriptor);
        ::RegCloseKey(key);
        return done;
    }

    HKEY root_;
    std::string subKey_;
    bool applied_ = false;
};

} // namespace Kalvor::Test
