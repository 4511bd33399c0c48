#include "Common/UserName.h"

#include <cerrno>
#include <cstdlib>
#include <pwd.h>
#include <unistd.h>
#include <vector>

namespace Kalvor {

namespace {

// The passwd name of the account, or its number in decimal when it has none.
std::string nameOf(uid_t user) {
    const long suggested = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(suggested > 0 ? static_cast<std::size_t>(suggested) : 1024);
    for (;;) {
        struct passwd entry = {};
        struct passwd* found = nullptr;
        const int error = ::getpwuid_r(user, &entry, buffer.data(), buffer.size(), &found);
        if (error == ERANGE && buffer.size() < (1u << 20)) {
            buffer.resize(buffer.size() * 2);
            continue;
        }
        if (error == 0 && found != nullptr && found->pw_name != nullptr && *found->pw_name != '\0')
            return found->pw_name;
        return std::to_string(user);
    }
}

} // namespace

std::string currentUserName() {
    return nameOf(::geteuid());
}

std::string accountNameOf(const std::string& account) {
    if (account.empty() || account.find_first_not_of("0123456789") != std::string::npos)
        return account;
    return nameOf(static_cast<uid_t>(std::strtoul(account.c_str(), nullptr, 10)));
}

} // namespace Kalvor
