#include "JobInstance/NativeThread.h"

#include "Common/win32/UniqueHandle.h"
#include "Common/win32/Windows.h"

#include <atomic>

namespace Kalvor {

namespace {

// How long a forced end waits for a thread that is leaving, or was just terminated, to be gone.
constexpr DWORD kEndWait = 2000;

// Who ends the thread, settled once by whoever moves it from kInRoutine first: the thread itself,
// leaving after its routine has returned, or its job, by TerminateThread. A thread in its exit
// path may hold the loader lock; terminated there, it would keep it for good.
enum Stage : int { kInRoutine, kLeaving, kTerminating };

// Shared by the job and its thread; the last of the two to let go deletes it. A thread that
// was terminated cannot let go: its job does so for it.
struct Shared {
    NativeThread::Routine routine;
    void* parameter;
    std::atomic<int> stage{kInRoutine};
    std::atomic<int> holders{2};
};

void letGo(Shared* shared) {
    if (shared->holders.fetch_sub(1) == 1)
        delete shared;
}

VOID CALLBACK wakeUp(ULONG_PTR) {}

DWORD WINAPI runRoutine(LPVOID raw) {
    auto* const shared = static_cast<Shared*>(raw);
    const uint32_t code = shared->routine(shared->parameter);
    // Lost to a forced end under way: it ends us here, in our own code, not in the exit path.
    // Should TerminateThread fail, the job hands the end back to us with an APC.
    for (int expected = kInRoutine; !shared->stage.compare_exchange_strong(expected, kLeaving);
         expected = kInRoutine)
        ::SleepEx(INFINITE, TRUE);
    letGo(shared);
    return code;
}

} // namespace

struct NativeThread::State {
    UniqueHandle thread;
    DWORD threadId = 0;
    Shared* shared = nullptr;

    ~State() {
        if (shared == nullptr)
            return;
        if (shared->stage == kTerminating &&
            ::WaitForSingleObject(thread.get(), 0) == WAIT_OBJECT_0)
            letGo(shared); // the terminated thread's hold
        letGo(shared);
    }
};

NativeThread::NativeThread() : state_(std::make_unique<State>()) {}

NativeThread::~NativeThread() = default;

NativeResult NativeThread::start(Routine routine, void* parameter) {
    auto* const shared = new Shared{routine, parameter};
    DWORD threadId = 0;
    const HANDLE thread = ::CreateThread(nullptr, 0, runRoutine, shared, 0, &threadId);
    if (thread == nullptr) {
        const NativeResult failure = lastNativeFailure();
        delete shared;
        return failure;
    }
    state_->thread = UniqueHandle(thread);
    state_->threadId = threadId;
    state_->shared = shared;
    return {};
}

ExitReading NativeThread::readExitCode() const {
    DWORD code = 0;
    if (!::GetExitCodeThread(state_->thread.get(), &code))
        return {lastNativeFailure()};
    return {{}, static_cast<int32_t>(code)};
}

bool NativeThread::hasEnded() const {
    return ::WaitForSingleObject(state_->thread.get(), 0) == WAIT_OBJECT_0;
}

bool NativeThread::waitForEnd(uint32_t milliseconds) const {
    return ::WaitForSingleObject(state_->thread.get(), milliseconds) == WAIT_OBJECT_0;
}

NativeResult NativeThread::suspend(int32_t& previous) {
    const DWORD count = ::SuspendThread(state_->thread.get());
    if (count == static_cast<DWORD>(-1))
        return lastNativeFailure();
    previous = static_cast<int32_t>(count);
    return {};
}

NativeResult NativeThread::resume(int32_t& previous) {
    const DWORD count = ::ResumeThread(state_->thread.get());
    if (count == static_cast<DWORD>(-1))
        return lastNativeFailure();
    previous = static_cast<int32_t>(count);
    return {};
}

NativeResult NativeThread::forceEnd(int32_t exitCode) {
    State& state = *state_;
    if (state.shared == nullptr)
        return nativeFailure(ERROR_INVALID_HANDLE);
    int expected = kInRoutine;
    if (!state.shared->stage.compare_exchange_strong(expected, kTerminating)) {
        // Leaving by itself, or ended already.
        waitForEnd(kEndWait);
        return {};
    }
    if (!::TerminateThread(state.thread.get(), static_cast<DWORD>(exitCode))) {
        const NativeResult failure = lastNativeFailure();
        state.shared->stage = kInRoutine;
        ::QueueUserAPC(wakeUp, state.thread.get(), 0);
        return failure;
    }
    // TerminateThread returns before the thread is gone.
    waitForEnd(kEndWait);
    return {};
}

uint32_t NativeThread::threadId() const {
    return state_->threadId;
}

} // namespace Kalvor
