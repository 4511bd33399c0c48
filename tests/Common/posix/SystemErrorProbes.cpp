#include "SystemErrorProbes.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Kalvor::Test {

namespace {

Provoked whatFailed() {
    const int32_t native = errno;
    return {native, lastSystemErrorValue()};
}

} // namespace

Provoked openMissingFile(const std::string& path) {
    if (::open(path.c_str(), O_RDONLY | O_CLOEXEC) >= 0)
        return {};
    return whatFailed();
}

Provoked createExistingFile(const std::string& path) {
    if (::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644) >= 0)
        return {};
    return whatFailed();
}

Provoked createExistingFolder(const std::string& path) {
    if (::mkdir(path.c_str(), 0755) == 0)
        return {};
    return whatFailed();
}

// Root passes every read and write check, but not an execute check on a file without any
// execute bit.
Provoked refuseAccess(const std::string& file) {
    if (::chmod(file.c_str(), 0644) != 0 || ::access(file.c_str(), X_OK) == 0)
        return {};
    return whatFailed();
}

Provoked closeInvalidHandle() {
    if (::close(-1) == 0)
        return {};
    return whatFailed();
}

} // namespace Kalvor::Test
