// The posix session signals reach the real supervisor: each ends in the shutdown sequence.
#include "Installation.h"

#include <gtest/gtest.h>

#include <chrono>
#include <dirent.h>
#include <fstream>
#include <ostream>
#include <cstdio>
#include <string>
#include <utility>

#include <signal.h>

namespace Kalvor {
namespace {

struct SignalCase {
    int signal;
    const char* logLine;
};

void PrintTo(const SignalCase& test, std::ostream* out) {
    *out << "signal " << test.signal;
}

class SessionSignal : public ::testing::TestWithParam<SignalCase> {};

TEST_P(SessionSignal, EndsInTheShutdownSequence) {
    Kalvor::Test::Installation site;
    site.writeConfig({});
    Kalvor::Test::ChildProcess& wardex = site.startWardex();
    ASSERT_TRUE(site.waitForLog("Wardex started"));
    ASSERT_EQ(::kill(static_cast<pid_t>(wardex.processId()), GetParam().signal), 0);
    EXPECT_EQ(wardex.waitForExit(), 0);
    EXPECT_TRUE(site.waitForLog(GetParam().logLine)) << site.logText();
    EXPECT_TRUE(site.waitForLog("Shutting down the Wardex..."));
    EXPECT_EQ(site.marker(site.instanceMarker()), 3);
}

INSTANTIATE_TEST_SUITE_P(
    Signals, SessionSignal,
    ::testing::Values(SignalCase{SIGTERM, "Main loop: received shutdown signal from system."},
                      SignalCase{SIGHUP, "Main loop: received shutdown signal from system."},
                      SignalCase{SIGINT, "Main loop: Got Windows message to shut down."}));

// Processes whose command line holds `marker`, zombies left out.
int processesNaming(const std::string& marker) {
    int found = 0;
    DIR* proc = ::opendir("/proc");
    if (!proc)
        return -1;
    while (const dirent* entry = ::readdir(proc)) {
        const std::string pid = entry->d_name;
        if (pid.find_first_not_of("0123456789") != std::string::npos)
            continue;
        std::ifstream cmdline("/proc/" + pid + "/cmdline", std::ios::binary);
        const std::string text((std::istreambuf_iterator<char>(cmdline)), {});
        std::ifstream stat("/proc/" + pid + "/stat");
        const std::string status((std::istreambuf_iterator<char>(stat)), {});
        const std::size_t close = status.rfind(')');
        const bool zombie = close != std::string::npos && close + 2 < status.size() &&
                            status[close + 2] == 'Z';
        if (!zombie && text.find(marker) != std::string::npos)
            ++found;
    }
    ::closedir(proc);
    return found;
}

// A program that ignores DIE, whose child ignores SIGTERM too: the supervisor's SIGTERM still
// ends both, through the polite signal and then the kill, within its stop time-outs.
TEST(StopSequence, ATermOfTheSupervisorEndsAProgramThatIgnoresItAndItsChild) {
    Kalvor::Test::Installation site;
    const std::string ready = site.path("stubborn.ready");
    const std::string command = "\"" + Kalvor::Test::helperProgramPath("kalvor-job-helper") +
                                "\" spawn-child \"" + ready + "\" ignore-close";
    site.writeConfig({{"Stubborn", true, true, {{"command(String)", command},
                                                {"stop-timeout(Integer)", "1"}}}}, 3);
    Kalvor::Test::ChildProcess& wardex = site.startWardex();
    ASSERT_TRUE(Kalvor::Test::waitFor([&] { return Kalvor::Test::fileExists(ready); },
                                      std::chrono::seconds(30)))
        << site.logText();
    EXPECT_EQ(processesNaming(ready), 2);
    const auto asked = std::chrono::steady_clock::now();
    ASSERT_EQ(::kill(static_cast<pid_t>(wardex.processId()), SIGTERM), 0);
    EXPECT_EQ(wardex.waitForExit(), 0);
    EXPECT_TRUE(Kalvor::Test::waitFor([&] { return processesNaming(ready) == 0; },
                                      std::chrono::seconds(10)));
    EXPECT_LT(std::chrono::steady_clock::now() - asked, std::chrono::seconds(3))
        << "two stop time-outs of a second, and no more";
    EXPECT_TRUE(site.waitForLog("\"Stubborn\" did not end on DIE")) << site.logText();
}

// `timeout -s TERM` signals the supervisor's whole process group. The programs are in sessions
// of their own, and nothing is started once the stop is asked: however soon the signal comes,
// nothing is left running.
TEST(StopSequence, ATermToTheSupervisorsGroupLeavesNothingRunning) {
    const std::string helper = "\"" + Kalvor::Test::helperProgramPath("kalvor-job-helper") + "\"";
    Kalvor::Test::ChildProcess::Options group;
    group.ownProcessGroup = true;
    for (int run = 0; run < 20; ++run) {
        Kalvor::Test::Installation site;
        const std::string ready = site.path("program.ready");
        site.writeConfig({{"Program", true, true,
                           {{"command(String)", helper + " grandchild \"" + ready + "\""},
                            {"stop-timeout(Integer)", "0"}}}},
                         3);
        Kalvor::Test::ChildProcess& wardex = site.startWardex({}, group);
        // Early runs signal before the program has started, later ones after.
        if (run >= 5)
            ASSERT_TRUE(Kalvor::Test::waitFor([&] { return Kalvor::Test::fileExists(ready); },
                                              std::chrono::seconds(30)))
                << site.logText();
        else
            ASSERT_TRUE(site.waitForLog("Wardex started")) << site.logText();
        ASSERT_EQ(::kill(-static_cast<pid_t>(wardex.processId()), SIGTERM), 0);
        EXPECT_EQ(wardex.waitForExit(), 0) << "run " << run;
        EXPECT_EQ(processesNaming(ready), 0) << "run " << run << "\n" << site.logText();
    }
}

// wardexctl signal reaches the application's process group, by name with or without "SIG" or
// by number; a name that is no signal fails without touching it.
TEST(OperatorSignal, ReachesTheApplicationsGroupByNameOrNumber) {
    Kalvor::Test::Installation site;
    const std::string ready = site.path("program.ready");
    site.writeConfig({{"Program", true, true,
                       {{"command(String)", "\"" +
                                                Kalvor::Test::helperProgramPath("kalvor-job-helper") +
                                                "\" grandchild \"" + ready + "\""}}}},
                     3);
    Kalvor::Test::ChildProcess& wardex = site.startWardex();
    const auto signal = [&](const std::string& name) {
        Kalvor::Test::ChildProcess ctl(Kalvor::Test::helperProgramPath("wardexctl"),
                                       {"signal", "Program", name},
                                       Kalvor::Test::ChildProcess::capturing(true));
        const std::string output = ctl.readToEnd(std::chrono::seconds(20));
        return std::make_pair(ctl.waitForExit().value_or(-1), output);
    };
    for (const char* name : {"hup", "SIGUSR1", "15"}) {
        ASSERT_TRUE(Kalvor::Test::waitFor([&] { return Kalvor::Test::fileExists(ready); },
                                          std::chrono::seconds(30)))
            << site.logText();
        std::remove(ready.c_str());
        const auto sent = signal(name);
        EXPECT_EQ(sent.first, 0) << name << ": " << sent.second;
    }
    EXPECT_TRUE(site.waitForLog("\"Program\" ended: signal 1 (SIGHUP).")) << site.logText();
    EXPECT_TRUE(site.waitForLog("\"Program\" ended: signal 10 (SIGUSR1).")) << site.logText();
    EXPECT_TRUE(site.waitForLog("\"Program\" ended: signal 15 (SIGTERM).")) << site.logText();
    const auto refused = signal("NOSUCH");
    EXPECT_EQ(refused.first, 1);
    EXPECT_NE(refused.second.find("no signal \"NOSUCH\" here"), std::string::npos)
        << refused.second;
    ASSERT_TRUE(site.sendToWardex("COMMAND", "DIE"));
    EXPECT_EQ(wardex.waitForExit(), 0);
}

} // namespace
} // namespace Kalvor
