// Helpers every test suite shares: a temporary folder, environment overrides and polling.
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>

namespace Kalvor::Test {

// A fresh folder under the system's temporary directory, removed with everything in it.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    // path() joined with a relative name by the platform's separator.
    std::string file(const std::string& name) const;

private:
    std::string path_;
};

// Sets (or with nullopt, removes) an environment variable and restores it on destruction.
class ScopedEnv {
public:
    ScopedEnv(std::string name, std::optional<std::string> value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string name_;
    std::optional<std::string> previous_;
};

void setEnvironment(const std::string& name, const std::optional<std::string>& value);

// The whole file; "" when it cannot be read.
std::string readFile(const std::string& path);
// Makes or empties the file and writes the bytes; false when that fails.
bool writeFile(const std::string& path, const std::string& bytes);
// Whether anything is at the path (a link is followed).
bool fileExists(const std::string& path);

// Full path of the running test program.
std::string currentExecutablePath();

// Full path of a program the project builds, by its name without ".exe". Every executable of
// the build lands in one folder, so it sits beside the running test. A native path on both
// platforms (Windows form under Wine), so it can be started by CreateProcessA as well.
std::string helperProgramPath(const std::string& name);

// Whether this test may run programs of the build as other accounts (setpriv with account
// numbers that need no account): it runs as root, setpriv is there, and the build's programs
// can be reached and run by every account. posix only; false on win32.
bool canActAsOtherAccounts();

// Polls `condition` every few milliseconds until it holds or `timeout` has passed; returns
// whether it held. Tests wait with this, never with a fixed sleep.
bool waitFor(const std::function<bool()>& condition,
             std::chrono::milliseconds timeout = std::chrono::seconds(10));

} // namespace Kalvor::Test
