// What the logger tests share: a sandbox that gives each test its own folder, registry values,
// lock and mailslot directories, and puts the process-wide logging settings back afterwards.
#pragma once

#include "TestSupport.h"

#include <cstdint>
#include <string>
#include <vector>

namespace Kalvor::Test {

class LoggerSandbox {
public:
    LoggerSandbox();
    ~LoggerSandbox();
    LoggerSandbox(const LoggerSandbox&) = delete;
    LoggerSandbox& operator=(const LoggerSandbox&) = delete;

    const std::string& folder() const { return folder_.path(); }
    std::string file(const std::string& name) const { return folder_.file(name); }
    // A log file name unique to this test: named locks and the registry are machine-wide under
    // Wine, where the tests of one binary run in parallel processes.
    std::string logPath() const { return file(label_ + ".log"); }
    // The writer label in force; the registry values are named after it.
    const std::string& label() const { return label_; }

    std::string registryValue(const std::string& suffix) const;
    void setRegistryValue(const std::string& suffix, const std::string& text) const;

private:
    TempDir folder_;
    ScopedEnv registry_;
    ScopedEnv locks_;
    ScopedEnv mailslots_;
    std::string label_;
};

std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& bytes);
// The names of the plain files in the folder, sorted.
std::vector<std::string> fileNames(const std::string& folder);
// Lines of a log file without their "\r\n".
std::vector<std::string> logLines(const std::string& path);
uint64_t fileSize(const std::string& path);
void resizeFile(const std::string& path, uint64_t size);

// Platform parts (posix/, win32/).
void deleteResourceValue(const std::string& name);
// Keeps a file from being read for the object's life, though its name is still listed.
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
