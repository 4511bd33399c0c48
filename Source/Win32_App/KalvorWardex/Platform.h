// The few facts about the command line and program files that differ between the platforms.
#pragma once

#include <string>

namespace Kalvor {

// ".exe" on win32, "" on posix.
std::string executableSuffix();
// The characters that begin an option: "-/" on win32, "-" on posix (where "/" begins paths).
std::string optionMarkers();
// The operator's command that sets a registry value: "kalvor-reg" on posix, "reg" on win32.
std::string registryCommand();

} // namespace Kalvor
