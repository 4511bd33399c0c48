// Where this account's named locks live: its own folder in a base every account shares.
#pragma once

#include <string>

namespace Kalvor {

// "<base>/<uid>", the base being $KALVOR_LOCK_DIR, else /tmp/kalvor-locks (sticky, every
// account's), and the folder this account's alone (0700), so that no other account can hold,
// make or replace its locks; where another account has taken that name, the account's runtime
// folder stands in (AccountFolder.h). Empty, with `why` naming the folders and their faults,
// when none can be used.
std::string lockDirectory(std::string& why);

} // namespace Kalvor
