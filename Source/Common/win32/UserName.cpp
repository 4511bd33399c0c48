#include "Common/UserName.h"

#include "Common/win32/Windows.h"

namespace Kalvor {

std::string currentUserName() {
    char buffer[256] = {};
    DWORD size = sizeof buffer;
    // The size returned counts the terminating zero.
    if (!::GetUserNameA(buffer, &size) || size == 0)
        return std::string();
    return std::string(buffer, size - 1);
}

std::string accountNameOf(const std::string& account) {
    return account;
}

} // namespace Kalvor
