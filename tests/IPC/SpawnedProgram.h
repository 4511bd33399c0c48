// A program the project builds, started by a test with its standard output on a pipe; killed
// and reaped on destruction if it still runs, so no test leaves a process behind.
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace Kalvor::Test {

class SpawnedProgram {
public:
    // With `withErrors` standard error goes to the same pipe; otherwise it is inherited.
    SpawnedProgram(const std::string& program, const std::vector<std::string>& arguments,
                   bool withErrors = false);
    ~SpawnedProgram();
    SpawnedProgram(const SpawnedProgram&) = delete;
    SpawnedProgram& operator=(const SpawnedProgram&) = delete;

    bool started() const;
    // The next output line without its line break (CR LF or LF); false when none came in time
    // or the output ended first.
    bool readLine(std::string& line, std::chrono::milliseconds timeout);
    // Everything up to the end of the output, or what came before the time-out.
    std::string readToEnd(std::chrono::milliseconds timeout);
    // The exit value once the program has ended within the time-out.
    std::optional<int> waitForExit(std::chrono::milliseconds timeout);
    // Asks the program to stop as an operator would: SIGINT on posix, Ctrl-Break on win32 (which
    // needs a console). False when it cannot be sent.
    bool interrupt();

    struct Native;

private:
    // Waits up to `milliseconds` for output and appends it; false at the end of the output.
    bool readSome(int milliseconds);
    std::optional<int> exitCode();

    std::unique_ptr<Native> native_;
    std::string pending_;
    bool ended_ = false;
};

} // namespace Kalvor::Test
