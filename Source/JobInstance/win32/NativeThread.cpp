#include "JobInstance/NativeThread.h"

#include "Common/win32/Windows.h"
#include "JobInstance/win32/UniqueHandle.h"

namespace Kalvor {

namespace {

struct StartRecord {
    NativeThread::Routine routine;
    void* parameter;
};

DWORD WINAPI runRoutine(LPVOID raw) {
    const std::unique_ptr<StartRecord> record(static_cast<StartRecord*>(raw));
    return record->routine(record->parameter);
}

} // namespace

struct NativeThread::State {
    UniqueHandle thread;
    DWORD threadId = 0;
};

NativeThread::NativeThread() : state_(std::make_unique<State>()) {}

NativeThread::~NativeThread() = default;

NativeResult NativeThread::start(Routine routine, void* parameter) {
    auto record = std::make_unique<StartRecord>(StartRecord{routine, parameter});
    DWORD threadId = 0;
    const HANDLE thread = ::CreateThread(nullptr, 0, runRoutine, record.get(), 0, &threadId);
    if (thread == nullptr)
        return lastNativeFailure();
    record.release(); // the thread owns it now
    state_->thread = UniqueHandle(thread);
    state_->threadId = threadId;
    return {};
}

ExitReading NativeThread::readExitCode() const {
    DWORD code = 0;
    if (!::GetExitCodeThread(state_->thread.get(), &code))
        return {lastNativeFailure()};
    return {{}, static_cast<int32_t>(code)};
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
    if (!::TerminateThread(state_->thread.get(), static_cast<DWORD>(exitCode)))
        return lastNativeFailure();
    return {};
}

uint32_t NativeThread::threadId() const {
    return state_->threadId;
}

} // namespace Kalvor
