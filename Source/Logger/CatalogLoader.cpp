// loadCatalogs (LogCommons.h): the file side of the message catalogs.
#include "Common/Exception.h"
#include "Common/StringUtils.h"
#include "File/FileOps.h"
#include "File/FilePlain.h"
#include "File/FileUtils.h"
#include "Logger/LogCommons.h"

#include <new>

namespace Kalvor {
namespace {

constexpr const char* kCatalogFolder = "LogMessages";
constexpr const char* kCatalogPattern = "*.mess";

bool isSelected(const std::string& selection, const std::string& key) {
    return selection == "all" || selection.find(lowerCopy(key)) != std::string::npos;
}

// Reads one catalog into `messages`; returns the number of lines stored. Throws the file
// layer's exceptions.
int32_t readCatalog(const std::string& path, int32_t module, MessageCatalog& messages) {
    FilePlain file(path);
    file.open(FileBase::kRead);
    int32_t stored = 0;
    std::string line;
    while (file.readLine(line)) {
        int32_t number = 0;
        std::string text;
        if (LogCommons::parseCatalogLine(line, number, text)) {
            messages.set(module, number, text);
            ++stored;
        }
    }
    file.close();
    return stored;
}

} // namespace

CatalogLoadReport loadCatalogs(MessageCatalog& catalog, const std::string& baseDirectory,
                               const std::string& selection) {
    CatalogLoadReport report;
    try {
        // An empty base is the current directory, not the root.
        std::string directory = baseDirectory;
        if (!directory.empty())
            FileUtils::ensureTrailingSeparator(directory);
        directory += kCatalogFolder;
        FileUtils::ensureTrailingSeparator(directory);
        for (const FileOps::DirectoryEntry& entry :
             FileOps::listDirectory(directory, kCatalogPattern)) {
            if (!entry.isFile)
                continue;
            std::string key = FileUtils::namePart(entry.name);
            FileUtils::withoutExtension(key);
            const int32_t module = LogCommons::moduleNumber(key);
            if (module == LogCommons::kUnknownNumber || !isSelected(selection, key)) {
                report.rejected.push_back(key);
                report.rejectionReasons.emplace_back();
                continue;
            }
            // Read into a catalog of its own first: a file that fails half-way loads nothing.
            MessageCatalog messages;
            try {
                // The listed name, not the key: its case is the one on disk.
                const int32_t stored = readCatalog(directory + entry.name, module, messages);
                catalog.merge(messages);
                report.accepted.push_back(key);
                report.counts.push_back(stored);
            } catch (const Exception& failure) {
                report.rejected.push_back(key);
                report.rejectionReasons.push_back(failure.report());
            }
        }
        report.success = true;
    } catch (const std::bad_alloc&) {
        report.success = false;
        report.error = "OUT OF MEMORY";
    }
    return report;
}

} // namespace Kalvor
