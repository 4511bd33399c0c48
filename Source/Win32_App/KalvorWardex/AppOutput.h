// What an application writes on its standard output and error, carried from the pipes of its
// runs into its output file (OutputLog), on the supervisor's main thread.
//
// A run's pipe stays until every process holding it has gone, so that nothing a program or its
// children wrote is cut off; just after a restart the last run's pipe may still be there beside
// the new one. Whatever the pipes hold when this object goes is carried first.
#pragma once

#include "JobInstance/OutputPipe.h"
#include "Logger/OutputLog.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace Kalvor {

class AppOutput {
public:
    explicit AppOutput(const std::string& path);
    ~AppOutput();
    AppOutput(const AppOutput&) = delete;
    AppOutput& operator=(const AppOutput&) = delete;

    const std::string& path() const { return file_->path(); }
    // From now on into this file; what the pipes carry next goes there.
    void moveTo(const std::string& path);

    // The pipe for the next run. Throws JobException when the system cannot make one.
    const OutputPipe& newPipe();
    // The run has its copy of the write end, or could not be started: ours is closed, so that
    // the pipe ends with the run's processes.
    void started();

    // What the wait watches for this application's output.
    void addWaitables(std::vector<intptr_t>& waitables) const;
    // Carries what the reported pipes hold into the file; a pipe that has ended is closed.
    void carry(const std::vector<intptr_t>& reported);
    // A failure of the file that was not told yet; empty otherwise. Told again only after the
    // file was written in between.
    std::string untoldFailure();

private:
    void carryFrom(OutputPipe& pipe, bool& ended);

    std::unique_ptr<OutputLog> file_;
    std::vector<std::unique_ptr<OutputPipe>> pipes_;
    std::string buffer_;
    std::string failure_;
    bool failureTold_ = false;
};

} // namespace Kalvor
