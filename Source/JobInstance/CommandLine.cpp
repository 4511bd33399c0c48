#include "JobInstance/CommandLine.h"

namespace Kalvor {

namespace {

bool isSeparator(char c) {
    return c == ' ' || c == '\t';
}

} // namespace

std::string buildCommandLine(const std::string& programPath, const std::string& arguments) {
    std::string line =
        programPath.find(' ') == std::string::npos ? programPath + " " : "\"" + programPath + "\" ";
    return line + arguments;
}

std::vector<std::string> splitCommandLine(const std::string& commandLine) {
    const std::string& line = commandLine;
    const std::size_t size = line.size();
    std::size_t at = 0;

    std::string program;
    for (bool quoted = false; at < size; ++at) {
        if (line[at] == '"')
            quoted = !quoted;
        else if (!quoted && isSeparator(line[at]))
            break;
        else
            program += line[at];
    }
    std::vector<std::string> arguments{program};

    for (;;) {
        while (at < size && isSeparator(line[at]))
            ++at;
        if (at == size)
            return arguments;
        std::string argument;
        bool quoted = false;
        while (at < size && (quoted || !isSeparator(line[at]))) {
            if (line[at] == '\\') {
                std::size_t count = 0;
                for (; at < size && line[at] == '\\'; ++at)
                    ++count;
                const bool beforeQuote = at < size && line[at] == '"';
                argument.append(beforeQuote ? count / 2 : count, '\\');
                if (beforeQuote && count % 2 == 1) {
                    argument += '"';
                    ++at;
                }
            } else if (line[at] == '"') {
                if (quoted && at + 1 < size && line[at + 1] == '"') {
                    argument += '"';
                    at += 2;
                } else {
                    quoted = !quoted;
                    ++at;
                }
            } else {
                argument += line[at++];
            }
        }
        arguments.push_back(argument);
    }
}

} // namespace Kalvor
