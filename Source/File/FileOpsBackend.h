// What each platform supplies to the portable half of FileOps (FileOps.cpp), which keeps the
// rules both platforms share: the search path, lastMoveError, the drive-name and empty-path
// cases of exists.
#pragma once

#include "File/FileOps.h"

#include <cstdint>
#include <string>
#include <vector>

namespace Kalvor::FileOps::Backend {

// 0 on success, else the system error number.
int32_t move(const std::string& source, const std::string& target, bool replace);

// The entries matching the last component of `searchPath` (a directory and a pattern).
std::vector<DirectoryEntry> find(const std::string& searchPath);

// `name` ends in ":".
bool driveExists(const std::string& name);

// Fills `info` (found cleared beforehand) when the path is found.
bool lookUp(const std::string& path, FileInformation& info);

} // namespace Kalvor::FileOps::Backend
