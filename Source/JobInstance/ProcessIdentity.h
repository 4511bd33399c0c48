// Whether a running process is the one an application's answer says it is, before the
// supervisor adopts it: it runs under this process's account, its program is the application's
// program file, and the thread named with it is one of its threads.
//
// posix: the account is the real and effective user of /proc/PID/status; the program is
// /proc/PID/exe, or, for a script started through its interpreter line, the first argument of
// /proc/PID/cmdline that is not an option; files are compared by device and inode, so that
// links and spellings of a path do not matter; the thread is /proc/PID/task/TID. win32: the
// user of the process token, QueryFullProcessImageNameA compared without case with the full
// path, and GetProcessIdOfThread.
//
// A process can end, and its number be reused, while it is checked: the caller holds the
// process (a job) before asking, and checks that it still runs afterwards.
#pragma once

#include <cstdint>
#include <string>

namespace Kalvor {

// Empty when the process passes; otherwise what failed, for a log line.
std::string processMismatch(uint32_t processId, uint32_t threadId, const std::string& programPath);

// When the running process `processId` started: posix, clock ticks since boot (field 22 of
// /proc/PID/stat); win32, its creation time as a FILETIME value. The number means nothing on
// its own, only equality does: with the process id it names one process, as a later process
// that gets the same id starts later. 0 when no process runs under the id: none has it, it is a
// thread's, or the process has ended (also when its entry is still held: a zombie on posix, an
// open handle on win32); and when the system will not say. 0 never names a process.
uint64_t processStartTime(uint32_t processId);

} // namespace Kalvor
