// The platform's own path separator, written wherever a path rule outputs one: "\" on win32,
// "/" on posix. Input always accepts both (FileUtils::isSeparator).
#pragma once

namespace Kalvor {

extern const char kPathSeparator;

} // namespace Kalvor
