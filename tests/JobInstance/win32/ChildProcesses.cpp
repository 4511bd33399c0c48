#include "ChildProcesses.h"

#include "Common/win32/Windows.h"

#include <tlhelp32.h>

namespace Kalvor::Test {

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
        if (entry.th32ParentProcessID == self && entry.th32ProcessID != self)
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

} // namespace Kalvor::Test
