// The name of the account the process runs as, and the user tag made from it, which names the
// account's mailslots, locks and log ("Wardex_" + tag and the like).
//
// win32: GetUserNameA; empty when the system cannot tell, so that the caller can fall back.
// posix: the passwd name of the effective user id, or that id in decimal when it has none.
#pragma once

#include <string>

namespace Kalvor {

std::string currentUserName();

// The name of an account given by name or (posix) by number, as currentUserName() would give
// it for that account: a number with a passwd name becomes the name.
std::string accountNameOf(const std::string& account);

// The account name with every blank made "_"; empty for an empty name.
std::string userTagOf(const std::string& accountName);

// userTagOf(currentUserName()): empty when the account name is unknown.
std::string currentUserTag();

} // namespace Kalvor
