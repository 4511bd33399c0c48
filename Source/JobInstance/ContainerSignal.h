// The signals an operator may send an application's container (wardexctl signal NAME SIGNAL).
//
// posix: a signal's name, with or without "SIG" and in any case ("TERM", "sighup"), or its
// number. win32: "close" (WM_CLOSE to its windows and main thread) or "kill" (the whole job
// ended).
#pragma once

#include <cstdint>
#include <string>

namespace Kalvor {

// win32's two, as numbers no posix signal has.
inline constexpr int32_t kCloseSignal = 1001;
inline constexpr int32_t kKillSignal = 1002;

// 0 when the text names none this platform has.
int32_t containerSignalNamed(const std::string& text);

} // namespace Kalvor
