#include "ChildProcesses.h"

#include "Common/win32/Windows.h"

#include <tlhelp32.h>

namespace Kalvor::Test {

namespace {

uint64_t creationTime(HANDLE process) {
    FILETIME created{}, exited{}, kernel{}, user{};
    if (!::GetProcessTimes(process, &created, &exited, &kernel, &user))
        return 0;
    return (static_cast<uint64_t>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
}

// A process names its parent by number only, and numbers are used again (soon, under Wine):
// one that is older than this process was started by an earlier holder of its number.
bool startedByThisProcess(DWORD processId) {
    const HANDLE process = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
    if (process == nullptr)
        return false;
    const uint64_t started = creationTime(process);
    ::CloseHandle(process);
    return started >= creationTime(::GetCurrentProcess());
}

// Wine's desktop, started by startDesktopOutsideContainers(), lives on with the prefix.
bool isWineDesktop(const PROCESSENTRY32& entry) {
    return ::lstrcmpiA(entry.szExeFile, "explorer.exe") == 0;
}

} // namespace

std::vector<uint32_t> childProcessIds() {
    std::vector<uint32_t> children;
    const HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return children;
    const DWORD self = ::GetCurrentProcessId();
    PROCESSENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = ::Process32First(snapshot, &entry); more;
         more = ::Process32Next(snapshot, &entry)) {
        if (entry.th32ParentProcessID == self && entry.th32ProcessID != self &&
            !isWineDesktop(entry) && startedByThisProcess(entry.th32ProcessID))
            children.push_back(entry.th32ProcessID);
    }
    ::CloseHandle(snapshot);
    return children;
}

void killChildProcess(uint32_t processId) {
    const HANDLE process = ::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, processId);
    if (process == nullptr)
        return;
    ::TerminateProcess(process, 1);
    ::WaitForSingleObject(process, 5000);
    ::CloseHandle(process);
}

void endChildSubreaper() {}

void startDesktopOutsideContainers() {
    ::GetDesktopWindow();
}

} // namespace Kalvor::Test
