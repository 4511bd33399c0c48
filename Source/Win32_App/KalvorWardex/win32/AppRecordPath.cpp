#include "Win32_App/KalvorWardex/AppRecords.h"

#include "Common/SystemError.h"
#include "File/FileUtils.h"

#include "Common/win32/Windows.h"

namespace Kalvor {

namespace {

// The variable's value; empty when it is not set (or longer than a path can be).
std::string environmentValue(const char* name) {
    char buffer[MAX_PATH * 4];
    const DWORD length = ::GetEnvironmentVariableA(name, buffer, sizeof buffer);
    return length > 0 && length < sizeof buffer ? std::string(buffer, length) : "";
}

} // namespace

// The account's local application data, which no other account can write to.
std::string appRecordPath(const std::string& userTag, std::string& why) {
    why.clear();
    std::string folder = environmentValue("LOCALAPPDATA");
    if (!folder.empty()) {
        FileUtils::stripTrailingSeparators(folder);
        folder += "\\Kalvor";
        if (!FileUtils::makeDirectories(folder)) {
            why = "cannot create the folder " + folder + ": " + systemErrorText(lastSystemError());
            return "";
        }
    } else {
        char buffer[MAX_PATH + 1];
        const DWORD length = ::GetTempPathA(sizeof buffer, buffer);
        if (length == 0 || length >= sizeof buffer) {
            why = "neither LOCALAPPDATA nor a temporary folder is known";
            if (length == 0)
                why += ": " + systemErrorText(lastSystemError());
            return "";
        }
        folder.assign(buffer, length);
        FileUtils::stripTrailingSeparators(folder);
    }
    return folder + "\\" + appRecordFileName(userTag);
}

} // namespace Kalvor
