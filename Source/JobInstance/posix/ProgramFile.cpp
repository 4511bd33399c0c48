#include "JobInstance/posix/ProgramFile.h"

#include "Common/StringUtils.h"
#include "Common/UserFolders.h"

#include <cerrno>
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

std::vector<std::string> searchDirectories() {
    std::vector<std::string> directories{programFolder(), "."};
    const char* path = std::getenv("PATH");
    std::vector<std::string> entries;
    split(path != nullptr ? path : "", ':', entries);
    for (const std::string& entry : entries)
        directories.push_back(entry.empty() ? "." : entry);
    return directories;
}

std::string currentDirectory() {
    std::vector<char> buffer(PATH_MAX);
    while (::getcwd(buffer.data(), buffer.size()) == nullptr) {
        if (errno != ERANGE)
            return ".";
        buffer.resize(buffer.size() * 2);
    }
    return buffer.data();
}

std::string absolute(const std::string& path) {
    return !path.empty() && path[0] == '/' ? path : currentDirectory() + "/" + path;
}

// The name with "\" as a separator too, and the names it may be found under.
std::vector<std::string> candidatesOf(const std::string& name, std::string& path) {
    path = name;
    replaceChar(path, '\\', '/');
    std::vector<std::string> candidates{path};
    const std::size_t size = path.size();
    if (size > 4 && lowerCopy(path.substr(size - 4)) == ".exe")
        candidates.push_back(path.substr(0, size - 4));
    return candidates;
}

} // namespace

std::string findProgramOnPath(const std::string& name) {
    std::string path;
    const std::vector<std::string> candidates = candidatesOf(name, path);
    if (path.find('/') != std::string::npos) {
        for (const std::string& candidate : candidates) {
            if (isProgram(candidate))
                return absolute(candidate);
        }
        return absolute(path);
    }
    std::string searched;
    if (const char* variable = std::getenv("PATH")) {
        searched = variable;
    } else {
        searched.resize(::confstr(_CS_PATH, nullptr, 0));
        ::confstr(_CS_PATH, searched.data(), searched.size());
        searched.resize(searched.empty() ? 0 : searched.size() - 1);
    }
    std::vector<std::string> entries;
    split(searched, ':', entries);
    for (const std::string& entry : entries) {
        for (const std::string& candidate : candidates) {
            const std::string file = (entry.empty() ? "." : entry) + "/" + candidate;
            if (isProgram(file))
                return absolute(file);
        }
    }
    return "";
}

std::string findProgramFile(const std::string& name) {
    std::string path;
    const std::vector<std::string> candidates = candidatesOf(name, path);

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
