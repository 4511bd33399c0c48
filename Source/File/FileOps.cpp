#include "File/FileOps.h"

#include "File/FileOpsBackend.h"
#include "File/FileUtils.h"

#include <atomic>

namespace Kalvor::FileOps {

namespace {
std::atomic<int32_t> moveError{0};
} // namespace

bool moveFile(const std::string& source, const std::string& target, bool replace) {
    const int32_t error = Backend::move(source, target, replace);
    moveError.store(error);
    return error == 0;
}

int32_t lastMoveError() {
    return moveError.load();
}

std::vector<DirectoryEntry> listDirectory(const std::string& directory,
                                          const std::string& pattern) {
    std::string searchPath = directory;
    if (!searchPath.empty())
        FileUtils::ensureTrailingSeparator(searchPath);
    return Backend::find(searchPath + pattern);
}

bool exists(const std::string& path) {
    std::string name = path;
    FileUtils::stripTrailingSeparators(name);
    if (name.empty())
        return false;
    if (name.back() == ':')
        return Backend::driveExists(name);
    FileInformation info;
    return fileInfo(name, info);
}

bool fileInfo(const std::string& path, FileInformation& info) {
    info = FileInformation();
    info.exists = Backend::lookUp(path, info);
    return info.exists;
}

} // namespace Kalvor::FileOps
