#include "Win32_App/KalvorWardex/SetUpChecks.h"

#include "File/FileUtils.h"
#include "Logger/LogParams.h"
#include "Logger/LoggerUnit.h"
#include "Win32_App/KalvorWardex/Platform.h"

namespace Kalvor::SetUpChecks {

std::string withTrailingSeparator(std::string folder) {
    if (folder.empty() || (folder.back() != '\\' && folder.back() != '/'))
        folder += '\\';
    return folder;
}

std::string readConfigurationFolder(const LoggerUnit& logger, FolderValue& folder) {
    const int32_t read = SystemInfo::readResourceFolder("ConfigurationDir", folder);
    if (read == SI_OK) {
        if (!folder.path.empty())
            folder.path = withTrailingSeparator(folder.path);
        return "";
    }
    if (folder.problem.empty()) {
        logger.debug(1, "Could not get configuration dir from system.");
        folder = FolderValue();
        return "";
    }
    logger.debug(1, "Could not get configuration dir from system: %s",
                 LogParams() << folder.problem);
    return folder.problem;
}

std::string makeMissingConfigurationFolder(const LoggerUnit& logger, const FolderValue& folder) {
    if (!folder.expanded) {
        logger.debug(1, "The configuration directory \"%s\" does not exist.",
                     LogParams() << folder.path);
        return "the configuration directory \"" + folder.path +
               "\" does not exist: make it, or name another one with " + registryCommand() +
               " add \"HKLM\\" + SystemInfo::kResourceKey + "\" /v ConfigurationDir /d FOLDER /f";
    }
    if (!FileUtils::makeDirectories(folder.path)) {
        logger.debug(1, "The configuration directory \"%s\" cannot be made.",
                     LogParams() << folder.path);
        return "the configuration directory \"" + folder.path + "\" cannot be made";
    }
    logger.debug(1, "Made the configuration directory \"%s\".", LogParams() << folder.path);
    return "";
}

std::string globalMarkerFault(const LoggerUnit& logger, const std::string& keyPath) {
    int32_t value = 0;
    std::string fault;
    const int32_t read = SystemInfo::readMachineInteger(keyPath, "WardexMarker", value, &fault);
    if (read == SI_UNREADABLE) {
        logger.debug(1, "The registry cannot be read: %s", LogParams() << fault);
        return "the registry cannot be read: " + fault;
    }
    if (read != SI_MISSING)
        return "";
    const std::string key = "HKLM\\" + keyPath;
    const std::string why = "the registry value \"WardexMarker\" under \"" + key +
                            "\" is not set, and without it every supervisor stops; set it with: " +
                            registryCommand() + " add \"" + key +
                            "\" /v WardexMarker /t REG_DWORD /d 1 /f";
    logger.debug(1, "Registry marker not found: %s", LogParams() << why);
    return why;
}

} // namespace Kalvor::SetUpChecks
