#include "JobInstance/ProcessIdentity.h"

#include "Common/posix/UniqueFd.h"
#include "JobInstance/posix/ProgramFile.h"

#include <cerrno>
#include <charconv>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace Kalvor {

namespace {

bool sameFile(const std::string& one, const std::string& other) {
    struct stat first = {};
    struct stat second = {};
    return ::stat(one.c_str(), &first) == 0 && ::stat(other.c_str(), &second) == 0 &&
           first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

// The real and effective user ids of the "Uid:" line; false when it cannot be read.
bool processUsers(const std::string& folder, uid_t& real, uid_t& effective) {
    std::ifstream status(folder + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.compare(0, 4, "Uid:") == 0) {
            std::istringstream ids(line.substr(4));
            return static_cast<bool>(ids >> real >> effective);
        }
    }
    return false;
}

std::vector<std::string> commandLine(const std::string& folder) {
    std::ifstream file(folder + "/cmdline", std::ios::binary);
    std::vector<std::string> arguments;
    for (std::string argument; std::getline(file, argument, '\0');)
        arguments.push_back(argument);
    return arguments;
}

// An interpreter started by a script's first line gets the script's path after its own
// options: "#!/bin/sh -e" runs "/bin/sh -e /path/script".
bool runsScript(const std::string& folder, const std::string& program) {
    const std::vector<std::string> arguments = commandLine(folder);
    for (std::size_t index = 1; index < arguments.size(); ++index) {
        const std::string& argument = arguments[index];
        if (!argument.empty() && argument[0] == '-')
            continue;
        const std::string path = argument[0] == '/' ? argument : folder + "/cwd/" + argument;
        return sameFile(path, program);
    }
    return false;
}

// A small file of /proc, whole; false when it cannot be read. Read through the folder's
// descriptor: once the process has gone, its old folder answers nothing, even when a new process
// has the same number.
bool readProcFile(int folder, const char* name, std::string& text) {
    UniqueFd file(::openat(folder, name, O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    if (!file)
        return false;
    text.clear();
    char buffer[4096];
    for (;;) {
        const ssize_t count = ::read(file.get(), buffer, sizeof buffer);
        if (count == 0)
            return true;
        if (count < 0 && errno != EINTR)
            return false;
        if (count > 0)
            text.append(buffer, static_cast<std::size_t>(count));
    }
}

// Whether the "Tgid:" line names the process itself: /proc answers for a thread's id too.
bool leadsItsThreadGroup(const std::string& status, uint32_t processId) {
    const std::string key = "\nTgid:";
    const std::size_t at = status.find(key);
    if (at == std::string::npos)
        return false;
    const std::size_t start = status.find_first_not_of(" \t", at + key.size());
    if (start == std::string::npos)
        return false;
    uint32_t group = 0;
    const char* end = status.data() + status.size();
    const auto parsed = std::from_chars(status.data() + start, end, group);
    return parsed.ec == std::errc() && group == processId;
}

// Field 22 of the stat line. The command name (field 2, in parentheses) may hold blanks and
// parentheses itself, so the fields are counted from after the last ')'; the first of them is
// the state (field 3). A zombie or a dead process has ended: 0.
uint64_t startTimeOfStatLine(const std::string& line) {
    const std::size_t close = line.rfind(')');
    if (close == std::string::npos)
        return 0;
    std::istringstream fields(line.substr(close + 1));
    std::string state;
    if (!(fields >> state) || state == "Z" || state == "X" || state == "x")
        return 0;
    std::string field;
    for (int number = 4; number <= 22; ++number)
        if (!(fields >> field))
            return 0;
    uint64_t ticks = 0;
    const auto parsed = std::from_chars(field.data(), field.data() + field.size(), ticks);
    return parsed.ec == std::errc() && parsed.ptr == field.data() + field.size() ? ticks : 0;
}

} // namespace

uint64_t processStartTime(uint32_t processId) {
    if (processId == 0)
        return 0;
    const std::string path = "/proc/" + std::to_string(processId);
    UniqueFd folder(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW));
    std::string stat;
    std::string status;
    if (!folder || !readProcFile(folder.get(), "stat", stat) ||
        !readProcFile(folder.get(), "status", status) || !leadsItsThreadGroup(status, processId))
        return 0;
    return startTimeOfStatLine(stat);
}

std::string processMismatch(uint32_t processId, uint32_t threadId,
                            const std::string& programPath) {
    const std::string folder = "/proc/" + std::to_string(processId);
    uid_t real = 0;
    uid_t effective = 0;
    if (!processUsers(folder, real, effective))
        return "process " + std::to_string(processId) + " does not exist";
    if (real != ::geteuid() || effective != ::geteuid())
        return "process " + std::to_string(processId) + " runs under account " +
               std::to_string(effective) + ", not " + std::to_string(::geteuid());
    struct stat thread = {};
    if (threadId == 0 ||
        ::stat((folder + "/task/" + std::to_string(threadId)).c_str(), &thread) != 0)
        return "thread " + std::to_string(threadId) + " is not one of process " +
               std::to_string(processId);
    const std::string program = findProgramFile(programPath);
    if (!sameFile(folder + "/exe", program) && !runsScript(folder, program))
        return "process " + std::to_string(processId) + " does not run " + program;
    return "";
}

} // namespace Kalvor
