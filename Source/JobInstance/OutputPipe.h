// The pipe a program's standard output and error go through to the supervisor, which reads it
// when its wait reports the pipe and never blocks on it.
//
// The write end is handed to the program (ProcessLaunch::output) and closed here as soon as the
// program has its copy, so that the pipe ends when the last process holding it has gone: the
// program and whatever it started with the same streams.
//
// posix: a pipe whose read end does not block; the waitable is the read end, which poll reports
// when bytes or the end are there. win32: a named pipe ("\\.\pipe\Kalvor_output_<pid>_<n>", one
// instance, this account only) read with overlapped reads; the waitable is the read's event,
// set when one completes. Anonymous pipes cannot be waited on there.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace Kalvor {

class OutputPipe {
public:
    // Throws JobException JB_UNKNOWN_ERROR when the system cannot make the pipe.
    OutputPipe();
    ~OutputPipe();
    OutputPipe(const OutputPipe&) = delete;
    OutputPipe& operator=(const OutputPipe&) = delete;

    // For the program's standard output and error (posix: a descriptor; win32: a HANDLE that a
    // process may inherit); -1 once closed.
    intptr_t writeEnd() const;
    void closeWriteEnd();

    // For WaitSet::watch(): reported when read() has something to do.
    intptr_t waitable() const;
    // Appends what the pipe holds now, at most `limit` bytes, without waiting. False once every
    // writer has closed its end and everything was read: the pipe has ended.
    bool read(std::string& bytes, std::size_t limit);

private:
    struct Native;
    std::unique_ptr<Native> native_;
};

} // namespace Kalvor
