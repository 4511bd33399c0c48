// What the job helper needs of the platform beyond the library.
#pragma once

#include <cstdint>
#include <string>

namespace Kalvor::Test {

uint32_t ownProcessId();
std::string ownProgramPath();
// Leaves the process group and session it was started in, as a daemon does (posix: setsid).
// win32: nothing; a process cannot leave its job object.
void leaveSession();

// The "window" mode: a top-level window (never shown) whose WM_CLOSE ends the program with
// kClosedByWindow, while a WM_CLOSE posted to the thread alone is ignored; `ready` is called
// once the window exists. posix has no windows: returns -1 at once.
inline constexpr int kClosedByWindow = 7;
int runWindow(const std::string& ready, uint32_t lifetimeMs);

// The "send-raw" mode: `count` datagrams of `text` straight to the Unix socket at `path`, as a
// program that does not use the library would send them; waits while the receiver is full.
// 0 when all went, 1 otherwise. win32: -1 at once.
int sendRawDatagrams(const std::string& path, const std::string& text, long count);

} // namespace Kalvor::Test
