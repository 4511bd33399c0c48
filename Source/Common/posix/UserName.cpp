#include "Common/UserName.h"

#include <cerrno>
#include <pwd.h>
#include <unistd.h>
#include <vector>

namespace Kalvor {

std::string currentUserName() {
    const uid_t user = ::geteuid();
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

} // namespace Kalvor
