// Security identifiers of accounts, as byte strings: this process's account, a process's
// account, and the system's well-known ones. Empty when the system cannot tell.
#pragma once

#include "Common/win32/Windows.h"

#include <vector>

namespace Kalvor {

using Sid = std::vector<BYTE>;

Sid currentAccountSid();
// `process` needs PROCESS_QUERY_LIMITED_INFORMATION.
Sid processAccountSid(HANDLE process);
Sid wellKnownSid(WELL_KNOWN_SID_TYPE type);

} // namespace Kalvor
