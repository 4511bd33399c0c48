// Removing a value under the resource key once a test is done with it. posix tests keep their
// registry in a folder of their own, removed with it; under Wine the registry is shared by every
// test process, so values a test writes must go again.
#pragma once

#include <string>

namespace Kalvor::Test {

void deleteResourceValue(const std::string& name);

} // namespace Kalvor::Test
