#include "Sandbox.h"
#include "TestSupport.h"

#include <cstdlib>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Kalvor::Test {

void setEnvironment(const std::string& name, const std::optional<std::string>& value) {
    if (value)
        ::setenv(name.c_str(), value->c_str(), 1);
    else
        ::unsetenv(name.c_str());
}

bool canActAsOtherAccounts() {
    if (::geteuid() != 0 || ::access("/usr/bin/setpriv", X_OK) != 0)
        return false;
    // Every folder down to the build's programs must let others through (a checkout in /root
    // would not).
    std::string path = currentExecutablePath();
    while (!path.empty()) {
        struct stat status {};
        if (::stat(path.c_str(), &status) != 0 || (status.st_mode & S_IXOTH) == 0)
            return false;
        const std::size_t slash = path.find_last_of('/');
        path = slash == std::string::npos || slash == 0 ? "" : path.substr(0, slash);
    }
    return true;
}

void Sandbox::makeSharedFolder(const std::string& path) {
    ::mkdir(path.c_str(), 01777);
    ::chmod(path.c_str(), 01777); // whatever the umask
}

// The registry is the sandbox's folder, which goes with it.
void Sandbox::removeRegistryNames(const std::string&, const std::vector<std::string>&) {}

std::string currentExecutablePath() {
    char buffer[PATH_MAX] = {};
    const ssize_t length = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    return length > 0 ? std::string(buffer, static_cast<std::size_t>(length)) : std::string();
}

} // namespace Kalvor::Test
