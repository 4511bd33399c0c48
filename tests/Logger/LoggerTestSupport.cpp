#include "LoggerTestSupport.h"

#include "Common/SystemInfo.h"
#include "Logger/LogRecord.h"
#include "Logger/LogRotation.h"
#include "Logger/LogState.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace Kalvor::Test {
namespace {

void resetLoggingSettings() {
    LogRotation::setScheme(LogRotation::kNone);
    LogRotation::setPeriod(TimeSpan(0));
    LogRotation::setSizeLimit(LogRotation::kDefaultSizeLimit);
    LogRotation::setInitRotationPending(true);
    LogRotation::setWriterLabel("core");
    LogState::setMinimumSeverity(kNotice);
    LogState::setDebugLevel(5);
    LogState::setTimeMode(kTimeLocal);
    LogState::setThreadNumbers(false);
    LogState::registerCatalog(nullptr);
}

} // namespace

LoggerSandbox::LoggerSandbox() : writerLabel_(uniqueName("LogTest")) {
    resetLoggingSettings();
    LogRotation::setWriterLabel(writerLabel_);
    // Named by the writer after its label.
    deleteAfterwards(writerLabel_ + "LogOpened");
    deleteAfterwards(writerLabel_ + "LogCounter");
}

LoggerSandbox::~LoggerSandbox() {
    resetLoggingSettings();
}

std::string LoggerSandbox::registryValue(const std::string& suffix) const {
    std::string text;
    return SystemInfo::readResourceString(writerLabel_ + suffix, text) == SI_OK ? text
                                                                                : "<missing>";
}

void LoggerSandbox::setRegistryValue(const std::string& suffix, const std::string& text) const {
    SystemInfo::writeResourceString(writerLabel_ + suffix, text);
}

std::vector<std::string> fileNames(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        if (entry.is_regular_file())
            names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::string> logLines(const std::string& path) {
    const std::string text = readFile(path);
    std::vector<std::string> lines;
    std::size_t begin = 0;
    for (std::size_t end; (end = text.find("\r\n", begin)) != std::string::npos; begin = end + 2)
        lines.push_back(text.substr(begin, end - begin));
    if (begin < text.size())
        lines.push_back(text.substr(begin));
    return lines;
}

uint64_t fileSize(const std::string& path) {
    return fs::file_size(path);
}

void resizeFile(const std::string& path, uint64_t size) {
    fs::resize_file(path, size);
}

} // namespace Kalvor::Test
