#include "ConfTestSupport.h"

#include "File/PathSeparator.h"
#include "Logger/LogCommons.h"
#include "Logger/LogDispatcher.h"
#include "Logger/LogState.h"
#include "Logger/LoggerUnit.h"

#include <fstream>

namespace Kalvor::Test {

bool RecordingMessenger::write(const std::string& wireText) {
    LogRecord record;
    if (!LogRecord::parse(wireText, record))
        return false;
    std::lock_guard<std::mutex> lock(mutex_);
    records_.push_back(record);
    return true;
}

std::vector<LogRecord> RecordingMessenger::records() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return records_;
}

void RecordingMessenger::clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    records_.clear();
}

ReaderFixture::ReaderFixture() : savedDebugLevel_(LogState::debugLevel()) {
    LogState::setDebugLevel(5);
    auto dispatcher = std::make_shared<LogDispatcher>(LogCommons::kWardexApplication, messenger);
    reader = std::make_unique<ConfReader>(
        std::make_shared<LoggerUnit>(dispatcher, LogCommons::kConfigurationModule));
}

ReaderFixture::~ReaderFixture() {
    reader.reset();
    LogState::setDebugLevel(savedDebugLevel_);
}

std::string ReaderFixture::build(const std::string& text) {
    const std::string path = folder.file("test.conf");
    writeTextFile(path, text);
    messenger->clear();
    return reader->buildDOM(path);
}

std::vector<std::string> ReaderFixture::debugTexts() const {
    std::vector<std::string> texts;
    for (const LogRecord& record : messenger->records()) {
        if (record.kind == LogKind::Debug)
            texts.push_back(record.text);
    }
    return texts;
}

std::vector<std::string> ReaderFixture::debugTexts(int32_t level) const {
    std::vector<std::string> texts;
    for (const LogRecord& record : messenger->records()) {
        if (record.kind == LogKind::Debug && record.debugLevel == level)
            texts.push_back(record.text);
    }
    return texts;
}

std::vector<LogRecord> ReaderFixture::catalogEntries() const {
    std::vector<LogRecord> entries;
    for (const LogRecord& record : messenger->records()) {
        if (record.kind == LogKind::Catalog)
            entries.push_back(record);
    }
    return entries;
}

bool ReaderFixture::logged(const std::string& debugText) const {
    for (const std::string& text : debugTexts()) {
        if (text == debugText)
            return true;
    }
    return false;
}

void writeTextFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

std::string platformPath(std::string path) {
    for (char& byte : path) {
        if (byte == '\\')
            byte = kPathSeparator;
    }
    return path;
}

} // namespace Kalvor::Test
