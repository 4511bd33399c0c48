#include "RegistryCleanup.h"

namespace Kalvor::Test {

void deleteResourceValue(const std::string&) {}

} // namespace Kalvor::Test
