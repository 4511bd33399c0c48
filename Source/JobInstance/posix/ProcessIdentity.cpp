#include "JobInstance/ProcessIdentity.h"

#include "JobInstance/posix/ProgramFile.h"

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

} // namespace

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
