// What every part of the program logs through: one unit per module.
//
// Debug entries pass when their level is at most the process-wide debug level; catalog entries
// of severity s when s is at least the minimum severity (LogState). An entry that is filtered
// out reports true; one that passes reports whether it was handed on and written, so false also
// without a dispatcher, or when the dispatcher has no messenger. Nothing here throws.
#pragma once

#include "Logger/LogParams.h"

#include <cstdint>
#include <memory>
#include <string>

namespace Kalvor {

class LogDispatcher;

class LoggerUnit {
public:
    // Logs its creation at debug level 1, naming the module.
    LoggerUnit(std::shared_ptr<LogDispatcher> dispatcher, int32_t moduleNumber);
    // Logs its destruction the same way.
    ~LoggerUnit();
    LoggerUnit(const LoggerUnit&) = delete;
    LoggerUnit& operator=(const LoggerUnit&) = delete;

    bool debug(int32_t level, const std::string& text) const;
    // The format's placeholders are filled from the parameters (substitutePlaceholders).
    bool debug(int32_t level, const std::string& format, const LogParams& params) const;

    // Unfiltered: the caller has decided. `parameters` is an encoded LogParams text.
    bool catalogEntry(int32_t severity, int32_t messageNumber, const std::string& parameters) const;

    bool notice(int32_t messageNumber, const LogParams& params = LogParams()) const;
    bool warning(int32_t messageNumber, const LogParams& params = LogParams()) const;
    bool error(int32_t messageNumber, const LogParams& params = LogParams()) const;
    bool critical(int32_t messageNumber, const LogParams& params = LogParams()) const;
    bool fatal(int32_t messageNumber, const LogParams& params = LogParams()) const;

    int32_t moduleNumber() const { return moduleNumber_; }

private:
    bool catalogIfSevere(int32_t severity, int32_t messageNumber, const LogParams& params) const;
    bool sendDebug(int32_t level, const std::string& text) const;

    std::shared_ptr<LogDispatcher> dispatcher_;
    int32_t moduleNumber_;
};

} // namespace Kalvor
