#include "ChildProcess.h"

#include "Common/win32/Windows.h"

namespace Kalvor::Test {

namespace {

// The quoting that the C runtime's argument splitting undoes.
std::string quoted(const std::string& word) {
    std::string text = "\"";
    std::size_t backslashes = 0;
    for (const char byte : word) {
        if (byte == '\\') {
            ++backslashes;
            continue;
        }
        text.append(byte == '"' ? backslashes * 2 + 1 : backslashes, '\\');
        backslashes = 0;
        text.push_back(byte);
    }
    text.append(backslashes * 2, '\\');
    return text + "\"";
}

} // namespace

struct ChildProcess::Native {
    PROCESS_INFORMATION info{};
    bool reaped = false;
    int exitCode = -1;

    ~Native() {
        if (info.hProcess)
            ::CloseHandle(info.hProcess);
        if (info.hThread)
            ::CloseHandle(info.hThread);
    }
};

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& arguments)
    : native_(std::make_unique<Native>()) {
    std::string commandLine = quoted(program);
    for (const std::string& argument : arguments)
        commandLine += " " + quoted(argument);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    if (!::CreateProcessA(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                          nullptr, &startup, &native_->info))
        native_->info = PROCESS_INFORMATION{};
}

ChildProcess::~ChildProcess() {
    kill();
}

bool ChildProcess::started() const {
    return native_->info.hProcess != nullptr;
}

bool ChildProcess::hasExited() {
    if (!started() || native_->reaped)
        return true;
    if (::WaitForSingleObject(native_->info.hProcess, 0) != WAIT_OBJECT_0)
        return false;
    DWORD code = 0;
    ::GetExitCodeProcess(native_->info.hProcess, &code);
    native_->exitCode = static_cast<int>(code);
    native_->reaped = true;
    return true;
}

int ChildProcess::exitCode() const {
    return native_->exitCode;
}

void ChildProcess::kill() {
    if (hasExited())
        return;
    ::TerminateProcess(native_->info.hProcess, 137);
    ::WaitForSingleObject(native_->info.hProcess, INFINITE);
    hasExited();
}

} // namespace Kalvor::Test
