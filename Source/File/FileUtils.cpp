#include "File/FileUtils.h"

namespace Kalvor::FileUtils {

namespace {

std::size_t lastSeparator(const std::string& path) {
    return path.find_last_of("\\/");
}

// Position of the name part's last ".", or npos.
std::size_t extensionDot(const std::string& path) {
    const std::size_t dot = path.rfind('.');
    const std::size_t separator = lastSeparator(path);
    if (dot == std::string::npos || (separator != std::string::npos && dot < separator))
        return std::string::npos;
    return dot;
}

} // namespace

bool isSeparator(char byte) {
    return byte == '\\' || byte == '/';
}

std::string dirPart(const std::string& path) {
    const std::size_t separator = lastSeparator(path);
    return separator == std::string::npos ? std::string() : path.substr(0, separator + 1);
}

std::string namePart(const std::string& path) {
    const std::size_t separator = lastSeparator(path);
    return separator == std::string::npos ? path : path.substr(separator + 1);
}

std::string extensionPart(const std::string& path) {
    const std::size_t dot = extensionDot(path);
    return dot == std::string::npos ? std::string() : path.substr(dot + 1);
}

std::string& withoutExtension(std::string& path) {
    const std::size_t dot = extensionDot(path);
    if (dot != std::string::npos)
        path.erase(dot);
    return path;
}

void ensureTrailingSeparator(std::string& path, char separator) {
    if (path.empty() || !isSeparator(path.back()))
        path.push_back(separator);
}

void normaliseSeparators(std::string& path, char separator) {
    if (path.size() < 2)
        return;
    std::string result(1, path[0]);
    for (std::size_t i = 1; i < path.size(); ++i) {
        if (!isSeparator(path[i])) {
            result.push_back(path[i]);
        } else if (result.size() < 2 || !isSeparator(result.back())) {
            result.push_back(separator);
        }
    }
    path = std::move(result);
}

void stripTrailingSeparators(std::string& path) {
    while (path.size() > 1 && isSeparator(path.back()))
        path.pop_back();
}

bool makeDirectories(const std::string& path) {
    std::string directory = path;
    stripTrailingSeparators(directory);
    if (directory.empty() || FileOps::exists(directory))
        return true;
    std::string parent = dirPart(directory);
    stripTrailingSeparators(parent);
    // A root that does not exist ("\" or "/" on a strange system) has itself as its parent.
    if (parent != directory && !makeDirectories(parent))
        return false;
    // Another process may have made it meanwhile; that is success too.
    return FileOps::createDirectory(directory) || FileOps::exists(directory);
}

bool moveFile(const std::string& source, const std::string& target, bool replace) {
    return FileOps::moveFile(source, target, replace);
}

bool copyFile(const std::string& source, const std::string& target, bool overwrite) {
    return FileOps::copyFile(source, target, overwrite);
}

bool deleteFile(const std::string& path) {
    return FileOps::deleteFile(path);
}

bool fileInfo(const std::string& path, FileOps::FileInformation& info) {
    return FileOps::fileInfo(path, info);
}

} // namespace Kalvor::FileUtils
