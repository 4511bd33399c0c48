// wardexctl against the real supervisor in a temporary installation: what its status shows of
// a restarted and an inactive application, how stop ends the supervisor, and what it says when
// no supervisor runs.
#include "Installation.h"

#include <gtest/gtest.h>

#include <regex>
#include <thread>

namespace Kalvor {
namespace {

using namespace std::chrono_literals;
using Kalvor::Test::ChildProcess;
using Kalvor::Test::Installation;
using Kalvor::Test::ListedApp;

// Wine's first start of a program can take seconds.
constexpr auto kProgramTime = 30s;

struct CtlRun {
    std::optional<int> exit;
    std::string output; // with line breaks as "\n" on both platforms
};

CtlRun runWardexCtl(const std::vector<std::string>& arguments, bool withErrors = false) {
    ChildProcess program(Kalvor::Test::helperProgramPath("wardexctl"), arguments,
                         ChildProcess::capturing(withErrors));
    EXPECT_TRUE(program.started());
    CtlRun run;
    for (const char byte : program.readToEnd(kProgramTime))
        if (byte != '\r')
            run.output += byte;
    run.exit = program.waitForExit(kProgramTime);
    return run;
}

class WardexCtlEndToEnd : public ::testing::Test {
protected:
    ChildProcess& startSupervising(const std::vector<ListedApp>& apps) {
        ChildProcess& wardex = site_.startSupervising(apps);
        EXPECT_TRUE(site_.waitUntilSupervising()) << site_.logText();
        return wardex;
    }

    Installation site_;
};

TEST_F(WardexCtlEndToEnd, StatusShowsARestartedApplicationAndAnInactiveOne) {
    startSupervising({{"DemoOne"}, {"DemoIdle", false}});
    ASSERT_TRUE(site_.waitUntilAnswering("DemoOne"));
    const auto before = site_.askProcessInfo("DemoOne");
    ASSERT_TRUE(before);
    site_.killApp(*before);
    ASSERT_TRUE(site_.waitForLog("   Successfully restarted application.")) << site_.logText();
    std::optional<Kalvor::Test::ProcessInfo> after;
    ASSERT_TRUE(Kalvor::Test::waitFor([&] {
        after = site_.askProcessInfo("DemoOne");
        return after && after->processId != before->processId;
    }));

    // The status is the one the last pass left: the restart shows once that pass is over.
    const std::string isoTime = "[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}Z";
    const std::regex restarted(
        R"(\{"name": "DemoOne", "id": "DemoOne", "state": "running", "pid": )" +
        std::to_string(after->processId) + R"(, "restarts": [1-9][0-9]*, "last_start": ")" +
        isoTime + R"(", "active": true, )" +
        // Killed: by SIGKILL on posix, by the exit code it was given on win32, never neither.
        R"(("exit_code": null, "exit_signal": 9|"exit_code": [0-9]+, "exit_signal": null), )" +
        R"("reason": null\})");
    CtlRun json;
    EXPECT_TRUE(Kalvor::Test::waitFor(
        [&] {
            json = runWardexCtl({"status", "--json"});
            return json.exit == 0 && std::regex_search(json.output, restarted);
        },
        60s))
        << json.output;
    EXPECT_EQ(json.output.rfind("[\n", 0), 0u) << json.output;
    EXPECT_NE(json.output.find(R"({"name": "DemoIdle", "id": "DemoIdle", "state": "not started", )"
                               R"("pid": null, "restarts": 0, "last_start": null, )"
                               R"("active": false, "exit_code": null, "exit_signal": null, )"
                               R"("reason": null})"),
              std::string::npos)
        << json.output;

    const CtlRun table = runWardexCtl({"status"});
    EXPECT_EQ(table.exit, 0);
    EXPECT_EQ(table.output.rfind("NAME", 0), 0u) << table.output;
    EXPECT_TRUE(std::regex_search(table.output, std::regex("\nDemoIdle +not started +- +0 +- +-\n")))
        << table.output;
}

TEST_F(WardexCtlEndToEnd, ShutdownEndsTheSupervisorThroughItsShutdown) {
    ChildProcess& wardex = startSupervising({{"DemoOne"}});
    ASSERT_TRUE(site_.waitUntilAnswering("DemoOne"));
    const CtlRun stop = runWardexCtl({"shutdown"}, true);
    EXPECT_EQ(stop.exit, 0) << stop.output;
    EXPECT_EQ(wardex.waitForExit(), 0) << site_.logText();
    EXPECT_TRUE(site_.waitForLog("Shutting down the Wardex..."));
    EXPECT_TRUE(site_.waitForLog("IPC from wardexctl_"));
    EXPECT_EQ(site_.marker(site_.instanceMarker()), 3);
    EXPECT_TRUE(site_.waitUntilGone("DemoOne"));
}

