#include "Common/UserFolders.h"

#include "Common/SystemError.h"

#include <climits>
#include <cstdlib>
#include <pwd.h>
#include <unistd.h>
#include <vector>

namespace Kalvor {

std::optional<std::string> environmentValue(const std::string& name) {
    const char* value = std::getenv(name.c_str());
    if (value == nullptr)
        return std::nullopt;
    return std::string(value);
}

std::string homeFolder() {
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] == '/')
        return home;
    const long suggested = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(suggested > 0 ? static_cast<std::size_t>(suggested) : 1024);
    for (;;) {
        struct passwd entry = {};
        struct passwd* found = nullptr;
        const int error = ::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found);
        if (systemError(error) == std::errc::result_out_of_range && buffer.size() < (1u << 20)) {
            buffer.resize(buffer.size() * 2);
            continue;
        }
        return error == 0 && found != nullptr && found->pw_dir != nullptr ? found->pw_dir : "";
    }
}

std::string accountStateFolder() {
    const char* state = std::getenv("XDG_STATE_HOME");
    if (state != nullptr && state[0] == '/')
        return state;
    const std::string home = homeFolder();
    return home.empty() ? std::string() : home + "/.local/state";
}

std::string defaultLogFolder() {
    const std::string state = accountStateFolder();
    return state.empty() ? std::string() : state + "/kalvor/log/";
}

std::string programFolder() {
    char buffer[PATH_MAX] = {};
    const ssize_t length = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    const std::string self = length > 0 ? std::string(buffer, static_cast<size_t>(length)) : "";
    const auto slash = self.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : self.substr(0, slash);
}

} // namespace Kalvor
