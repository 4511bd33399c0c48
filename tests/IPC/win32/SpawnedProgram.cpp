#include "SpawnedProgram.h"

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

} // namespace

struct SpawnedProgram::Native {
    PROCESS_INFORMATION process{};
    HANDLE output = INVALID_HANDLE_VALUE;
    std::optional<int> exitCode;
};

SpawnedProgram::SpawnedProgram(const std::string& program,
                               const std::vector<std::string>& arguments, bool withErrors)
    : native_(std::make_unique<Native>()) {
    std::string commandLine = quoted(program);
    for (const std::string& argument : arguments)
        commandLine += " " + quoted(argument);

    SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
    HANDLE readEnd = INVALID_HANDLE_VALUE;
    HANDLE writeEnd = INVALID_HANDLE_VALUE;
    if (!::CreatePipe(&readEnd, &writeEnd, &inheritable, 0))
        return;
    ::SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = writeEnd;
    startup.hStdError = withErrors ? writeEnd : ::GetStdHandle(STD_ERROR_HANDLE);
    // A group of its own, so that a Ctrl-Break sent to it does not reach the test.
    if (!::CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, TRUE,
                          CREATE_NEW_PROCESS_GROUP, nullptr, nullptr, &startup, &native_->process))
        native_->process = PROCESS_INFORMATION{};
    ::CloseHandle(writeEnd);
    native_->output = readEnd;
}

SpawnedProgram::~SpawnedProgram() {
    if (started()) {
        if (!exitCode()) {
            ::TerminateProcess(native_->process.hProcess, 1);
            ::WaitForSingleObject(native_->process.hProcess, INFINITE);
        }
        ::CloseHandle(native_->process.hThread);
        ::CloseHandle(native_->process.hProcess);
    }
    if (native_->output != INVALID_HANDLE_VALUE)
        ::CloseHandle(native_->output);
}

bool SpawnedProgram::started() const {
    return native_->process.hProcess != nullptr;
}

bool SpawnedProgram::readSome(int milliseconds) {
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

std::optional<int> SpawnedProgram::exitCode() {
    if (!started() || native_->exitCode)
        return native_->exitCode;
    DWORD code = 0;
    if (::WaitForSingleObject(native_->process.hProcess, 0) == WAIT_OBJECT_0 &&
        ::GetExitCodeProcess(native_->process.hProcess, &code))
        native_->exitCode = static_cast<int>(code);
    return native_->exitCode;
}

// A console control event would reach the test itself as well.
bool SpawnedProgram::interrupt() {
    return false;
}

} // namespace Kalvor::Test
