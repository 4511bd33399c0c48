#include "Common/StringUtils.h"
#include "Common/UserName.h"

namespace Kalvor {

std::string userTagOf(const std::string& accountName) {
    std::string tag = accountName;
    replaceChar(tag, ' ', '_');
    return tag;
}

std::string currentUserTag() {
    return userTagOf(currentUserName());
}

} // namespace Kalvor
