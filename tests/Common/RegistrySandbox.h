// A corner of the registry that one test owns, on either build.
//
// posix: a registry directory of its own (KALVOR_REGISTRY_DIR), removed afterwards.
// win32: the real registry; the sub-key and the resource value names are unique to this
// sandbox, so tests in parallel processes do not meet, and are deleted afterwards under
// HKEY_LOCAL_MACHINE and HKEY_CURRENT_USER.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace Kalvor::Test {

class RegistrySandbox {
public:
    RegistrySandbox();
    ~RegistrySandbox();
    RegistrySandbox(const RegistrySandbox&) = delete;
    RegistrySandbox& operator=(const RegistrySandbox&) = delete;

    // A key below the resource key, not yet created.
    const std::string& subKey() const { return subKey_; }
    // A unique name for a value directly under the resource key.
    std::string resourceName(const std::string& stem);

private:
    struct Storage;
    static std::string uniqueToken();

    std::string token_;
    std::string subKey_;
    std::vector<std::string> resourceNames_;
    std::unique_ptr<Storage> storage_;
};

} // namespace Kalvor::Test
