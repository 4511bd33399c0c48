#include "JobInstance/NativeProcess.h"

#include "JobInstance/ContainerSignal.h"
#include "JobInstance/JobInstance.h"
#include "JobInstance/OutputPipe.h"

#include "Common/win32/UniqueHandle.h"
#include "Common/win32/Windows.h"
#include "JobInstance/ThreadMessages.h"

#include <algorithm>
#include <new>
#include <vector>

namespace Kalvor {

namespace {

// The exit code of every process ended by killContainer().
constexpr UINT kKilledExitCode = 1;

// A null access-control list: any account may open the new process, the supervisor of another
// session included.
class OpenToAll {
public:
    NativeResult prepare(bool inheritable) {
        descriptor_.reset(new (std::nothrow) SECURITY_DESCRIPTOR{});
        if (!descriptor_)
            return {NativeResult::Kind::NoMemory, ERROR_NOT_ENOUGH_MEMORY};
        if (!::InitializeSecurityDescriptor(descriptor_.get(), SECURITY_DESCRIPTOR_REVISION) ||
            !::SetSecurityDescriptorDacl(descriptor_.get(), TRUE, nullptr, FALSE))
            return lastNativeFailure();
        attributes_ = {sizeof attributes_, descriptor_.get(), inheritable ? TRUE : FALSE};
        return {};
    }
    SECURITY_ATTRIBUTES* attributes() { return &attributes_; }

private:
    std::unique_ptr<SECURITY_DESCRIPTOR> descriptor_;
    SECURITY_ATTRIBUTES attributes_{};
};

// Only the handles named here reach the child, whatever else the supervisor holds inheritable.
class HandleList {
public:
    ~HandleList() {
        if (list_ != nullptr)
            ::DeleteProcThreadAttributeList(list_);
    }
    NativeResult set(std::vector<HANDLE> handles) {
        handles_ = std::move(handles);
        SIZE_T size = 0;
        ::InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
        buffer_.resize(size);
        auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(buffer_.data());
        if (!::InitializeProcThreadAttributeList(list, 1, 0, &size))
            return lastNativeFailure();
        list_ = list;
        if (!::UpdateProcThreadAttribute(list_, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST,
                                         handles_.data(), handles_.size() * sizeof(HANDLE), nullptr,
                                         nullptr))
            return lastNativeFailure();
        return {};
    }
    LPPROC_THREAD_ATTRIBUTE_LIST list() const { return list_; }

private:
    std::vector<HANDLE> handles_;
    std::vector<char> buffer_;
    LPPROC_THREAD_ATTRIBUTE_LIST list_ = nullptr;
};

std::string jobName(const std::string& container) {
    return kContainerJobPrefix + container;
}

// The processes in the job; empty when it cannot be read.
std::vector<DWORD> processesOf(HANDLE job) {
    std::vector<char> buffer(sizeof(JOBOBJECT_BASIC_PROCESS_ID_LIST) + 64 * sizeof(ULONG_PTR));
    for (int attempt = 0; attempt < 8; ++attempt) {
        auto* list = reinterpret_cast<JOBOBJECT_BASIC_PROCESS_ID_LIST*>(buffer.data());
        const BOOL read = ::QueryInformationJobObject(job, JobObjectBasicProcessIdList, list,
                                                      static_cast<DWORD>(buffer.size()), nullptr);
        if (read && list->NumberOfProcessIdsInList >= list->NumberOfAssignedProcesses)
            return std::vector<DWORD>(list->ProcessIdList,
                                      list->ProcessIdList + list->NumberOfProcessIdsInList);
        if (!read && ::GetLastError() != ERROR_MORE_DATA)
            return {};
        // More processes than room: grow and read again.
        const std::size_t wanted = std::max<std::size_t>(list->NumberOfAssignedProcesses, 64) * 2;
        buffer.assign(sizeof(JOBOBJECT_BASIC_PROCESS_ID_LIST) + wanted * sizeof(ULONG_PTR), 0);
    }
    return {};
}

struct WindowClosing {
    const std::vector<DWORD>* processes;
    int posted = 0;
};

BOOL CALLBACK closeWindowOfProcesses(HWND window, LPARAM parameter) {
    auto& closing = *reinterpret_cast<WindowClosing*>(parameter);
    DWORD owner = 0;
    ::GetWindowThreadProcessId(window, &owner);
    const std::vector<DWORD>& processes = *closing.processes;
    if (std::find(processes.begin(), processes.end(), owner) != processes.end() &&
        ::PostMessageA(window, WM_CLOSE, 0, 0))
        ++closing.posted;
    return TRUE;
}

bool hasEnded(HANDLE process) {
    return ::WaitForSingleObject(process, 0) == WAIT_OBJECT_0;
}

} // namespace

struct NativeProcess::State {
    UniqueHandle process;
    UniqueHandle thread;
    UniqueHandle job; // the container's job object
    DWORD processId = 0;
    DWORD threadId = 0;
    std::string failedPart;
};

NativeProcess::NativeProcess() : state_(std::make_unique<State>()) {}

NativeProcess::~NativeProcess() = default;

NativeResult NativeProcess::start(const std::string& commandLine, bool hidden,
                                  bool inheritHandles) {
    OpenToAll security;
    if (const NativeResult prepared = security.prepare(true); !prepared.done())
        return prepared;
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
    if (!::CreateProcessA(nullptr, line.data(), security.attributes(), security.attributes(),
                          inheritHandles ? TRUE : FALSE, 0, nullptr, nullptr, &startup, &created))
        return lastNativeFailure();
    state_->process = UniqueHandle(created.hProcess);
    state_->thread = UniqueHandle(created.hThread);
    state_->processId = created.dwProcessId;
    state_->threadId = created.dwThreadId;
    return {};
}

NativeResult NativeProcess::launch(const ProcessLaunch& launch) {
    State& state = *state_;
    OpenToAll security;
    if (const NativeResult prepared = security.prepare(false); !prepared.done())
        return prepared;

    STARTUPINFOEXA startup{};
    startup.StartupInfo.cb = sizeof startup;
    DWORD flags = 0;
    UniqueHandle input;
    HandleList inherited;
    const HANDLE output =
        launch.output ? reinterpret_cast<HANDLE>(launch.output->writeEnd()) : nullptr;
    if (output != nullptr) {
        SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
        input.reset(::CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  &inheritable, OPEN_EXISTING, 0, nullptr));
        if (!input) {
            state.failedPart = "standard input \"NUL\"";
            return lastNativeFailure();
        }
        if (const NativeResult listed = inherited.set({input.get(), output}); !listed.done())
            return listed;
        startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
        startup.StartupInfo.hStdInput = input.get();
        startup.StartupInfo.hStdOutput = output;
        startup.StartupInfo.hStdError = output;
        startup.lpAttributeList = inherited.list();
        flags |= EXTENDED_STARTUPINFO_PRESENT | CREATE_NO_WINDOW;
    }

