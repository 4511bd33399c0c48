// Where this account and this installation keep their files, found without being told: what
// lets a program started from a plain shell, from systemd or at log-on find the same folders.
//
// posix: the state folder is $XDG_STATE_HOME when it is absolute, else <home>/.local/state,
// <home> being $HOME when absolute or else the password file's home of the effective account.
// win32: the state folder is %LOCALAPPDATA%.
#pragma once

#include <optional>
#include <string>

namespace Kalvor {

// The variable's value; nothing when it is not set. win32 compares names without case.
std::optional<std::string> environmentValue(const std::string& name);

// The account's home folder (posix; win32 %USERPROFILE%); empty when none is known.
std::string homeFolder();

// The account's state folder, without a trailing separator; empty when none is known.
std::string accountStateFolder();

// The log folder when nothing names one: "<state>/kalvor/log/" (posix) or
// "<state>\Kalvor\log\" (win32); empty when no state folder is known.
std::string defaultLogFolder();

// The folder of the running program, without a trailing separator.
std::string programFolder();

// The installed shared files (the message catalogs in LogMessages/): "share/kalvor/" beside the
// program's "bin" folder, with a trailing separator.
std::string installedDataFolder();

} // namespace Kalvor
