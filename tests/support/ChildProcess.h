// A program started by a test. The object owns the process: whatever happens to the test, a
// failed assertion included, a process that still runs is killed and reaped before the object
// is gone (with its process group, when it has one of its own), so no test leaves a process or
// a zombie behind. The environment is inherited, so a Sandbox's folders reach the program.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace Kalvor::Test {

class ChildProcess {
public:
    struct Options {
        // Standard output comes back on a pipe, for readLine() and readToEnd(); with
        // `errorsToOutput` standard error does too.
        bool captureOutput = false;
        bool errorsToOutput = false;
        // Otherwise standard output and error go to these files (made or emptied) when named,
        // and are inherited when not.
        std::string outputFile;
        std::string errorFile;
        // posix: a process group of its own, which the destructor kills whole: the programs the
        // child started and left running go with it.
        bool ownProcessGroup = false;
    };
    // Standard output (and with `withErrors` standard error) on the pipe.
    static Options capturing(bool withErrors = false) {
        Options options;
        options.captureOutput = true;
        options.errorsToOutput = withErrors;
        return options;
    }

    ChildProcess(const std::string& program, const std::vector<std::string>& arguments);
    ChildProcess(const std::string& program, const std::vector<std::string>& arguments,
                 const Options& options);
    ~ChildProcess();
    ChildProcess(ChildProcess&& other) noexcept;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    ChildProcess& operator=(ChildProcess&&) = delete;

    bool started() const;
    uint32_t processId() const;
    // The program's first thread (posix: the process id, as a single-threaded start has).
    uint32_t threadId() const;

    // The exit value once the program has ended (posix: 128 + the signal when one ended it);
    // nullopt while it runs.
    std::optional<int> exitCode();
    std::optional<int> waitForExit(std::chrono::milliseconds timeout = std::chrono::seconds(60));
    // Ends it at once (SIGKILL, TerminateProcess) and reaps it.
    void kill();
    // Asks it to stop as the system asks a program: SIGTERM on posix, WM_CLOSE to its first
    // thread on win32. False when it cannot be asked.
    bool askToClose();
    // Asks it to stop as an operator does: SIGINT on posix. False on win32, where a console
    // event would reach the test as well.
    bool interrupt();

    // The next line of the captured output without its line break (CR LF or LF); false when
    // none came in time or the output ended first.
    bool readLine(std::string& line, std::chrono::milliseconds timeout);
    // The captured output up to its end, or what came before the time-out.
    std::string readToEnd(std::chrono::milliseconds timeout);

private:
    struct Native;
    // Waits up to `milliseconds` for output and appends it to pending_; false at its end.
    bool readSome(int milliseconds);

    std::unique_ptr<Native> native_;
    std::string pending_;
    bool ended_ = false;
};

// `program` run as the account numbered `account` (its group the same number, no supplementary
// groups) through setpriv, with numbers that need no account. Needs root: a test checks
// canActAsOtherAccounts() first. posix only.
ChildProcess startAsAccount(int account, const std::string& program,
                            const std::vector<std::string>& arguments,
                            const ChildProcess::Options& options = {});

} // namespace Kalvor::Test
