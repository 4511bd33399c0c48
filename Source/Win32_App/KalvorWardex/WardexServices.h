// What the supervisor is built on, behind one seam: the logger's two start-up stages, the
// configuration reader, the application services and the clock. The product's version
// (makeSystemServices) uses the suite's logger settings and configuration reader; tests put in
// a configuration of their own.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace Kalvor {

class AppServices;
class Clock;
class LogDispatcher;
class LoggerUnit;

// The typed lookups the supervisor uses; result codes as the configuration reader's (0 found,
// 2 missing, others for unusable values).
class ConfigSource {
public:
    virtual ~ConfigSource() = default;
    // Reads the file, replacing what was read before; failures are logged, never thrown, and
    // returned ("<file>, line N: why"); empty when the file was read whole. A file that does
    // not parse leaves what was read before (ConfReader.h).
    virtual std::string load(const std::string& file) = 0;
    virtual int32_t getSubObjects(const std::string& key, std::vector<std::string>& names) = 0;
    virtual int32_t getBool(const std::string& key, bool& value) = 0;
    virtual int32_t getString(const std::string& key, std::string& value) = 0;
    virtual int32_t getInteger(const std::string& key, int32_t& value) = 0;
    virtual int32_t getDirName(const std::string& key, std::string& value) = 0;
};

class WardexServices {
public:
    virtual ~WardexServices() = default;

    // Stage one of logging, from the registry; false when it fails.
    virtual bool startLogging(const std::string& debugLogName, int32_t moduleNumber) = 0;
    // Stage two, from the configuration last loaded.
    virtual void applyLogConfiguration() = 0;
    virtual std::shared_ptr<LoggerUnit> logger() = 0;
    virtual std::shared_ptr<LogDispatcher> dispatcher() = 0;
    // The log file's path as it is now; empty when there is none.
    virtual std::string logFilePath() { return ""; }
    // Why the registry's start-up log folder was not used; empty when it was, or named none.
    virtual std::string loggingProblem() { return ""; }

    // Makes the configuration reader; false when it cannot be made.
    virtual bool createConfig() = 0;
    virtual ConfigSource& config() = 0;

    virtual AppServices& apps() = 0;
    virtual const Clock& clock() = 0;
};

std::unique_ptr<WardexServices> makeSystemServices();

} // namespace Kalvor
