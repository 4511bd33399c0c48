// How the demo application learns its id and behaviour from its command line and environment.
#include "DemoOptions.h"

#include <gtest/gtest.h>

#include <map>

namespace Kalvor {
namespace {

using Environment = std::map<std::string, std::string>;

DemoOptions parse(const std::vector<std::string>& arguments, const std::string& program,
                  const Environment& environment = {}) {
    return parseDemoOptions(arguments, program,
                            [&](const std::string& name) -> std::optional<std::string> {
                                const auto found = environment.find(name);
                                if (found == environment.end())
                                    return std::nullopt;
                                return found->second;
                            });
}

TEST(DemoOptions, TheIdIsTheProgramFileNameUnlessGiven) {
    const struct {
        std::vector<std::string> arguments;
        std::string program;
        std::string id;
    } cases[] = {
        {{}, "C:\\Kalvor\\bin\\DemoSteady.exe", "DemoSteady"},
        {{}, "\\work\\demo\\bin/DemoSteady.EXE", "DemoSteady"},
        {{}, "/opt/kalvor/bin/DemoCrashy", "DemoCrashy"},
        {{}, "Plain", "Plain"},
        {{}, "/opt/bin/.exe", ".exe"},
        {{"--id", "Other"}, "/opt/kalvor/bin/DemoSteady", "Other"},
        // As the interpreter of a script: the script names the application.
        {{"/opt/kalvor/bin/DemoScript"}, "/usr/bin/kalvor-demo", "DemoScript"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(parse(c.arguments, c.program).id, c.id) << c.program;
}

TEST(DemoOptions, TheCommandLineWinsOverThePerIdVariableWhichWinsOverTheSharedOne) {
    const struct {
        std::vector<std::string> arguments;
        Environment environment;
        double crashAfter;
        bool ignoreDie;
    } cases[] = {
        {{}, {}, 0.0, false},
        {{}, {{"KALVOR_DEMO_CRASH_AFTER", "7"}, {"KALVOR_DEMO_IGNORE_DIE", "yes"}}, 7.0, true},
        {{},
         {{"KALVOR_DEMO_CRASH_AFTER", "7"},
          {"KALVOR_DEMO_CRASH_AFTER_App", "2.5"},
          {"KALVOR_DEMO_IGNORE_DIE", "1"},
          {"KALVOR_DEMO_IGNORE_DIE_App", "0"}},
         2.5,
         false},
        {{},
         {{"KALVOR_DEMO_CRASH_AFTER_Other", "3"}, {"KALVOR_DEMO_IGNORE_DIE_Other", "1"}},
         0.0,
         false},
        {{"--crash-after", "0.25", "--ignore-die"},
         {{"KALVOR_DEMO_CRASH_AFTER_App", "9"}, {"KALVOR_DEMO_IGNORE_DIE_App", "0"}},
         0.25,
         true},
        {{}, {{"KALVOR_DEMO_IGNORE_DIE_App", ""}}, 0.0, false},
    };
    for (const auto& c : cases) {
        const DemoOptions options = parse(c.arguments, "/bin/App", c.environment);
        EXPECT_EQ(options.crashAfterSeconds, c.crashAfter);
        EXPECT_EQ(options.ignoreDie, c.ignoreDie);
    }
}

TEST(DemoOptions, BadInputIsRefusedNamingWhatWasWrong) {
    const struct {
        std::vector<std::string> arguments;
        std::string program;
        Environment environment;
        std::string named;
    } cases[] = {
        {{"--crash-after"}, "/bin/App", {}, "--crash-after"},
        {{"--crash-after", "soon"}, "/bin/App", {}, "soon"},
        {{"--crash-after", "-1"}, "/bin/App", {}, "-1"},
        {{"--crash-after", "1e12"}, "/bin/App", {}, "1e12"},
        {{"--crash-after", "nan"}, "/bin/App", {}, "nan"},
        {{"--id"}, "/bin/App", {}, "--id"},
        {{"--loud"}, "/bin/App", {}, "--loud"},
        {{}, "/bin/", {}, "--id"},
        {{}, "/bin/App", {{"KALVOR_DEMO_CRASH_AFTER_App", "4s"}}, "KALVOR_DEMO_CRASH_AFTER_App"},
        {{}, "/bin/App", {{"KALVOR_DEMO_IGNORE_DIE", "maybe"}}, "KALVOR_DEMO_IGNORE_DIE"},
    };
    for (const auto& c : cases) {
        try {
            parse(c.arguments, c.program, c.environment);
            ADD_FAILURE() << "accepted " << ::testing::PrintToString(c.arguments);
        } catch (const DemoUsageError& error) {
            EXPECT_NE(error.message.find(c.named), std::string::npos) << error.message;
        }
    }
}

} // namespace
} // namespace Kalvor
