// The registry markers: the global one that every supervisor of the machine watches, and this
// supervisor's own instance marker ("WardexMarker:" + user tag), with its compare-and-set.
//
// Instance marker values: 1 supervising, 3 stopped, missing is created as 1 by the main loop,
// anything else holds the checks back. The global marker missing or 2 means shut down.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace Kalvor {

class LoggerUnit;

class Markers {
public:
    static constexpr int32_t kSupervising = 1;
    static constexpr int32_t kShutdownValue = 2;
    static constexpr int32_t kStopped = 3;

    // "SOFTWARE\Kalvor\Resources\Recorder" from product version 5.4 (54) on.
    static std::string keyPathFor(int32_t productVersionTenths);

    Markers(std::shared_ptr<LoggerUnit> logger, std::string keyPath, const std::string& userTag);

    // Registry result codes: 0 found, 2 missing, others failures.
    int32_t readGlobal(int32_t& value) const;
    int32_t readInstance(int32_t& value) const;
    int32_t writeInstance(int32_t value) const;
    void changeMarker(int32_t oldValue, int32_t newValue) const;

    const std::string& keyPath() const { return keyPath_; }
    const std::string& instanceName() const { return instanceName_; }

private:
    std::shared_ptr<LoggerUnit> logger_;
    std::string keyPath_;
    std::string instanceName_;
};

} // namespace Kalvor
