#include "Win32_App/KalvorWardex/Markers.h"

#include "Common/SystemInfo.h"
#include "Logger/LoggerUnit.h"

namespace Kalvor {

namespace {
const char* const kGlobalName = "WardexMarker";
} // namespace

std::string Markers::keyPathFor(int32_t productVersionTenths) {
    return productVersionTenths > 53 ? "SOFTWARE\\Kalvor\\Resources\\Recorder"
                                     : "SOFTWARE\\Kalvor\\Resources";
}

Markers::Markers(std::shared_ptr<LoggerUnit> logger, std::string keyPath,
                 const std::string& userTag)
    : logger_(std::move(logger)), keyPath_(std::move(keyPath)),
      instanceName_(std::string(kGlobalName) + ":" + userTag) {}

int32_t Markers::readGlobal(int32_t& value) {
    return readKeepingLast(kGlobalName, lastGlobal_, value, /*machineOnly=*/true);
}

int32_t Markers::readInstance(int32_t& value) {
    return readKeepingLast(instanceName_, lastInstance_, value, /*machineOnly=*/false);
}

int32_t Markers::readKeepingLast(const std::string& name, std::optional<int32_t>& last,
                                 int32_t& value, bool machineOnly) {
    std::string fault;
    const int32_t result = machineOnly
                               ? SystemInfo::readMachineInteger(keyPath_, name, value, &fault)
                               : SystemInfo::readInteger(keyPath_, name, value, &fault);
    noteFault(fault);
    if (result == SI_UNREADABLE && last) {
        value = *last;
        return SI_OK;
    }
    if (result == SI_OK)
        last = value;
    else if (result != SI_UNREADABLE)
        last.reset();
    return result;
}

void Markers::noteFault(const std::string& fault) {
    if (fault == fault_)
        return;
    if (fault.empty())
        logger_->debug(1, "Main loop: The registry can be read again.");
    else
        logger_->debug(1,
                       "Main loop: The registry cannot be read; the markers keep the values "
                       "last read. %s",
                       LogParams() << fault);
    fault_ = fault;
}

int32_t Markers::writeInstance(int32_t value) const {
    return SystemInfo::writeValue(keyPath_, instanceName_, value);
}

void Markers::changeMarker(int32_t oldValue, int32_t newValue) const {
    logger_->debug(4, "changeMarker Old:%i New:%i", LogParams() << oldValue << newValue);
    int32_t current = 0;
    const int32_t read = SystemInfo::readInteger(keyPath_, instanceName_, current);
    if (read == SI_OK) {
        if (current != oldValue)
            return;
        if (writeInstance(newValue) != SI_OK)
            logger_->debug(1,
                           "Change marker: Failed to change Registry marker \"%s\" from \"%i\" "
                           "to \"%i\"",
                           LogParams() << instanceName_ << oldValue << newValue);
    } else if (read == SI_MISSING) {
        if (writeInstance(newValue) != SI_OK)
            logger_->debug(1, "Change marker: Failed to set missing Registry marker \"%s\"",
                           LogParams() << instanceName_);
    } else {
        logger_->debug(1, "Failed to change %s", LogParams() << instanceName_);
    }
}

} // namespace Kalvor
