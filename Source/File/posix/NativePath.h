// posix backends accept "\" as a separator, as every path rule does: the one place where a
// path becomes a name for the kernel.
#pragma once

#include <string>

namespace Kalvor {

inline std::string nativePath(std::string path) {
    for (char& byte : path) {
        if (byte == '\\')
            byte = '/';
    }
    return path;
}

} // namespace Kalvor
