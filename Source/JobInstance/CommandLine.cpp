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

namespace {

// An argument as the C runtime's rules read it back: quoted when it is empty or holds a blank,
// a tab or a quote; a quote escaped, with the backslashes before it (and those at the end of a
// quoted argument) doubled.
std::string quotedArgument(const std::string& word) {
    if (!word.empty() && word.find_first_of(" \t\"") == std::string::npos)
        return word;
    std::string quoted = "\"";
    std::size_t backslashes = 0;
    for (const char byte : word) {
        if (byte == '\\') {
            ++backslashes;
            continue;
        }
        quoted.append(byte == '"' ? backslashes * 2 + 1 : backslashes, '\\');
        backslashes = 0;
        quoted += byte;
    }
    quoted.append(backslashes * 2, '\\');
    return quoted + "\"";
}

} // namespace

std::string joinCommandLine(const std::vector<std::string>& words) {
    std::string line;
    for (std::size_t index = 0; index < words.size(); ++index) {
        if (index == 0)
            line = words[0].find_first_of(" \t") == std::string::npos ? words[0]
                                                                      : "\"" + words[0] + "\"";
        else
            line += " " + quotedArgument(words[index]);
    }
    return line;
}

} // namespace Kalvor
