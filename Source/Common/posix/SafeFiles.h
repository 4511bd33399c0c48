// Folders and files on paths that another account may have prepared. In a folder that every
// account can write (/tmp and its kind), nothing here follows a link, blocks on a FIFO, takes
// over a folder or file of another account, or changes the rights of a file through its path.
//
// Each returns an empty result (ok()) or the errno with a text naming the path and the fault.
#pragma once

#include "Common/posix/UniqueFd.h"

#include <string>
#include <sys/types.h>

namespace Kalvor {

struct SafePathResult {
    int error = 0;
    std::string why;

    bool ok() const { return error == 0; }
};

// A folder every account uses (the mailslots, the base of the lock folders). Missing parts are
// made, the last one sticky and open to all (01777). An existing folder is accepted only when
// it is a real directory, not a link, owned by root or this account, and sticky when others
// can write to it.
SafePathResult ensureSharedStickyDir(const std::string& path);

// A folder of this account alone (0700 when made). Missing parents are made with 0700 too. It
// is accepted only when it is a real directory that this account owns and that nobody else can
// write to.
SafePathResult ensureAccountDir(const std::string& path);
// The same for another account's folder (root only): made for `owner`, and accepted only when
// `owner` has it.
SafePathResult ensureAccountDir(const std::string& path, uid_t owner);

// Opens `path` (O_RDONLY, O_WRONLY or O_RDWR in `flags`) without following a link or blocking:
// an existing file is opened as it is; a missing one is made with O_EXCL and exactly `mode`
// (set on the descriptor). Only a regular file is accepted. On failure the descriptor is empty
// and `result` says why.
UniqueFd openNoFollow(const std::string& path, int flags, mode_t mode, SafePathResult& result);

} // namespace Kalvor
