// The common base of the jobs: something the program starts or attaches to, and can later query
// and stop.
//
// Status codes are small integers shared by every job (JobStatus). A job's exit code reads
// kStillActive (259) while it runs, so a job that ends with 259 reads as running, as on Windows.
// Failures of the operations are thrown as JobException.
#pragma once

#include <cstdint>

namespace Kalvor {

enum JobStatus : int32_t {
    JobFinished = 11,    // the job has ended
    JobKilled = 12,      // this job forced it to end
    JobClosed = 13,      // it ended within the grace time after being asked to close
    JobNotStarted = 14,  // never started, or its handle is invalid
    JobRunning = 17,     // its exit code reads kStillActive
    JobEndFailed = 18,   // thread jobs, set on destruction: the forced end failed
    JobLeftRunning = 19, // thread jobs, set on destruction without stopWhenDestroyed
    JobUnreadable = 20,  // thread jobs, set on destruction: the exit code could not be read
    JobUnknown = 24      // attached, but the exit code could not be read for another reason
};

inline constexpr int32_t kStillActive = 259;

// How a job's process ended, as far as the platform tells: an exit code, or on posix the signal
// that ended it. Not known while it runs, nor for an attached process whose code is lost.
struct ExitStatus {
    bool known = false;
    int32_t code = 0;
    int32_t signal = 0; // posix only; 0 when it exited
};

class JobInstance {
public:
    JobInstance() = default;
    JobInstance(const JobInstance&) = delete;
    JobInstance& operator=(const JobInstance&) = delete;

    virtual void execute() = 0;
    // Only thread jobs suspend and resume; the others return 0.
    virtual int32_t suspend() { return 0; }
    virtual int32_t resume() { return 0; }
    // A polite stop with a grace time of 1000 ms, then a forced one.
    virtual void stop() = 0;
    virtual int32_t status() = 0;
    // Stores the exit code in `out` unless the job still runs (out is then left alone) and
    // returns 0; when the code cannot be read: 14 for a job without a valid handle, otherwise
    // the system error number plus 1000.
    virtual int32_t exitCode(int32_t& out) = 0;
    // The process the job runs or watches, and its main thread; 0 for jobs that are no process.
    virtual uint32_t processId() const { return 0; }
    virtual uint32_t threadId() const { return 0; }
    // What a WaitSet waits on for the job's end (posix: a pidfd; win32: a process handle);
    // kNoWaitable when there is none. Owned by the job.
    virtual intptr_t waitable() const { return kNoWaitable; }
    static constexpr intptr_t kNoWaitable = -1;
    // How it ended; jobs that are no process never know.
    virtual ExitStatus exitStatus() { return {}; }
    // The container of a process job (its process group or job object, ProcessLaunch.h): asked
    // to close (posix SIGTERM to the group, win32 WM_CLOSE to its windows), and ended with all
    // it holds; a process without a container is asked or ended alone. Jobs that are no
    // process: false / nothing.
    virtual bool askContainerToClose() { return false; }
    virtual void killContainer() {}
    // An operator's signal (ContainerSignal.h) to the container: posix, the signal to its
    // process group (to the process alone when it leads none); win32, kCloseSignal asks to close
    // and kKillSignal ends it all. False when it could not be sent.
    virtual bool signalContainer(int32_t /*signal*/) { return false; }
    virtual ~JobInstance() = default;

    bool stopWhenDestroyed() const { return stopWhenDestroyed_; }
    void setStopWhenDestroyed(bool stop) { stopWhenDestroyed_ = stop; }

protected:
    bool stopWhenDestroyed_ = false;
};

} // namespace Kalvor