// One application is stopped and held, started, and restarted while the other runs on
// untouched; a name the supervisor does not know fails alone.
TEST_F(WardexCtlEndToEnd, StopStartAndRestartOneApplicationWhileTheOtherRuns) {
    startSupervising({{"DemoOne"}, {"DemoTwo"}});
    ASSERT_TRUE(site_.waitUntilAnswering("DemoOne"));
    ASSERT_TRUE(site_.waitUntilAnswering("DemoTwo"));
    const auto two = site_.askProcessInfo("DemoTwo");
    ASSERT_TRUE(two);

    const CtlRun stop = runWardexCtl({"stop", "DemoOne", "NoSuch"}, true);
    EXPECT_EQ(stop.exit, 1) << stop.output;
    EXPECT_NE(stop.output.find("DemoOne: stopping, then held\n"), std::string::npos) << stop.output;
    EXPECT_NE(stop.output.find("NoSuch: no such application"), std::string::npos) << stop.output;
    ASSERT_TRUE(site_.waitUntilGone("DemoOne"));
    const std::regex held(R"(\{"name": "DemoOne", .*"state": "held", .*"reason": "stopped by wardexctl"\})");
    CtlRun json;
    EXPECT_TRUE(Kalvor::Test::waitFor([&] {
        json = runWardexCtl({"status", "--json", "DemoOne"});
        return json.exit == 0 && std::regex_search(json.output, held);
    })) << json.output;
    // Still held some passes later.
    std::this_thread::sleep_for(1500ms);
    json = runWardexCtl({"status", "--json", "DemoOne"});
    EXPECT_TRUE(std::regex_search(json.output, held)) << json.output;
    EXPECT_EQ(json.output.find("DemoTwo"), std::string::npos) << "only the name asked for";

    const CtlRun start = runWardexCtl({"start", "DemoOne"}, true);
    EXPECT_EQ(start.exit, 0) << start.output;
    EXPECT_EQ(start.output, "DemoOne: started\n");
    ASSERT_TRUE(site_.waitUntilAnswering("DemoOne"));
    const auto started = site_.askProcessInfo("DemoOne");
    ASSERT_TRUE(started);

    const CtlRun restart = runWardexCtl({"restart", "DemoOne"}, true);
    EXPECT_EQ(restart.exit, 0) << restart.output;
    std::optional<Kalvor::Test::ProcessInfo> restarted;
    EXPECT_TRUE(Kalvor::Test::waitFor(
        [&] {
            restarted = site_.askProcessInfo("DemoOne");
            return restarted && restarted->processId != started->processId;
        },
        kProgramTime));

    // "kill" names a signal on both platforms: SIGKILL to its group, or the end of its job.
    const CtlRun killed = runWardexCtl({"signal", "DemoOne", "kill"}, true);
    EXPECT_EQ(killed.exit, 0) << killed.output;
    EXPECT_EQ(killed.output, "DemoOne: signalled\n");
    std::optional<Kalvor::Test::ProcessInfo> again;
    EXPECT_TRUE(Kalvor::Test::waitFor(
        [&] {
            again = site_.askProcessInfo("DemoOne");
            return again && restarted && again->processId != restarted->processId;
        },
        kProgramTime))
        << site_.logText();

    const auto twoAfter = site_.askProcessInfo("DemoTwo");
    ASSERT_TRUE(twoAfter);
    EXPECT_EQ(twoAfter->processId, two->processId) << "the other application was touched";
}

// A reconfiguration that cannot be read says where and keeps what runs; one that drops an
// application stops it and takes it out; names that would break a key or a message are left
// out, one line each, and the rest is supervised.
TEST_F(WardexCtlEndToEnd, ReconfigurationSaysWhatFailedKeepsWhatRunsAndStopsWhatWasDropped) {
    startSupervising({{"DemoOne"}, {"DemoTwo"}});
    ASSERT_TRUE(site_.waitUntilAnswering("DemoOne"));
    ASSERT_TRUE(site_.waitUntilAnswering("DemoTwo"));
    const auto one = site_.askProcessInfo("DemoOne");
    ASSERT_TRUE(one);

    const std::string good = Kalvor::Test::readFile(site_.configFile());
    site_.writeRawConfig(good + "\nbroken(String = 'x' { }\n");
    const CtlRun broken = runWardexCtl({"reconfig"}, true);
    EXPECT_EQ(broken.exit, 1) << broken.output;
    EXPECT_NE(broken.output.find("wardex.conf, line "), std::string::npos) << broken.output;
    const auto still = site_.askProcessInfo("DemoOne");
    ASSERT_TRUE(still);
    EXPECT_EQ(still->processId, one->processId);

    site_.installDemo("Demo.Dot");
    site_.writeConfig({{"DemoOne"}, {"Demo.Dot"}, {"Demo/Slash"}});
    const CtlRun dropped = runWardexCtl({"reconfig"}, true);
    EXPECT_EQ(dropped.exit, 0) << dropped.output << site_.logText();
    EXPECT_TRUE(site_.waitUntilGone("DemoTwo")) << site_.logText();
    EXPECT_TRUE(site_.waitForLog("Application \"DemoTwo\" is no longer listed"));
    EXPECT_TRUE(site_.waitForLog("The application name \"Demo.Dot\" cannot be used"));
    EXPECT_TRUE(site_.waitForLog("The application name \"Demo/Slash\" cannot be used"))
        << site_.logText();
    CtlRun json;
    EXPECT_TRUE(Kalvor::Test::waitFor([&] {
        json = runWardexCtl({"status", "--json"});
        return json.exit == 0 && json.output.find("DemoTwo") == std::string::npos;
    })) << json.output;
    EXPECT_NE(json.output.find(R"("name": "DemoOne", "id": "DemoOne", "state": "running")"),
              std::string::npos)
        << json.output;
    EXPECT_EQ(json.output.find("Demo.Dot"), std::string::npos) << json.output;
}

