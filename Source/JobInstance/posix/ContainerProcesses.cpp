#include "JobInstance/posix/ContainerProcesses.h"

#include "Common/posix/UniqueFd.h"
#include "JobInstance/ProcessLaunch.h"
#include "JobInstance/posix/Pidfd.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace Kalvor {

namespace {

// A small file of a process's folder, whole; "" when it cannot be read.
std::string readSmall(int folder, const char* name) {
    UniqueFd file(::openat(folder, name, O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    std::string text;
    if (!file)
        return text;
    char buffer[4096];
    for (;;) {
        const ssize_t count = ::read(file.get(), buffer, sizeof buffer);
        if (count > 0)
            text.append(buffer, static_cast<std::size_t>(count));
        else if (count == 0 || errno != EINTR)
            return text;
    }
}

// The value of a "Name:" line of /proc/PID/status.
std::string statusField(const std::string& status, const char* name) {
    const std::string key = std::string("\n") + name + ":";
    const std::size_t at = status.find(key);
    if (at == std::string::npos)
        return "";
    const std::size_t start = at + key.size();
    return status.substr(start, status.find('\n', start) - start);
}

struct StatFields {
    char state = 0;
    pid_t group = 0;
};

// The state (field 3) and process group (field 5), counted after the ")" that ends the command
// name, which may itself hold blanks and parentheses.
bool readStat(int folder, StatFields& fields) {
    const std::string line = readSmall(folder, "stat");
    const std::size_t close = line.rfind(')');
    if (close == std::string::npos || close + 2 >= line.size())
        return false;
    fields.state = line[close + 2];
    const char* at = line.c_str() + close + 3;
    char* end = nullptr;
    std::strtol(at, &end, 10); // the parent
    fields.group = static_cast<pid_t>(std::strtol(end, &end, 10));
    return true;
}

bool runsUnderThisAccount(int folder) {
    const std::string uids = statusField(readSmall(folder, "status"), "Uid");
    char* end = nullptr;
    const unsigned long real = std::strtoul(uids.c_str(), &end, 10);
    const unsigned long effective = std::strtoul(end, nullptr, 10);
    return !uids.empty() && real == ::geteuid() && effective == ::geteuid();
}

// Streams the environment, keeping only as much of the current entry as can still match.
bool environmentHolds(int folder, const std::string& entry) {
    UniqueFd file(::openat(folder, "environ", O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    if (!file)
        return false;
    std::string current;
    bool tooLong = false;
    char buffer[16384];
    for (;;) {
        const ssize_t count = ::read(file.get(), buffer, sizeof buffer);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            return !tooLong && current == entry; // the last entry may lack its zero byte
        for (ssize_t i = 0; i < count; ++i) {
            if (buffer[i] == '\0') {
                if (!tooLong && current == entry)
                    return true;
                current.clear();
                tooLong = false;
            } else if (current.size() < entry.size()) {
                current += buffer[i];
            } else {
                tooLong = true;
            }
        }
    }
}

bool isMarked(int folder, const std::string& mark) {
    return runsUnderThisAccount(folder) && environmentHolds(folder, mark);
}

UniqueFd processFolder(pid_t pid) {
    const std::string path = "/proc/" + std::to_string(pid);
    return UniqueFd(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW));
}

bool ended(char state) {
    return state == 'Z' || state == 'X' || state == 'x' || state == 0;
}

} // namespace

std::string containerMark(const std::string& container) {
    return std::string(kContainerVariable) + "=" + container;
}

ContainerScan scanContainer(pid_t group, const std::string& container) {
    ContainerScan scan;
    if (group == 0 && container.empty())
        return scan;
    DIR* proc = ::opendir("/proc");
    if (proc == nullptr)
        return scan;
    const pid_t self = ::getpid();
    const std::string mark = containerMark(container);
    while (const dirent* entry = ::readdir(proc)) {
        const char* name = entry->d_name;
        if (name[0] < '1' || name[0] > '9' || std::strspn(name, "0123456789") != std::strlen(name))
            continue;
        const auto pid = static_cast<pid_t>(std::atol(name));
        UniqueFd folder(::openat(::dirfd(proc), name, O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW));
        StatFields fields;
        if (pid == self || !folder || !readStat(folder.get(), fields) || ended(fields.state))
            continue;
        if (group != 0 && fields.group == group)
            scan.inGroup.push_back(pid);
        else if (!container.empty() && isMarked(folder.get(), mark))
            scan.marked.push_back(pid);
    }
    ::closedir(proc);
    return scan;
}

bool signalMarked(pid_t pid, const std::string& container, int signal) {
    if (pid == ::getpid())
        return false;
    UniqueFd pidfd(openPidfd(pid));
    if (!pidfd)
        return false;
    UniqueFd folder = processFolder(pid);
    if (!folder || !isMarked(folder.get(), containerMark(container)))
        return false;
    // The folder was opened after the pidfd: while the pidfd's process still runs, the folder
    // was its own.
    pollfd watched{pidfd.get(), POLLIN, 0};
    if (::poll(&watched, 1, 0) != 0)
        return false;
    return sendSignal(pidfd.get(), signal, nullptr) == 0;
}

bool ignoresTerminate(pid_t pid) {
    UniqueFd folder = processFolder(pid);
    if (!folder)
        return false;
    const std::string mask = statusField(readSmall(folder.get(), "status"), "SigIgn");
    return (std::strtoull(mask.c_str(), nullptr, 16) >> (SIGTERM - 1) & 1) != 0;
}

} // namespace Kalvor
