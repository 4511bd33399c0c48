// The real supervisor in a temporary installation with demo applications: what a user sees in
// the log, the registry markers and the processes.
#include "Installation.h"

#include "File/ProcessId.h"
#include "IPC/IPCClient.h"
#include "IPC/IPCMessage.h"
#include "IPC/MailSlot.h"
#include "JobInstance/ThreadMessages.h"
#include "Time/Timer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace Kalvor {
namespace {

using Kalvor::Test::ChildProcess;
using Kalvor::Test::Installation;
using Test::ListedApp;

constexpr int32_t kStartFailure = 0xFF; // -1 as an exit status

class EndToEnd : public ::testing::Test {
protected:
    ChildProcess& startSupervising(const std::vector<ListedApp>& apps) {
        ChildProcess& wardex = site_.startSupervising(apps);
        EXPECT_TRUE(site_.waitUntilSupervising()) << site_.logText();
        return wardex;
    }
    // Ends with the shutdown sequence and the instance marker back at 3.
    void expectOrderlyStop(ChildProcess& wardex) {
        EXPECT_EQ(wardex.waitForExit(), 0) << site_.logText();
        EXPECT_TRUE(site_.waitForLog("Shutting down the Wardex..."));
        EXPECT_TRUE(site_.waitForLog("   Terminating IPC server."));
        EXPECT_EQ(site_.marker(site_.instanceMarker()), 3);
    }

