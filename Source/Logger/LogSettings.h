// The two stages that bring a program's logging up and keep it in line with its configuration.
//
// startLogging(), before any configuration file is read: the log directory (the one set, else
// the registry's "StartupLogDir", else the account's own log folder, made when missing: never
// the working directory), the debug level ("StartupDebugLevel", 0 when absent) and the
// rotation scheme ("LogFileRotationScheme") come from the registry; then the messenger, the
// dispatcher and the program's logger unit are made. applyConfiguration(), after every read of
// the configuration: "Kalvor.directories.log" moves the log file, and the "log." keys set the
// time mode, rotation (scheme, time, size: 10 MB when absent, keep: every archive when absent),
// minimum severity and debug level, an absent key giving its default.
//
// Both change process-wide logging state (LogState, LogRotation); the owner calls them from one
// thread. Neither throws.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace Kalvor {

class ConfReader;
class LogDispatcher;
class LogMessengerIPC;
class LoggerUnit;

struct LogSettings {
    // Ends with the path separator once logging has started; empty means the working directory.
    std::string logDirectory;
    // Why "StartupLogDir" could not be used (a variable it names is not set, a value of another
    // type, a registry that does not parse), for the owner to log once logging runs.
    std::string startupProblem;
    std::string logFileName;
    int32_t applicationNumber = 0; // the application table's number, also the source number
    int32_t moduleNumber = 0;      // the module the program's own unit logs under
    std::shared_ptr<LogMessengerIPC> messenger;
    std::shared_ptr<LogDispatcher> dispatcher;
    std::shared_ptr<LoggerUnit> loggerUnit; // set once startLogging() succeeded
    std::shared_ptr<const ConfReader> configuration;

    // True once the logger unit exists. With a unit already there it applies the configuration
    // instead, and answers as applyConfiguration() does.
    bool startLogging();
    // False before logging has started; true otherwise, also without a configuration (which
    // then changes nothing).
    bool applyConfiguration();

    // The scheme after the words of a "none,init,time,size" list, taken in order: "none"
    // clears, the others add their bit; other words (compared after trimming) are ignored.
    static int32_t schemeWithWords(int32_t scheme, const std::string& words);
};

} // namespace Kalvor
