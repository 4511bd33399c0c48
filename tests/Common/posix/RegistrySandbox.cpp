#include "RegistrySandbox.h"

#include "Common/SystemInfo.h"

#include "TestSupport.h"

namespace Kalvor::Test {

struct RegistrySandbox::Storage {
    TempDir directory;
    ScopedEnv registryDir{"KALVOR_REGISTRY_DIR", directory.path()};
};

RegistrySandbox::RegistrySandbox()
    : token_(uniqueToken()),
      subKey_(std::string(SystemInfo::kResourceKey) + "\\WardexTest-" + token_),
      storage_(std::make_unique<Storage>()) {}

RegistrySandbox::~RegistrySandbox() = default;

} // namespace Kalvor::Test
