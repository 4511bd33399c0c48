// What a demo application is told to be: its application id and how it misbehaves, from its
// command line and its environment.
//
//   kalvor-demo [--id ID] [--crash-after SECONDS] [--ignore-die] [SCRIPT]
//
// The supervisor starts an application by file name with no arguments, so the id defaults to
// the program's file name without directory and ".exe" (or, when the demo is the interpreter
// named by a script's first line, the script's), and the behaviour can also come from
// the environment that every application of one supervisor shares:
//   KALVOR_DEMO_CRASH_AFTER_<ID>, else KALVOR_DEMO_CRASH_AFTER   seconds (decimals allowed)
//   KALVOR_DEMO_IGNORE_DIE_<ID>,  else KALVOR_DEMO_IGNORE_DIE    1/true/yes or 0/false/no/""
//   KALVOR_DEMO_CRASH_CODE_<ID>,  else KALVOR_DEMO_CRASH_CODE    the crash's exit code
// A command-line option wins over both. Bad input throws DemoUsageError naming what was wrong.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace Kalvor {

struct DemoOptions {
    std::string id;
    double crashAfterSeconds = 0.0; // 0: never crashes
    int crashCode = 3;
    bool ignoreDie = false;
    bool help = false;
};

struct DemoUsageError {
    std::string message;
};

using EnvironmentLookup = std::function<std::optional<std::string>(const std::string& name)>;

extern const char* const kDemoUsage;

// `arguments` excludes the program name; `programPath` is how the program was started (argv[0]).
DemoOptions parseDemoOptions(const std::vector<std::string>& arguments,
                             const std::string& programPath, const EnvironmentLookup& environment);

// "C:\Kalvor\bin\DemoSteady.exe" and "/opt/kalvor/bin/DemoSteady" both give "DemoSteady".
std::string programBaseName(const std::string& programPath);

// The process environment, for parseDemoOptions.
std::optional<std::string> processEnvironment(const std::string& name);

} // namespace Kalvor
