// A helper program started for one test. The object owns the process: whatever happens to the
// test, the process is killed if still running and reaped before the object is gone.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace Kalvor::Test {

class ChildProcess {
public:
    ChildProcess(const std::string& program, const std::vector<std::string>& arguments);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool started() const;
    // Does not wait; once true, exitCode() is valid.
    bool hasExited();
    int exitCode() const;
    // SIGKILL / TerminateProcess, then reaped.
    void kill();

private:
    struct Native;
    std::unique_ptr<Native> native_;
};

} // namespace Kalvor::Test
