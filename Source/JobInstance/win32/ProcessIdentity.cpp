#include "JobInstance/ProcessIdentity.h"

#include "Common/win32/AccountSid.h"
#include "Common/win32/UniqueHandle.h"

#include <algorithm>
#include <cctype>

namespace Kalvor {

namespace {

std::string fullPath(const std::string& path) {
    char buffer[MAX_PATH * 4];
    const DWORD length = ::GetFullPathNameA(path.c_str(), sizeof buffer, buffer, nullptr);
    return length > 0 && length < sizeof buffer ? std::string(buffer, length) : path;
}

bool equalNoCase(const std::string& one, const std::string& other) {
    return one.size() == other.size() &&
           std::equal(one.begin(), one.end(), other.begin(), [](char a, char b) {
               return std::tolower(static_cast<unsigned char>(a)) ==
                      std::tolower(static_cast<unsigned char>(b));
           });
}

} // namespace

// A thread's id names no process (one pool of ids serves both), so OpenProcess refuses it. A
// process that ended with 259, STILL_ACTIVE's value, while a handle still holds it reads as
// running: the one case GetExitCodeProcess cannot tell.
uint64_t processStartTime(uint32_t processId) {
    if (processId == 0)
        return 0;
    UniqueHandle handle(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
    DWORD exitCode = 0;
    if (!handle || !::GetExitCodeProcess(handle.get(), &exitCode) || exitCode != STILL_ACTIVE)
        return 0;
    FILETIME created = {};
    FILETIME exited = {};
    FILETIME kernel = {};
    FILETIME user = {};
    if (!::GetProcessTimes(handle.get(), &created, &exited, &kernel, &user))
        return 0;
    return static_cast<uint64_t>(created.dwHighDateTime) << 32 | created.dwLowDateTime;
}

std::string processMismatch(uint32_t processId, uint32_t threadId,
                            const std::string& programPath) {
    const std::string process = "process " + std::to_string(processId);
    UniqueHandle handle(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
    if (!handle)
        return process + " cannot be opened";
    const Sid own = currentAccountSid();
    const Sid theirs = processAccountSid(handle.get());
    if (own.empty() || theirs.empty() || !::EqualSid(const_cast<BYTE*>(own.data()),
                                                     const_cast<BYTE*>(theirs.data())))
        return process + " does not run under this account";
    char image[MAX_PATH * 4];
    DWORD size = sizeof image;
    if (!::QueryFullProcessImageNameA(handle.get(), 0, image, &size))
        return process + ": its program cannot be read";
    const std::string program = fullPath(programPath);
    if (!equalNoCase(std::string(image, size), program))
        return process + " runs " + std::string(image, size) + ", not " + program;
    UniqueHandle thread(::OpenThread(THREAD_QUERY_LIMITED_INFORMATION, FALSE, threadId));
    if (!thread || ::GetProcessIdOfThread(thread.get()) != processId)
        return "thread " + std::to_string(threadId) + " is not one of " + process;
    return "";
}

} // namespace Kalvor
