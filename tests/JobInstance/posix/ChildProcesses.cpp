#include "ChildProcesses.h"

#include <csignal>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <string>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace Kalvor::Test {

namespace {

// The parent's pid from /proc/PID/stat: the fourth field, counted after the ")" that ends the
// command name (which may itself hold blanks and parentheses).
pid_t parentOf(const std::string& pid) {
    std::ifstream stat("/proc/" + pid + "/stat");
    std::string text;
    std::getline(stat, text);
    const auto close = text.rfind(')');
    if (close == std::string::npos || close + 4 >= text.size())
        return 0;
    return static_cast<pid_t>(std::atol(text.c_str() + close + 4));
}

} // namespace

std::vector<uint32_t> childProcessIds() {
    std::vector<uint32_t> children;
    DIR* proc = ::opendir("/proc");
    if (proc == nullptr)
        return children;
    const pid_t self = ::getpid();
    while (const dirent* entry = ::readdir(proc)) {
        const std::string name = entry->d_name;
        if (name.find_first_not_of("0123456789") == std::string::npos && parentOf(name) == self)
            children.push_back(static_cast<uint32_t>(std::stoul(name)));
    }
    ::closedir(proc);
    return children;
}

void killChildProcess(uint32_t processId) {
    const auto pid = static_cast<pid_t>(processId);
    ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
}

void endChildSubreaper() {
    ::prctl(PR_SET_CHILD_SUBREAPER, 0, 0, 0, 0);
}

void startDesktopOutsideContainers() {}

} // namespace Kalvor::Test
