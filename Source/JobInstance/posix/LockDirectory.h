// Where this account's named locks live: its own folder in a base every account shares.
#pragma once

#include <string>

namespace Kalvor {

// "<base>/<uid>", the base being $KALVOR_LOCK_DIR, else /tmp/kalvor-locks (sticky, every
// account's), and the folder this account's alone (0700), so that no other account can hold,
// make or replace its locks. Where another account has taken that folder's name,
// $XDG_RUNTIME_DIR/kalvor-locks stands in. Empty, with `why` naming the folder and its fault,
// when neither can be used.
std::string lockDirectory(std::string& why);

} // namespace Kalvor
