#include "ChildProcess.h"

#include "Common/SystemError.h"

#include <cstdio>

#include "Common/win32/Windows.h"

namespace Kalvor::Test {

namespace {

// One argument quoted as the C runtime splits command lines: backslashes are doubled only
// where a quote follows them.
std::string quoted(const std::string& argument) {
    if (!argument.empty() && argument.find_first_of(" \t\"") == std::string::npos)
        return argument;
    std::string text = "\"";
    std::size_t backslashes = 0;
    for (const char byte : argument) {
        if (byte == '\\') {
            ++backslashes;
            continue;
        }
        text.append(byte == '"' ? backslashes * 2 + 1 : backslashes, '\\');
        backslashes = 0;
        text += byte;
    }
    text.append(backslashes * 2, '\\');
    return text + "\"";
}

// A file the child writes its output to, made or emptied; inherited by the child.
HANDLE inheritedFile(const std::string& path) {
    SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
    return ::CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                         &inheritable, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

void closeHandle(HANDLE& handle) {
    if (handle != nullptr && handle != INVALID_HANDLE_VALUE)
        ::CloseHandle(handle);
    handle = INVALID_HANDLE_VALUE;
}

} // namespace

struct ChildProcess::Native {
    PROCESS_INFORMATION process{};
    HANDLE output = INVALID_HANDLE_VALUE;
    std::optional<int> exitCode;
};

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& arguments,
                           const Options& options)
    : native_(std::make_unique<Native>()) {
    std::string commandLine = quoted(program);
    for (const std::string& argument : arguments)
        commandLine += " " + quoted(argument);

    HANDLE readEnd = INVALID_HANDLE_VALUE;
    HANDLE outputEnd = INVALID_HANDLE_VALUE;
    HANDLE errorEnd = INVALID_HANDLE_VALUE;
    if (options.captureOutput) {
        SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
        if (!::CreatePipe(&readEnd, &outputEnd, &inheritable, 0))
            return;
        ::SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
        if (options.errorsToOutput)
            ::DuplicateHandle(::GetCurrentProcess(), outputEnd, ::GetCurrentProcess(), &errorEnd,
                              0, TRUE, DUPLICATE_SAME_ACCESS);
    } else if (!options.outputFile.empty()) {
        outputEnd = inheritedFile(options.outputFile);
    }
    if (!options.errorFile.empty() && !options.errorsToOutput)
        errorEnd = inheritedFile(options.errorFile);

    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput =
        outputEnd != INVALID_HANDLE_VALUE ? outputEnd : ::GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError =
        errorEnd != INVALID_HANDLE_VALUE ? errorEnd : ::GetStdHandle(STD_ERROR_HANDLE);
    // A group of its own, so that a console event sent to it does not reach the test.
    const DWORD flags = options.ownProcessGroup ? CREATE_NEW_PROCESS_GROUP : 0;
    if (!::CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, TRUE, flags, nullptr,
                          nullptr, &startup, &native_->process)) {
        // Under a loaded Wine a start fails now and then: the test's output says why.
        const DWORD error = ::GetLastError();
        std::fprintf(stderr, "ChildProcess: %s could not be started: %lu (%s)\n",
                     program.c_str(), static_cast<unsigned long>(error),
                     systemErrorText(static_cast<int32_t>(error)).c_str());
        native_->process = PROCESS_INFORMATION{};
    }
    closeHandle(outputEnd);
    closeHandle(errorEnd);
    native_->output = readEnd;
}

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& arguments)
    : ChildProcess(program, arguments, Options()) {}

ChildProcess::ChildProcess(ChildProcess&& other) noexcept = default;

ChildProcess::~ChildProcess() {
    if (!native_)
        return; // moved from
    kill();
    if (started()) {
        ::CloseHandle(native_->process.hThread);
        ::CloseHandle(native_->process.hProcess);
    }
    closeHandle(native_->output);
}

bool ChildProcess::started() const {
    return native_->process.hProcess != nullptr;
}

uint32_t ChildProcess::processId() const {
    return native_->process.dwProcessId;
}

uint32_t ChildProcess::threadId() const {
    return native_->process.dwThreadId;
}

std::optional<int> ChildProcess::exitCode() {
    if (!started() || native_->exitCode)
        return native_->exitCode;
    DWORD code = 0;
    if (::WaitForSingleObject(native_->process.hProcess, 0) == WAIT_OBJECT_0 &&
        ::GetExitCodeProcess(native_->process.hProcess, &code))
        native_->exitCode = static_cast<int>(code);
    return native_->exitCode;
}

void ChildProcess::kill() {
    if (!started() || exitCode())
        return;
    ::TerminateProcess(native_->process.hProcess, 137);
    ::WaitForSingleObject(native_->process.hProcess, INFINITE);
    exitCode();
}

bool ChildProcess::askToClose() {
    return started() && !exitCode() &&
           ::PostThreadMessageA(native_->process.dwThreadId, WM_CLOSE, 0, 0) != 0;
}

bool ChildProcess::interrupt() {
    return false;
}

bool ChildProcess::readSome(int milliseconds) {
    const DWORD start = ::GetTickCount();
    for (;;) {
        DWORD available = 0;
        if (!::PeekNamedPipe(native_->output, nullptr, 0, nullptr, &available, nullptr))
            return false; // the writer has closed its end
        if (available > 0) {
            std::string buffer(available, '\0');
            DWORD got = 0;
            if (!::ReadFile(native_->output, buffer.data(), available, &got, nullptr))
                return false;
            pending_.append(buffer, 0, got);
            return true;
        }
        if (::GetTickCount() - start >= static_cast<DWORD>(milliseconds))
            return true;
        ::Sleep(5);
    }
}

} // namespace Kalvor::Test
