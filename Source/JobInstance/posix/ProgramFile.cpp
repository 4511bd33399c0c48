#include "JobInstance/posix/ProgramFile.h"

#include "Common/StringUtils.h"

#include <climits>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace Kalvor {

namespace {

bool isProgram(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
           ::access(path.c_str(), X_OK) == 0;
}

std::string runningProgramDirectory() {
    char buffer[PATH_MAX] = {};
    const ssize_t length = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    const std::string self = length > 0 ? std::string(buffer, static_cast<size_t>(length)) : "";
    const auto slash = self.rfind('/');
    return slash == std::string::npos ? "." : self.substr(0, slash);
}

std::vector<std::string> searchDirectories() {
    std::vector<std::string> directories{runningProgramDirectory(), "."};
    const char* path = std::getenv("PATH");
    std::vector<std::string> entries;
    split(path != nullptr ? path : "", ':', entries);
    for (const std::string& entry : entries)
        directories.push_back(entry.empty() ? "." : entry);
    return directories;
}

} // namespace

std::string findProgramFile(const std::string& name) {
    std::string path = name;
    replaceChar(path, '\\', '/');
    std::vector<std::string> candidates{path};
    const std::size_t size = path.size();
    if (size > 4 && lowerCopy(path.substr(size - 4)) == ".exe")
        candidates.push_back(path.substr(0, size - 4));

    if (path.find('/') != std::string::npos) {
        for (const std::string& candidate : candidates) {
            if (isProgram(candidate))
                return candidate;
        }
        return path;
    }
    for (const std::string& directory : searchDirectories()) {
        for (const std::string& candidate : candidates) {
            const std::string file = directory + "/" + candidate;
            if (isProgram(file))
                return file;
        }
    }
    return path;
}

} // namespace Kalvor
