#include "Win32_App/KalvorWardex/Markers.h"

#include "Common/StringUtils.h"
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
    int32_t result = machineOnly ? SystemInfo::readMachineInteger(keyPath_, name, value, &fault)
                                 : SystemInfo::readInteger(keyPath_, name, value, &fault);
    noteFault(fault);
    if (result == SI_WRONG_TYPE)
        result = readOtherType(name, value, machineOnly);
    else
        typeNotes_.erase(name);
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

// A marker is a REG_DWORD, but `reg add` without /t writes the text "2": a decimal text is read
// as its number. Either way the operator hears once what was found, and again if it changes.
int32_t Markers::readOtherType(const std::string& name, int32_t& value, bool machineOnly) {
    RegistryType type = RegistryType::None;
    std::string bytes;
    if (SystemInfo::readRaw(keyPath_, name, type, bytes, machineOnly) != SI_OK)
        return SI_MISSING;
    const bool text = type == RegistryType::String || type == RegistryType::ExpandString;
    while (text && !bytes.empty() && bytes.back() == '\0')
        bytes.pop_back();
    std::string trimmed = text ? bytes : std::string();
    trim(trimmed);
    const bool number = !trimmed.empty() && trimmed.size() <= 9 &&
                        trimmed.find_first_not_of("0123456789") == std::string::npos;
    const std::string note =
        "Registry marker \"" + name + "\" is a " + registryTypeName(type) + ", not a REG_DWORD" +
        (number ? ": its text \"" + trimmed + "\" is read as that number."
                : text ? ": its text \"" + quotedExcerpt(trimmed) + "\" is no number, so it is ignored."
                       : ", so it is ignored.");
    std::string& noted = typeNotes_[name];
    if (noted != note)
        logger_->debug(1, "%s", LogParams() << note);
    noted = note;
    if (!number)
        return SI_WRONG_TYPE;
    value = static_cast<int32_t>(std::stol(trimmed));
    return SI_OK;
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

int32_t Markers::writeInstance(int32_t value) {
    const bool own = SystemInfo::writesAccountValues(keyPath_);
    if (own && !accountStoreNoted_)
        logger_->debug(1, "Registry marker \"%s\" is kept among this account's own values, in "
                          "%s: it may not change the machine's.",
                       LogParams() << instanceName_ << SystemInfo::accountValuesName(keyPath_));
    accountStoreNoted_ = own;
    return SystemInfo::writeValue(keyPath_, instanceName_, value);
}

// Said once, and again only after a write has worked: a marker that can be written nowhere
// must not add a line to every pass.
bool Markers::setMissingInstance() {
    const bool written = writeInstance(kSupervising) == SI_OK;
    if (!written && !writeFailing_)
        logger_->debug(1, "Main loop: Failed to set missing Registry marker \"%s\"",
                       LogParams() << instanceName_);
    writeFailing_ = !written;
    return written;
}

void Markers::changeMarker(int32_t oldValue, int32_t newValue) {
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
