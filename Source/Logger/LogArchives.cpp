#include "Logger/LogArchives.h"

#include "File/FileOps.h"
#include "File/FileUtils.h"

#include <algorithm>
#include <climits>
#include <regex>

namespace Kalvor::LogArchives {

std::string archivePath(const std::string& path, const DateTime& time, int32_t counter) {
    std::string base = path;
    FileUtils::withoutExtension(base);
    const std::string extension = FileUtils::extensionPart(path);
    return base + "_" + time.text(TextForm::Basic) + "_" + std::to_string(counter) +
           (extension.empty() ? "" : "." + extension);
}

int32_t nextCounter(int32_t counter) {
    return counter == INT32_MAX ? 0 : counter + 1;
}

int32_t freeCounter(const std::string& path, const DateTime& time, int32_t first) {
    int32_t counter = first;
    for (int32_t tried = 1; tried < kNameTries && FileOps::exists(archivePath(path, time, counter));
         ++tried)
        counter = nextCounter(counter);
    return counter;
}

std::vector<Archive> archivesOf(const std::string& path) {
    std::string base = FileUtils::namePart(path);
    FileUtils::withoutExtension(base);
    const std::string extension = FileUtils::extensionPart(path);
    const std::string suffix = extension.empty() ? "" : "." + extension;
    static const std::regex stamp("(\\d{8}T\\d{6}Z)_(\\d{1,10})");
    const std::size_t inner = base.size() + 1;
    std::vector<Archive> archives;
    for (const FileOps::DirectoryEntry& entry :
         FileOps::listDirectory(FileUtils::dirPart(path), base + "_*" + suffix)) {
        std::smatch match;
        const std::string middle =
            entry.name.size() > inner + suffix.size()
                ? entry.name.substr(inner, entry.name.size() - inner - suffix.size())
                : std::string();
        if (entry.isFile && std::regex_match(middle, match, stamp))
            archives.push_back({match[1], std::stoll(match[2]), entry.name});
    }
    return archives;
}

void deleteOldArchives(const std::string& path, int32_t kept) {
    if (kept <= 0)
        return;
    std::vector<Archive> archives = archivesOf(path);
    if (archives.size() <= static_cast<std::size_t>(kept))
        return;
    std::sort(archives.begin(), archives.end());
    const std::string folder = FileUtils::dirPart(path);
    for (std::size_t index = 0; index + kept < archives.size(); ++index)
        FileOps::deleteFile(folder + archives[index].name);
}

} // namespace Kalvor::LogArchives
