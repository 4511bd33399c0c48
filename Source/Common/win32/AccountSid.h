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
// The owner this process gives what it makes (the Administrators for an elevated
// administrator; the user's primary group under Wine).
Sid defaultOwnerSid();
Sid wellKnownSid(WELL_KNOWN_SID_TYPE type);

} // namespace Kalvor
