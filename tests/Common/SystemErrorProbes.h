// Real failures of the platform's own calls, for the tests of the error mapping.
#pragma once

#include "Common/SystemError.h"

#include <cstdint>
#include <string>

namespace Kalvor::Test {

// What a failed call left: the number read straight from errno or GetLastError(), and
// lastSystemErrorValue() read right after the call.
struct Provoked {
    int32_t native = 0;
    SystemError error;
};

Provoked openMissingFile(const std::string& path);
// Creates `path` anew where it exists: as a file, and as a folder.
Provoked createExistingFile(const std::string& path);
Provoked createExistingFolder(const std::string& path);
// Asks for a right to the existing regular file that this account lacks even as root: posix
// runs it without execute bits, win32 deletes it while it is read-only. The file stays.
Provoked refuseAccess(const std::string& file);
Provoked closeInvalidHandle();

} // namespace Kalvor::Test
