#include "HelperPlatform.h"

#include <climits>
#include <unistd.h>

namespace Kalvor::Test {

uint32_t ownProcessId() {
    return static_cast<uint32_t>(::getpid());
}

std::string ownProgramPath() {
    char buffer[PATH_MAX] = {};
    const ssize_t length = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    return length > 0 ? std::string(buffer, static_cast<std::size_t>(length)) : "";
}

void leaveSession() {
    ::setsid();
}

int runWindow(const std::string& /*ready*/, uint32_t /*lifetimeMs*/) {
    return -1;
}

} // namespace Kalvor::Test
