#include "JobInstance/NativeThread.h"

#include "JobInstance/JobInstance.h"
#include "JobInstance/posix/MessageQueues.h"
#include "JobInstance/posix/SafePoint.h"

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <pthread.h>
#include <unistd.h>

namespace Kalvor {

namespace {

// A forced end waits this long for the thread to reach a safe point before leaving it detached.
constexpr std::chrono::milliseconds kSafePointWait(2000);

// Shared by the job and its thread, so that either may go first.
struct Control {
    NativeThread::Routine routine = nullptr;
    void* parameter = nullptr;

    std::mutex mutex;
    std::condition_variable changed;
    uint32_t threadId = 0;
    bool leftRoutine = false; // from then on it ends by itself and is never forced
    bool finished = false;
    int32_t exitCode = 0;
    int32_t suspendCount = 0;
    bool endRequested = false;
    int32_t endCode = 0;
};

// Thrown at a safe point to unwind a thread whose end was requested; not a std::exception, so
// that handlers for those let it pass.
struct EndRequest {};

thread_local Control* currentControl = nullptr;

void* runRoutine(void* raw) {
    std::shared_ptr<Control> control = std::move(*static_cast<std::shared_ptr<Control>*>(raw));
    delete static_cast<std::shared_ptr<Control>*>(raw);
    {
        std::lock_guard<std::mutex> lock(control->mutex);
        control->threadId = static_cast<uint32_t>(::gettid());
    }
    control->changed.notify_all();

    currentControl = control.get();
    uint32_t code = 0;
    try {
        code = control->routine(control->parameter);
    } catch (const EndRequest&) {
        // Ended by its job; the job has set the exit code.
    }
    {
        std::lock_guard<std::mutex> lock(control->mutex);
        control->leftRoutine = true;
        control->exitCode = static_cast<int32_t>(code);
    }
    currentControl = nullptr;
    dropMessageQueue();
    {
        std::lock_guard<std::mutex> lock(control->mutex);
        control->finished = true;
    }
    control->changed.notify_all();
    return nullptr;
}

} // namespace

void threadSafePoint() {
    Control* const control = currentControl;
    if (control == nullptr || std::uncaught_exceptions() > 0)
        return;
    std::unique_lock<std::mutex> lock(control->mutex);
    control->changed.wait(
        lock, [control] { return control->suspendCount == 0 || control->endRequested; });
    if (control->endRequested)
        throw EndRequest{};
}

struct NativeThread::State {
    std::shared_ptr<Control> control;
    pthread_t thread{};
    bool joinable = false;

    // Joins a thread that has finished; one that still runs is left to end by itself.
    void release() {
        if (!joinable)
            return;
        bool finished = false;
        {
            std::lock_guard<std::mutex> lock(control->mutex);
            finished = control->finished;
        }
        if (finished)
            ::pthread_join(thread, nullptr);
        else
            ::pthread_detach(thread);
        joinable = false;
    }

    ~State() { release(); }
};

NativeThread::NativeThread() : state_(std::make_unique<State>()) {}

NativeThread::~NativeThread() = default;

NativeResult NativeThread::start(Routine routine, void* parameter) {
    auto control = std::make_shared<Control>();
    control->routine = routine;
    control->parameter = parameter;
    auto* handOver = new std::shared_ptr<Control>(control);
    pthread_t thread{};
    const int error = ::pthread_create(&thread, nullptr, runRoutine, handOver);
    if (error != 0) {
        delete handOver;
        return nativeFailure(error);
    }
    state_->control = control;
    state_->thread = thread;
    state_->joinable = true;
    // Like CreateThread, return with the thread's id known.
    std::unique_lock<std::mutex> lock(control->mutex);
    control->changed.wait(lock, [&control] { return control->threadId != 0; });
    return {};
}

ExitReading NativeThread::readExitCode() const {
    if (!state_->control)
        return {nativeFailure(EBADF)};
    Control& control = *state_->control;
    std::lock_guard<std::mutex> lock(control.mutex);
    if (control.endRequested)
        return {{}, control.endCode};
    return {{}, control.finished ? control.exitCode : kStillActive};
}

bool NativeThread::hasEnded() const {
    if (!state_->control)
        return false;
    std::lock_guard<std::mutex> lock(state_->control->mutex);
    return state_->control->finished;
}

bool NativeThread::waitForEnd(uint32_t milliseconds) const {
    if (!state_->control)
        return false;
    Control& control = *state_->control;
    std::unique_lock<std::mutex> lock(control.mutex);
    return control.changed.wait_for(lock, std::chrono::milliseconds(milliseconds),
                                    [&control] { return control.finished; });
}

NativeResult NativeThread::suspend(int32_t& previous) {
    if (!state_->control)
        return nativeFailure(EBADF);
    Control& control = *state_->control;
    std::lock_guard<std::mutex> lock(control.mutex);
    previous = control.suspendCount++;
    return {};
}

NativeResult NativeThread::resume(int32_t& previous) {
    if (!state_->control)
        return nativeFailure(EBADF);
    Control& control = *state_->control;
    {
        std::lock_guard<std::mutex> lock(control.mutex);
        previous = control.suspendCount;
        if (control.suspendCount > 0)
            --control.suspendCount;
    }
    control.changed.notify_all();
    return {};
}

NativeResult NativeThread::forceEnd(int32_t exitCode) {
    if (!state_->control)
        return nativeFailure(EBADF);
    Control& control = *state_->control;
    {
        std::unique_lock<std::mutex> lock(control.mutex);
        if (control.finished)
            return {};
        if (!control.leftRoutine) {
            control.endRequested = true;
            control.endCode = exitCode;
            control.changed.notify_all();
        }
        // A thread ending itself goes at its next safe point; it cannot wait for that here.
        if (currentControl != &control)
            control.changed.wait_for(lock, kSafePointWait, [&control] { return control.finished; });
    }
    state_->release();
    return {};
}

uint32_t NativeThread::threadId() const {
    return state_->control ? state_->control->threadId : 0;
}

} // namespace Kalvor
