#include "TestSupport.h"

#include <cstdlib>
#include <limits.h>
#include <unistd.h>

namespace Kalvor::Test {

void setEnvironment(const std::string& name, const std::optional<std::string>& value) {
    if (value)
        ::setenv(name.c_str(), value->c_str(), 1);
    else
        ::unsetenv(name.c_str());
}

std::string currentExecutablePath() {
    char buffer[PATH_MAX] = {};
    const ssize_t length = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    return length > 0 ? std::string(buffer, static_cast<std::size_t>(length)) : std::string();
}

} // namespace Kalvor::Test
