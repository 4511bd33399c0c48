#include "DemoOptions.h"

#include "Common/StringUtils.h"

#include <cstdlib>

namespace Kalvor {

const char* const kDemoUsage =
    "Usage: kalvor-demo [--id ID] [--crash-after SECONDS] [--ignore-die] [SCRIPT]\n"
    "  A well-behaved suite application for trying out the supervisor: it listens on the\n"
    "  mailslot ID_USERTAG, answers SEND_PROCESS_INFO with its \"pid,tid\" and exits on DIE.\n"
    "  --id ID               the application id (default: the program's file name, or\n"
    "                        SCRIPT's when it runs as the interpreter of a script file)\n"
    "  --crash-after SECONDS exit with code 3 after that time, as if it had crashed\n"
    "  --ignore-die          stay up when told to DIE\n"
    "  Without the options: KALVOR_DEMO_CRASH_AFTER_<ID> or KALVOR_DEMO_CRASH_AFTER, and\n"
    "  KALVOR_DEMO_IGNORE_DIE_<ID> or KALVOR_DEMO_IGNORE_DIE (1 or 0). A crash ends with\n"
    "  KALVOR_DEMO_CRASH_CODE_<ID> or KALVOR_DEMO_CRASH_CODE when set (0 to 65535).\n"
    "  Ends with 0 on DIE or when asked to close (SIGTERM, WM_CLOSE), 1 when it cannot run,\n"
    "  2 on bad arguments, 3 when it crashes on purpose.\n";

namespace {

double crashSeconds(const std::string& source, const std::string& text) {
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    // The upper bound keeps the milliseconds inside a 32-bit tick difference.
    if (text.empty() || *end != '\0' || !(value >= 0.0) || value > 86400.0 * 24)
        throw DemoUsageError{source + " needs a number of seconds, not \"" + text + "\""};
    return value;
}

int crashCode(const std::string& source, const std::string& text) {
    char* end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || value < 0 || value > 65535)
        throw DemoUsageError{source + " needs an exit code from 0 to 65535, not \"" + text + "\""};
    return static_cast<int>(value);
}

bool switchValue(const std::string& source, const std::string& text) {
    const std::string word = lowerCopy(text);
    if (word == "1" || word == "true" || word == "yes")
        return true;
    if (word.empty() || word == "0" || word == "false" || word == "no")
        return false;
    throw DemoUsageError{source + " needs 1 or 0, not \"" + text + "\""};
}

// The per-application variable first, so one environment can serve several applications.
std::optional<std::pair<std::string, std::string>>
lookUp(const EnvironmentLookup& environment, const std::string& stem, const std::string& id) {
    for (const std::string& name : {stem + "_" + id, stem})
        if (std::optional<std::string> value = environment(name))
            return std::make_pair(name, *value);
    return std::nullopt;
}

} // namespace

std::string programBaseName(const std::string& programPath) {
    const auto slash = programPath.find_last_of("\\/");
    std::string name = slash == std::string::npos ? programPath : programPath.substr(slash + 1);
    if (name.size() > 4 && lowerCopy(name.substr(name.size() - 4)) == ".exe")
        name.resize(name.size() - 4);
    return name;
}

std::optional<std::string> processEnvironment(const std::string& name) {
    if (const char* value = std::getenv(name.c_str()))
        return std::string(value);
    return std::nullopt;
}

DemoOptions parseDemoOptions(const std::vector<std::string>& arguments,
                             const std::string& programPath, const EnvironmentLookup& environment) {
    DemoOptions options;
    std::optional<double> crashAfter;
    std::optional<bool> ignoreDie;
    std::string script;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& word = arguments[i];
        if (word == "--help" || word == "-h") {
            options.help = true;
            return options;
        }
        if (word == "--ignore-die") {
            ignoreDie = true;
        } else if (word == "--id" || word == "--crash-after") {
            if (i + 1 == arguments.size())
                throw DemoUsageError{word + " needs a value"};
            const std::string& value = arguments[++i];
            if (word == "--id")
                options.id = value;
            else
                crashAfter = crashSeconds(word, value);
        } else if (script.empty() && !word.empty() && word[0] != '-') {
            script = word;
        } else {
            throw DemoUsageError{"unexpected argument \"" + word + "\""};
        }
    }
    // Run as a script's interpreter, the demo is the application the script's name says.
    if (options.id.empty())
        options.id = programBaseName(script.empty() ? programPath : script);
    if (options.id.empty())
        throw DemoUsageError{"no application id: give --id ID"};

    if (!crashAfter)
        if (const auto found = lookUp(environment, "KALVOR_DEMO_CRASH_AFTER", options.id))
            crashAfter = crashSeconds(found->first, found->second);
    if (const auto found = lookUp(environment, "KALVOR_DEMO_CRASH_CODE", options.id))
        options.crashCode = crashCode(found->first, found->second);
    if (!ignoreDie)
        if (const auto found = lookUp(environment, "KALVOR_DEMO_IGNORE_DIE", options.id))
            ignoreDie = switchValue(found->first, found->second);
    options.crashAfterSeconds = crashAfter.value_or(0.0);
    options.ignoreDie = ignoreDie.value_or(false);
    return options;
}

} // namespace Kalvor
