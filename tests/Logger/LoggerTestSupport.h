// What the logger tests share: a sandbox that also gives each test a writer label of its own
// (so its log file and the registry values the writer keeps are its alone) and puts the
// process-wide logging settings back afterwards.
#pragma once

#include "Sandbox.h"

#include <cstdint>
#include <string>
#include <vector>

namespace Kalvor::Test {

class LoggerSandbox : public Sandbox {
public:
    LoggerSandbox();
    ~LoggerSandbox();

    // A log file name unique to this test: named locks and the registry are machine-wide under
    // Wine, where the tests of one binary run in parallel processes.
    std::string logPath() const { return file(writerLabel_ + ".log"); }
    // The writer label in force; the registry values are named after it.
    const std::string& writerLabel() const { return writerLabel_; }

    std::string registryValue(const std::string& suffix) const;
    void setRegistryValue(const std::string& suffix, const std::string& text) const;

private:
    std::string writerLabel_;
};

// The names of the plain files in the folder, sorted.
std::vector<std::string> fileNames(const std::string& folder);
// Lines of a log file without their "\r\n".
std::vector<std::string> logLines(const std::string& path);
uint64_t fileSize(const std::string& path);
void resizeFile(const std::string& path, uint64_t size);

// Keeps a file from being read for the object's life, though its name is still listed
// (platform part: posix/, win32/).
class UnreadableFile {
public:
    explicit UnreadableFile(const std::string& path);
    ~UnreadableFile();
    UnreadableFile(const UnreadableFile&) = delete;
    UnreadableFile& operator=(const UnreadableFile&) = delete;

private:
    std::string path_;
    void* handle_ = nullptr;
};

} // namespace Kalvor::Test
