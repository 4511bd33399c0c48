// The registry markers: the global one that every supervisor of the machine watches, and this
// supervisor's own instance marker ("WardexMarker:" + user tag), with its compare-and-set.
//
// Instance marker values: 1 supervising, 3 stopped, missing is created as 1 by the main loop,
// anything else holds the checks back. The global marker missing or 2 means shut down.
//
// The global marker is read from the machine's values only: an account's own store (posix)
// cannot hide root's stop from its supervisor.
//
// A marker of another type than REG_DWORD is named once; one holding a decimal text (what
// `reg add` without /t writes) is read as that number.
//
// A registry that cannot be read (a hive file that does not parse) says nothing about either
// marker, so the main loop's reads keep the value each marker had when last read; the fault is
// logged once when it appears or changes, and once more when it is gone.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
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

    // Registry result codes: 0 found, 2 missing, others failures. While the registry cannot
    // be read, SI_OK with the value last read, or SI_UNREADABLE when none was read before.
    int32_t readGlobal(int32_t& value);
    int32_t readInstance(int32_t& value);
    // Where this account may not change the machine's values, its instance marker goes to its
    // own store, which readInstance() reads first; that is logged once.
    int32_t writeInstance(int32_t value);
    // The instance marker made "supervising"; false when it could not be written.
    bool setMissingInstance();
    void changeMarker(int32_t oldValue, int32_t newValue);

    const std::string& keyPath() const { return keyPath_; }
    const std::string& instanceName() const { return instanceName_; }

private:
    int32_t readKeepingLast(const std::string& name, std::optional<int32_t>& last,
                            int32_t& value, bool machineOnly);
    int32_t readOtherType(const std::string& name, int32_t& value, bool machineOnly);
    void noteFault(const std::string& fault);

    std::shared_ptr<LoggerUnit> logger_;
    std::string keyPath_;
    std::string instanceName_;
    std::optional<int32_t> lastGlobal_;
    std::optional<int32_t> lastInstance_;
    std::string fault_; // the registry fault last logged; empty while it reads well
    std::map<std::string, std::string> typeNotes_; // by marker: what was said of its type
    bool accountStoreNoted_ = false;
    bool writeFailing_ = false;
};

} // namespace Kalvor
