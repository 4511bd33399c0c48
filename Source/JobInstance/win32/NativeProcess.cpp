#include "JobInstance/NativeProcess.h"

#include "JobInstance/JobInstance.h"

#include "Common/win32/Windows.h"
#include "JobInstance/ThreadMessages.h"
#include "Common/win32/UniqueHandle.h"

#include <new>
#include <vector>

namespace Kalvor {

struct NativeProcess::State {
    UniqueHandle process;
    UniqueHandle thread;
    DWORD processId = 0;
    DWORD threadId = 0;
};

NativeProcess::NativeProcess() : state_(std::make_unique<State>()) {}

NativeProcess::~NativeProcess() = default;

NativeResult NativeProcess::start(const std::string& commandLine, bool hidden,
                                  bool inheritHandles) {
    // A null access-control list: any account may open the new process, the supervisor of
    // another session included.
    std::unique_ptr<SECURITY_DESCRIPTOR> descriptor(new (std::nothrow) SECURITY_DESCRIPTOR{});
    if (!descriptor)
        return {NativeResult::Kind::NoMemory, ERROR_NOT_ENOUGH_MEMORY};
    if (!::InitializeSecurityDescriptor(descriptor.get(), SECURITY_DESCRIPTOR_REVISION) ||
        !::SetSecurityDescriptorDacl(descriptor.get(), TRUE, nullptr, FALSE))
        return lastNativeFailure();
    SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor.get(), TRUE};

    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    if (hidden) {
        startup.dwFlags = STARTF_USESHOWWINDOW;
        startup.wShowWindow = SW_HIDE;
    }
    // CreateProcessA may write into the command line.
    std::vector<char> line(commandLine.begin(), commandLine.end());
    line.push_back('\0');
    PROCESS_INFORMATION created{};
    if (!::CreateProcessA(nullptr, line.data(), &attributes, &attributes,
                          inheritHandles ? TRUE : FALSE, 0, nullptr, nullptr, &startup, &created))
        return lastNativeFailure();
    state_->process = UniqueHandle(created.hProcess);
    state_->thread = UniqueHandle(created.hThread);
    state_->processId = created.dwProcessId;
    state_->threadId = created.dwThreadId;
    return {};
}

NativeResult NativeProcess::attach(uint32_t processId, uint32_t threadId) {
    const HANDLE process = ::OpenProcess(PROCESS_ALL_ACCESS, TRUE, processId);
    if (process == nullptr)
        return lastNativeFailure();
    state_->process = UniqueHandle(process);
    state_->processId = processId;
    state_->threadId = threadId;
    return {};
}

ExitReading NativeProcess::readExitCode() {
    DWORD code = 0;
    if (!::GetExitCodeProcess(state_->process.get(), &code))
        return {lastNativeFailure()};
    return {{}, static_cast<int32_t>(code)};
}

bool NativeProcess::waitForEnd(uint32_t milliseconds) {
    return ::WaitForSingleObject(state_->process.get(), milliseconds) == WAIT_OBJECT_0;
}

bool NativeProcess::askToClose(int32_t exitCode) {
    return postThreadMessage(state_->threadId, kWmClose,
                             static_cast<uintptr_t>(static_cast<intptr_t>(exitCode)), 0);
}

NativeResult NativeProcess::forceEnd(int32_t exitCode) {
    if (!::TerminateProcess(state_->process.get(), static_cast<UINT>(exitCode)))
        return lastNativeFailure();
    return {};
}

uint32_t NativeProcess::processId() const {
    return state_->processId;
}

intptr_t NativeProcess::waitable() const {
    return state_->process ? reinterpret_cast<intptr_t>(state_->process.get())
                           : JobInstance::kNoWaitable;
}

uint32_t NativeProcess::threadId() const {
    return state_->threadId;
}

} // namespace Kalvor
