// The name of the account the process runs as, from which the supervisor makes its user tag.
//
// win32: GetUserNameA; empty when the system cannot tell, so that the caller can fall back.
// posix: the passwd name of the effective user id, or that id in decimal when it has none.
#pragma once

#include <string>

namespace Kalvor {

std::string currentUserName();

} // namespace Kalvor
