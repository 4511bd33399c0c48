// Where an account keeps its per-account files of one kind (its mailslots, its named locks):
// its own folder in a base every account shares, "<base>/<uid>", mode 0700 and the account's
// alone, so that no other account can take, block or read what is in it.
//
// Where another account has taken that name first, or something else is there, the account's
// runtime folder stands in: "<runtime>/<kind>", the runtime folder being $XDG_RUNTIME_DIR (the
// calling account's only), else /run/user/<uid> when that account owns it. When neither can be
// used the result is empty and `why` names each folder tried and its fault: callers fail at
// once with it rather than wait.
#pragma once

#include <string>
#include <sys/types.h>

namespace Kalvor {

struct AccountFolderKind {
    const char* baseVariable; // the environment variable that moves the base
    const char* defaultBase;
    const char* kind; // the folder's name inside a runtime folder
};

inline constexpr AccountFolderKind kMailSlotFolders{"KALVOR_MAILSLOT_DIR", "/tmp/kalvor-mailslots",
                                                    "kalvor-mailslots"};
inline constexpr AccountFolderKind kLockFolders{"KALVOR_LOCK_DIR", "/tmp/kalvor-locks",
                                                "kalvor-locks"};

// The base, as the environment sets it now.
std::string accountFolderBase(const AccountFolderKind& kind);

// The folder of `account`, made when missing. Another account's (root only) is made for that
// account; its runtime folder is looked for under /run/user only. A folder found usable is
// remembered for the process's life, per base, account and runtime folder.
std::string accountFolder(const AccountFolderKind& kind, uid_t account, std::string& why);

} // namespace Kalvor