    Installation site_;
};

TEST_F(EndToEnd, StartsTheListedApplicationAndStopsItOnDie) {
    ChildProcess& wardex = startSupervising({{"DemoOne"}});
    EXPECT_TRUE(site_.waitUntilAnswering("DemoOne"));
    EXPECT_TRUE(site_.waitForLog("   Successfully started application."));
    EXPECT_TRUE(site_.waitForLog("Wardex started"));
    ASSERT_TRUE(site_.sendToWardex("COMMAND", "DIE"));
    expectOrderlyStop(wardex);
    EXPECT_TRUE(site_.waitUntilGone("DemoOne"));
}

TEST_F(EndToEnd, SecondSupervisorOfTheUserIsRefused) {
    ChildProcess& first = startSupervising({});
    ChildProcess& second = site_.startWardex();
    EXPECT_EQ(second.waitForExit().value_or(0) & 0xFF, kStartFailure);
    EXPECT_TRUE(site_.waitForLog("Another Wardex is already running for this user"));
    EXPECT_EQ(site_.marker(site_.instanceMarker()), 1);
    EXPECT_FALSE(first.exitCode().has_value());
    ASSERT_TRUE(site_.sendToWardex("COMMAND", "DIE"));
    expectOrderlyStop(first);
}

TEST_F(EndToEnd, KilledApplicationIsRestarted) {
    ChildProcess& wardex = startSupervising({{"DemoOne"}});
    ASSERT_TRUE(site_.waitUntilAnswering("DemoOne"));
    const auto before = site_.askProcessInfo("DemoOne");
    ASSERT_TRUE(before);
    site_.killApp(*before);
    EXPECT_TRUE(site_.waitForLog("   Successfully restarted application."));
    EXPECT_TRUE(site_.waitForLog("The application \"DemoOne\" is not running"));
    std::optional<Kalvor::Test::ProcessInfo> after;
    EXPECT_TRUE(Kalvor::Test::waitFor([&] {
        after = site_.askProcessInfo("DemoOne");
        return after && after->processId != before->processId;
    }));
    ASSERT_TRUE(site_.sendToWardex("COMMAND", "DIE"));
    expectOrderlyStop(wardex);
}

TEST_F(EndToEnd, RunningApplicationIsCapturedNotStartedTwice) {
    site_.installDemo("DemoOne");
    ChildProcess manual(site_.binDirectory() + "/" + Kalvor::Test::demoFileName("DemoOne"), {});
    ASSERT_TRUE(site_.waitUntilAnswering("DemoOne"));
    site_.writeConfig({{"DemoOne"}});
    ChildProcess& wardex = site_.startWardex();
    EXPECT_TRUE(site_.waitForLog("   Captured running application.")) << site_.logText();
    EXPECT_EQ(site_.logCount("Attempting to start application"), 0u);
    ASSERT_TRUE(site_.sendToWardex("COMMAND", "DIE"));
    expectOrderlyStop(wardex);
    // The captured one was told to stop like any other.
    EXPECT_TRUE(manual.waitForExit(std::chrono::seconds(10)));
}

TEST_F(EndToEnd, ReconfigAddsANewlyListedApplication) {
    site_.installDemo("DemoTwo");
    ChildProcess& wardex = startSupervising({{"DemoOne"}});
    ASSERT_TRUE(site_.waitUntilAnswering("DemoOne"));
    site_.writeConfig({{"DemoOne"}, {"DemoTwo"}});
    ASSERT_TRUE(site_.sendToWardex("COMMAND", "RECONFIG"));
    EXPECT_TRUE(site_.waitForLog("Finished reconfiguring."));
    EXPECT_TRUE(site_.waitUntilAnswering("DemoTwo"));
    ASSERT_TRUE(site_.sendToWardex("COMMAND", "DIE"));
    expectOrderlyStop(wardex);
    EXPECT_TRUE(site_.waitUntilGone("DemoTwo"));
}

TEST_F(EndToEnd, DeactivatedApplicationIsToldToDieUntilItStops) {
    ChildProcess& wardex = startSupervising({{"DemoOne"}});
    ASSERT_TRUE(site_.waitUntilAnswering("DemoOne"));
    site_.writeConfig({{"DemoOne", false}});
    ASSERT_TRUE(site_.sendToWardex("COMMAND", "RECONFIG"));
    EXPECT_TRUE(site_.waitForLog("Application \"DemoOne\" will be signaled to shut down."));
    EXPECT_TRUE(site_.waitUntilGone("DemoOne"));
    EXPECT_EQ(site_.logCount("Attempting to restart application"), 0u);
    ASSERT_TRUE(site_.sendToWardex("COMMAND", "DIE"));
    expectOrderlyStop(wardex);
}

TEST_F(EndToEnd, DeletedGlobalMarkerStopsTheSupervisor) {
    ChildProcess& wardex = startSupervising({{"DemoOne"}});
    ASSERT_TRUE(site_.waitUntilAnswering("DemoOne"));
    site_.deleteMarker("WardexMarker");
    EXPECT_TRUE(site_.waitForLog("Main loop: Registry marker not found. Shutting down."));
    expectOrderlyStop(wardex);
    EXPECT_TRUE(site_.waitUntilGone("DemoOne"));
}

TEST_F(EndToEnd, GlobalMarkerTwoStopsTheSupervisor) {
    ChildProcess& wardex = startSupervising({});
    site_.setMarker("WardexMarker", 2);
    EXPECT_TRUE(site_.waitForLog("Main loop: Registry marker has shutdown value. Shutting down."));
    expectOrderlyStop(wardex);
}

TEST_F(EndToEnd, PoliteCloseRequestEndsInTheShutdownSequence) {
    ChildProcess& wardex = startSupervising({});
    // SIGTERM on posix (the session ends), WM_CLOSE to the main thread on win32.
    ASSERT_TRUE(wardex.askToClose());
    expectOrderlyStop(wardex);
}

TEST_F(EndToEnd, InstanceMarkerZeroHoldsTheChecksBack) {
    site_.installDemo("DemoOne");
    site_.writeConfig({{"DemoOne"}});
    site_.setMarker(site_.instanceMarker(), 0);
    ChildProcess& wardex = site_.startWardex();
    // Logged once every 40 passes, about 20 seconds.
    EXPECT_TRUE(site_.waitForLog("but Registry marker prevented it.", std::chrono::seconds(40)));
    EXPECT_EQ(site_.logCount("Getting application"), 0u);
    EXPECT_EQ(site_.marker(site_.instanceMarker()), 0);
    ASSERT_TRUE(site_.sendToWardex("COMMAND", "DIE"));
    EXPECT_EQ(wardex.waitForExit(), 0);
    EXPECT_EQ(site_.marker(site_.instanceMarker()), 0);
}

TEST_F(EndToEnd, RunProgLineWithOneBarStartsAProgram) {
    site_.installDemo("DemoRun");
    ChildProcess& wardex = startSupervising({});
    const std::string program = site_.binDirectory() + "/" + Kalvor::Test::demoFileName("DemoRun");
    ASSERT_TRUE(site_.sendToWardex("RUN_PROG", program));
    EXPECT_TRUE(site_.waitForLog("IPC: Cannot run this."));
    ASSERT_TRUE(site_.sendToWardex("COMMAND", "RUN_PROG" + program + "|"));
    EXPECT_TRUE(site_.waitUntilAnswering("DemoRun"));
    ASSERT_TRUE(site_.sendToWardex("COMMAND", "DIE"));
    expectOrderlyStop(wardex);
}

TEST_F(EndToEnd, MissingIdEndsStartUpNamingTheKey) {
    site_.writeConfig({{"DemoOne", true, false}});
    ChildProcess& wardex = site_.startWardex();
    EXPECT_EQ(wardex.waitForExit().value_or(0) & 0xFF, kStartFailure);
    EXPECT_NE(site_.logText().find("wardex.monitor.DemoOne.id"), std::string::npos)
        << site_.logText();
    EXPECT_EQ(site_.marker(site_.instanceMarker()), 3);
}

// Without a configuration the logger falls back to debug level 0, so from then on only catalog
// entries are written.
TEST_F(EndToEnd, MissingConfigurationDirIsReportedAndTheSupervisorRunsEmpty) {
    site_.removeConfigurationDir();
    ChildProcess& wardex = site_.startWardex();
    EXPECT_TRUE(site_.waitForLog("Could not get configuration dir from system."));
    // Without the catalogs the start-up notice shows as its number.
    EXPECT_TRUE(site_.waitForLog("(2.23.01)")) << site_.logText();
    ASSERT_TRUE(site_.sendToWardex("COMMAND", "DIE"));
    EXPECT_EQ(wardex.waitForExit(), 0);
    EXPECT_EQ(site_.marker(site_.instanceMarker()), 3);
}

TEST_F(EndToEnd, BrokenConfigurationFileIsReportedWithItsLine) {
    site_.writeRawConfig("wardex() = '' {\n  monitor() = '' {\n    Demo(Bool = 'true'\n");
    ChildProcess& wardex = site_.startWardex();
    EXPECT_TRUE(site_.waitForLog("(2.23.01)")) << site_.logText();
    // The catalogs of the configuration directory are read first: the error has its text.
    EXPECT_TRUE(site_.waitForLog("The configuration file \"" + site_.configFile() +
                                 "\" has a syntax error"))
        << site_.logText();
    EXPECT_EQ(site_.logText().find("(Message not found.)"), std::string::npos) << site_.logText();
    EXPECT_NE(site_.logText().find(", line 3."), std::string::npos) << site_.logText();
    ASSERT_TRUE(site_.sendToWardex("COMMAND", "DIE"));
    EXPECT_EQ(wardex.waitForExit(), 0);
    EXPECT_EQ(site_.marker(site_.instanceMarker()), 3);
}

TEST_F(EndToEnd, ConfigurationFileFromTheCommandLine) {
    site_.installDemo("DemoOne");
    site_.writeConfig({{"DemoOne"}});
    const std::string elsewhere = site_.configFile() + ".first";
    std::rename(site_.configFile().c_str(), elsewhere.c_str());
    ChildProcess& wardex = site_.startWardex({"-c", elsewhere});
    EXPECT_TRUE(site_.waitUntilAnswering("DemoOne"));
    ASSERT_TRUE(site_.sendToWardex("COMMAND", "DIE"));
    expectOrderlyStop(wardex);
}

// Something else holds the application's mailslot and answers for it with its own process: the
// answer is checked against the application's program and refused, and the application is
// started rather than taken to be running.
TEST_F(EndToEnd, AnImpostorAnsweringForAnApplicationDoesNotKeepItFromStarting) {
    MailSlot impostor(MailSlot::kReceiver, "DemoOne_" + site_.userTag());
    std::atomic<bool> stop{false};
    std::thread answering([&] {
        while (!stop) {
            std::vector<std::string> lines;
            impostor.receive(lines);
            for (const std::string& line : lines) {
                IPCMessage message;
                if (parseMessageLine(line, message) && message.id == "SEND_PROCESS_INFO")
                    IPCClient(message.sender)
                        .send("REPLY", "SEND_PROCESS_INFO",
                              std::to_string(currentProcessId()) + "," +
                                  std::to_string(currentThreadId()),
                              "DemoOne_" + site_.userTag());
            }
            sleepMilliseconds(10);
        }
    });
    ChildProcess& wardex = startSupervising({{"DemoOne"}});
    EXPECT_TRUE(site_.waitForLog("Could not take over the running application \"DemoOne\""))
        << site_.logText();
    EXPECT_TRUE(site_.waitForLog("Attempting to start application \"DemoOne\"..."));
    EXPECT_TRUE(site_.waitForLog("   Successfully started application."));
    EXPECT_EQ(site_.logCount("   Captured running application."), 0u);
    stop = true;
    answering.join();
    ASSERT_TRUE(site_.sendToWardex("COMMAND", "DIE"));
    expectOrderlyStop(wardex);
}

// On win32 a GUI program: with no console to attach to it prints nothing, and still ends with 0.
TEST(WardexHelp, ExitsWithZero) {
    Kalvor::Test::Installation site;
    ChildProcess help(Kalvor::Test::helperProgramPath("wardex"), {"--help"});
    EXPECT_EQ(help.waitForExit(), 0);
}

// The larger of two message sizes that reach the supervisor whole: 300,000 bytes on posix.
// Under Wine a mailslot datagram is one host socket datagram (about 208 KB at most), and one that
// arrives while the receiver waits is cut to 64 KiB: there the messages are 64,000 bytes.
std::size_t largestMessageText(const std::string& slotName) {
    MailSlot probe(MailSlot::kReceiver, slotName);
    for (const std::size_t size : {300000u, 64000u}) {
        try {
            if (IPCClient(slotName).send("COMMAND", "", std::string(size, 'z')))
                return size;
        } catch (...) {
        }
    }
    return 0;
}

// At debug level 3 every command is quoted in the log: long ones fill it by a kilobyte each at
// most, and a line break in one cannot start a line of its own.
TEST_F(EndToEnd, ReceivedTextsNeitherFillTheLogNorForgeALine) {
    const std::size_t size = largestMessageText("EndToEndProbe_" + site_.userTag());
    ASSERT_GT(size, 0u);
    RecordProperty("messageBytes", std::to_string(size));
    site_.writeConfig({}, 3);
    ChildProcess& wardex = site_.startWardex();
    ASSERT_TRUE(site_.waitForLog("Finished configuring.")) << site_.logText();
    const std::size_t before = site_.logText().size();
    for (int sent = 0; sent < 30; ++sent)
        ASSERT_TRUE(site_.sendToWardex("COMMAND", std::string(size, 'z'))) << sent;
    ASSERT_TRUE(site_.sendToWardex("COMMAND", "x\r\nFATAL    forged"));
    EXPECT_TRUE(site_.waitForLog("IPC: Received command \"x\\r\\nFATAL    forged\"."));
    EXPECT_EQ(site_.logCount("\xE2\x80\xA6(" + std::to_string(size) + " bytes)"), 30u);
    EXPECT_EQ(site_.logCount("\nFATAL"), 0u);
    const std::size_t growth = site_.logText().size() - before;
    EXPECT_LT(growth, 200000u);
    RecordProperty("logGrowthBytes", std::to_string(growth));
    ASSERT_TRUE(site_.sendToWardex("COMMAND", "DIE"));
    expectOrderlyStop(wardex);
}

} // namespace
} // namespace Kalvor
