#include "Win32_App/KalvorWardex/AppRecords.h"

#include "JobInstance/posix/LockDirectory.h"

namespace Kalvor {

// Beside the account's named locks: a folder only this account can write to, so nobody else can
// plant records or links there; and it goes with the machine's temporary files at a restart,
// when the recorded processes have gone too.
std::string appRecordPath(const std::string& userTag, std::string& why) {
    why.clear();
    const std::string folder = lockDirectory(why);
    if (folder.empty())
        return "";
    return folder + "/" + appRecordFileName(userTag);
}

} // namespace Kalvor