    UniqueHandle job;
    if (!launch.container.empty()) {
        // Made, or opened when a supervisor before us made it: either way it is the container.
        job.reset(::CreateJobObjectA(nullptr, jobName(launch.container).c_str()));
        if (!job) {
            state.failedPart = "container \"" + jobName(launch.container) + "\"";
            return lastNativeFailure();
        }
        // Suspended until it is in the job, so that nothing it starts escapes the job.
        flags |= CREATE_SUSPENDED;
    }

    std::vector<char> line(launch.commandLine.begin(), launch.commandLine.end());
    line.push_back('\0');
    PROCESS_INFORMATION created{};
    if (!::CreateProcessA(nullptr, line.data(), security.attributes(), security.attributes(),
                          output != nullptr ? TRUE : FALSE, flags, nullptr,
                          launch.directory.empty() ? nullptr : launch.directory.c_str(),
                          &startup.StartupInfo, &created)) {
        const NativeResult failure = lastNativeFailure();
        // The directory is the likelier fault when CreateProcessA names none.
        if (!launch.directory.empty() &&
            ::GetFileAttributesA(launch.directory.c_str()) == INVALID_FILE_ATTRIBUTES)
            state.failedPart = "directory \"" + launch.directory + "\"";
        return failure;
    }
    UniqueHandle process(created.hProcess);
    UniqueHandle thread(created.hThread);
    if (job) {
        if (!::AssignProcessToJobObject(job.get(), process.get())) {
            const NativeResult failure = lastNativeFailure();
            ::TerminateProcess(process.get(), kKilledExitCode);
            state.failedPart = "container \"" + jobName(launch.container) + "\"";
            return failure;
        }
        ::ResumeThread(thread.get());
    }
    state.process = std::move(process);
    state.thread = std::move(thread);
    state.job = std::move(job);
    state.processId = created.dwProcessId;
    state.threadId = created.dwThreadId;
    return {};
}

const std::string& NativeProcess::failedPart() const {
    return state_->failedPart;
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

bool NativeProcess::attachContainer(const std::string& container) {
    if (!state_->process || container.empty())
        return false;
    UniqueHandle job(::OpenJobObjectA(JOB_OBJECT_QUERY | JOB_OBJECT_TERMINATE, FALSE,
                                      jobName(container).c_str()));
    if (!job)
        return false;
    state_->job = std::move(job);
    return true;
}

ExitReading NativeProcess::readExitCode() {
    DWORD code = 0;
    if (!::GetExitCodeProcess(state_->process.get(), &code))
        return {lastNativeFailure()};
    return {{}, static_cast<int32_t>(code)};
}

ExitStatus NativeProcess::exitStatus() {
    DWORD code = 0;
    if (!state_->process || !hasEnded(state_->process.get()) ||
        !::GetExitCodeProcess(state_->process.get(), &code))
        return {};
    return {true, static_cast<int32_t>(code), 0};
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

bool NativeProcess::askContainerToClose() {
    State& state = *state_;
    // As stop() asks: a close request carries -1.
    const bool mainTold = state.process && !hasEnded(state.process.get()) && askToClose(-1);
    if (!state.job)
        return mainTold;
    const std::vector<DWORD> processes = processesOf(state.job.get());
    WindowClosing closing{&processes};
    if (!processes.empty())
        ::EnumWindows(closeWindowOfProcesses, reinterpret_cast<LPARAM>(&closing));
    return mainTold || closing.posted > 0;
}

bool NativeProcess::signalContainer(int32_t signal) {
    if (signal == kCloseSignal)
        return askContainerToClose();
    if (signal != kKillSignal)
        return false;
    killContainer();
    return true;
}

void NativeProcess::killContainer() {
    State& state = *state_;
    if (state.job)
        ::TerminateJobObject(state.job.get(), kKilledExitCode);
    // Also when the job could not end it, or it is in none (attached without a container).
    if (state.process && !hasEnded(state.process.get()))
        ::TerminateProcess(state.process.get(), kKilledExitCode);
}

std::vector<uint32_t> NativeProcess::containerProcesses() {
    State& state = *state_;
    std::vector<uint32_t> left;
    if (state.job) {
        for (const DWORD process : processesOf(state.job.get()))
            left.push_back(process);
    }
    if (state.process && !hasEnded(state.process.get()) &&
        std::find(left.begin(), left.end(), state.processId) == left.end())
        left.push_back(state.processId);
    return left;
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
