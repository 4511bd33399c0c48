// What the installation must give a supervisor before it can run: the configuration folder that
// the registry names, and the global marker. Each check logs what it finds; where the
// supervisor cannot go on, it returns why, in words that say what to do (the text of
// "wardex: could not start: ..."). An empty text means it may go on.
#pragma once

#include "Common/SystemInfo.h"

#include <string>

namespace Kalvor {

class LoggerUnit;

namespace SetUpChecks {

// The folder with a backslash appended unless it ends in one or in "/"; empty stays empty.
std::string withTrailingSeparator(std::string folder);

// The folder "ConfigurationDir" names, with its separator, in `folder`: an empty path when it
// names none. The fault when the registry cannot tell: it does not parse, the value is not a
// folder's name, or it names a variable that is not set.
std::string readConfigurationFolder(const LoggerUnit& logger, FolderValue& folder);

// For a folder that is not there. A per-account folder (from REG_EXPAND_SZ, such as
// "%HOME%/.config/kalvor/") is the account's own to have and is made; one named as it stands is
// a set-up fault the operator must hear of, not a supervisor that quietly watches nothing.
std::string makeMissingConfigurationFolder(const LoggerUnit& logger, const FolderValue& folder);

// A supervisor that its first pass would stop for want of the global marker says so at start,
// with the command that sets it, rather than end as if it had been told to. Only a missing
// marker and an unreadable registry are faults; the marker's value is the main loop's.
std::string globalMarkerFault(const LoggerUnit& logger, const std::string& keyPath);

} // namespace SetUpChecks
} // namespace Kalvor
