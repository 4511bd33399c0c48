// What the configuration tests share: a reader whose log entries are kept for inspection, and a
// folder for its files.
#pragma once

#include "Config/ConfReader.h"
#include "Logger/LogMessenger.h"
#include "Logger/LogRecord.h"
#include "TestSupport.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace Kalvor::Test {

// Keeps the parsed entries instead of writing them.
class RecordingMessenger : public LogMessenger {
public:
    bool write(const std::string& wireText) override;
    std::vector<LogRecord> records() const;
    void clear();

private:
    mutable std::mutex mutex_;
    std::vector<LogRecord> records_;
};

// One reader, built from text written to a file of the fixture's folder, with every debug level
// logged. The process-wide debug level is put back afterwards.
class ReaderFixture {
public:
    ReaderFixture();
    ~ReaderFixture();

    // Writes the text to "test.conf" and builds the reader from it; the log is cleared first.
    // What buildDOM() says went wrong; empty when it read the text whole.
    std::string build(const std::string& text);

    // The debug texts logged since the last build (or clearLog()), in order.
    std::vector<std::string> debugTexts() const;
    // Debug texts of exactly this level.
    std::vector<std::string> debugTexts(int32_t level) const;
    std::vector<LogRecord> catalogEntries() const;
    bool logged(const std::string& debugText) const;
    void clearLog() { messenger->clear(); }

    TempDir folder;
    std::shared_ptr<RecordingMessenger> messenger = std::make_shared<RecordingMessenger>();
    std::unique_ptr<ConfReader> reader;

private:
    int32_t savedDebugLevel_;
};

void writeTextFile(const std::string& path, const std::string& bytes);

// The path text with every "\" written as the platform's separator.
std::string platformPath(std::string path);

} // namespace Kalvor::Test