// An ordinary program listed without an editor runs at once; removed again, it is stopped and
// the file is as it was, byte for byte.
TEST_F(WardexCtlEndToEnd, AddThenRemoveOfAProgramLeavesTheConfigurationAsItWas) {
    startSupervising({{"DemoOne"}});
    ASSERT_TRUE(site_.waitUntilAnswering("DemoOne"));
    const std::string before = Kalvor::Test::readFile(site_.configFile());
    const std::string ready = site_.path("web.ready");
    const CtlRun added = runWardexCtl(
        {"add", "web", "--", Kalvor::Test::helperProgramPath("kalvor-job-helper"), "grandchild",
         ready},
        true);
    EXPECT_EQ(added.exit, 0) << added.output;
    // The file's own name, as the user would type it (no doubled backslash on Windows).
    EXPECT_NE(added.output.find("web: added to " + site_.configFile()), std::string::npos)
        << added.output;
    EXPECT_TRUE(Kalvor::Test::waitFor([&] { return Kalvor::Test::fileExists(ready); }, kProgramTime))
        << site_.logText();
    EXPECT_TRUE(Kalvor::Test::waitFor([&] {
        const CtlRun json = runWardexCtl({"status", "--json", "web"});
        return json.output.find(R"("state": "running")") != std::string::npos;
    }));

    const CtlRun removed = runWardexCtl({"remove", "web"}, true);
    EXPECT_EQ(removed.exit, 0) << removed.output;
    EXPECT_EQ(Kalvor::Test::readFile(site_.configFile()), before);
    EXPECT_TRUE(Kalvor::Test::waitFor([&] {
        return runWardexCtl({"status"}).output.find("web") == std::string::npos;
    })) << site_.logText();
    EXPECT_EQ(runWardexCtl({"add", "a.b", "--", "x"}, true).exit, 2);
    EXPECT_EQ(runWardexCtl({"remove", "web"}, true).exit, 1) << "not listed any more";
}

// A crash loop is backed off (starts after 0, 0.5, 1.5, 3.5 and 7.5 s, where every half-second
// pass would start sixteen), and the status tells how the last run ended.
TEST_F(WardexCtlEndToEnd, AProgramThatExitsAtOnceIsBackedOffAndItsExitCodeShown) {
    const std::string helper = "\"" + Kalvor::Test::helperProgramPath("kalvor-job-helper") + "\"";
    site_.writeConfig({{"Quitter", true, true, {{"command(String)", helper + " exit 3"}}}}, 3);
    ChildProcess& wardex = site_.startWardex();
    ASSERT_TRUE(site_.waitForLog("Application \"Quitter\" ended: exit code 3.", kProgramTime))
        << site_.logText();
    const std::regex ended(R"(\{"name": "Quitter", "id": "Quitter", "state": "stopped", )"
                           R"("pid": null, "restarts": [0-9]+, "last_start": "[^"]+", )"
                           R"("active": true, "exit_code": 3, "exit_signal": null, )"
                           R"("reason": "exit code 3"\})");
    CtlRun json;
    EXPECT_TRUE(Kalvor::Test::waitFor(
        [&] {
            json = runWardexCtl({"status", "--json"});
            return json.exit == 0 && std::regex_search(json.output, ended);
        },
        kProgramTime))
        << json.output;
    // A window, not a wait for something: the back-off shows in how few starts it holds.
    std::this_thread::sleep_for(8s);
    const std::size_t starts = site_.logCount("tempting to start application \"Quitter\"") +
                               site_.logCount("tempting to restart application \"Quitter\"");
    EXPECT_GE(starts, 3u) << site_.logText();
    EXPECT_LE(starts, 7u) << site_.logText();
    ASSERT_TRUE(site_.sendToWardex("COMMAND", "DIE"));
    EXPECT_EQ(wardex.waitForExit(), 0);
}

TEST_F(WardexCtlEndToEnd, WithoutASupervisorItExits3) {
    for (const std::vector<std::string>& arguments :
         {std::vector<std::string>{"status"}, std::vector<std::string>{"shutdown"}}) {
        const CtlRun run = runWardexCtl(arguments, true);
        EXPECT_EQ(run.exit, 3) << arguments[0];
        EXPECT_NE(run.output.find("no Wardex answers for this account (mailslot \"Wardex_" +
                                  site_.userTag() + "\")"),
                  std::string::npos)
            << run.output;
    }
}

} // namespace
} // namespace Kalvor
