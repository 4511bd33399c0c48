// The operating system's side of a thread job, one backend per platform. Private to the
// library: ThreadInstance holds the rules, this only makes the calls.
#pragma once

#include "JobInstance/NativeResult.h"

#include <cstdint>
#include <memory>

namespace Kalvor {

class NativeThread {
public:
    using Routine = uint32_t (*)(void* parameter);

    NativeThread();
    // Releases the thread without ending it.
    ~NativeThread();
    NativeThread(const NativeThread&) = delete;
    NativeThread& operator=(const NativeThread&) = delete;

    NativeResult start(Routine routine, void* parameter);
    // As GetExitCodeThread: kStillActive while the thread runs (and after a routine that
    // returned kStillActive).
    ExitReading readExitCode() const;
    // Whether the thread has ended, whatever its exit code (win32: its handle is signalled).
    bool hasEnded() const;
    // Waits up to `milliseconds` for the thread to end; true when it has.
    bool waitForEnd(uint32_t milliseconds) const;
    // As SuspendThread / ResumeThread: the previous suspend count in `previous`.
    NativeResult suspend(int32_t& previous);
    NativeResult resume(int32_t& previous);
    // Ends a thread that is still in its routine. One that has left its routine is never
    // forced, since its exit path may hold the system's locks: it is waited for, a little.
    NativeResult forceEnd(int32_t exitCode);

    uint32_t threadId() const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

} // namespace Kalvor
