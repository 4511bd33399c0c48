// The supervisor object in-process: configuration, the single-instance lock, the markers and
// the main loop's start and stop, with the configuration and applications faked.
#include "Win32_App/KalvorWardex/Wardex.h"
#include "Common/SystemInfo.h"
#include "FakeServices.h"
#include "IPC/MailSlot.h"
#include "Sandbox.h"
#include "Win32_App/KalvorWardex/ApplicationTable.h"
#include "Win32_App/KalvorWardex/Markers.h"

#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <fstream>
#include <thread>

namespace Kalvor {
namespace {

using Test::FakeWardexServices;
using Test::Sandbox;

const std::string kResources = "SOFTWARE\\Kalvor\\Resources";

class WardexTest : public ::testing::Test {
protected:
    WardexTest() {
        SystemInfo::writeResourceString("ConfigurationDir", sandbox_.path() + "/");
        // The global marker, under both keys a product version may choose: without it the
        // supervisor refuses to start.
        SystemInfo::writeValue(kResources, "WardexMarker", 1);
        SystemInfo::writeValue(kResources + "\\Recorder", "WardexMarker", 1);
    }

    std::unique_ptr<Wardex> make(const std::string& commandLine = "dummy") {
        auto services = std::make_unique<FakeWardexServices>();
        fake_ = services.get();
        fake_->configuration.set("Kalvor.directories.conf", "DirName", sandbox_.path() + "/");
        return std::make_unique<Wardex>(commandLine, std::move(services), "-");
    }
    int32_t marker(const std::string& name) {
        int32_t value = -1;
        return SystemInfo::readInteger(kResources, name, value) == SI_OK ? value : -1;
    }
    // Runs the loop of an initialised supervisor on `loop`; true once it supervises.
    bool startLoop(Wardex& wardex, std::thread& loop, std::atomic<bool>& result) {
        const std::string instance = "WardexMarker:" + wardex.userTag();
        SystemInfo::writeValue(kResources, "WardexMarker", 1);
        SystemInfo::writeValue(kResources, instance, 3);
        loop = std::thread([&wardex, &result] { result = wardex.run(); });
        return Kalvor::Test::waitFor([&] { return marker(instance) == 1; });
    }

    Sandbox sandbox_;
    FakeWardexServices* fake_ = nullptr;
};

TEST(WardexNames, UserTagReplacesBlanksAndFallsBackToTheTime) {
    EXPECT_EQ(Wardex::makeUserTag("Jo Ann Smith", 0), "Jo_Ann_Smith");
    EXPECT_EQ(Wardex::makeUserTag("", 1234567), "1234560");
}

TEST(WardexNames, DebugLogNameCarriesTheUserTagBeforeTheExtension) {
    EXPECT_EQ(Wardex::debugLogName("WardexDebug.log", "jo"), "WardexDebug(jo).log");
    EXPECT_EQ(Wardex::debugLogName("logs.d/trace", "jo"), "logs.d/trace(jo)");
}

TEST(WardexNames, MarkerKeyFollowsTheProductVersion) {
    EXPECT_EQ(Markers::keyPathFor(0), kResources);
    EXPECT_EQ(Markers::keyPathFor(53), kResources);
    EXPECT_EQ(Markers::keyPathFor(54), kResources + "\\Recorder");
}

TEST_F(WardexTest, EmptyCommandLineGivesNoArguments) {
    EXPECT_TRUE(make("")->arguments().empty());
    EXPECT_TRUE(make("dummy")->arguments().empty());
}

TEST_F(WardexTest, FirstConfigurationFromTheOptionLaterOnesFromTheConfigurationDir) {
    auto wardex = make("dummy-c /elsewhere/first.conf");
    ASSERT_TRUE(wardex->initialise());
    ASSERT_TRUE(wardex->reconfigure(false));
    const std::vector<std::string> expected{"/elsewhere/first.conf",
                                            sandbox_.path() + "/wardex.conf"};
    EXPECT_EQ(fake_->configuration.loadedFiles, expected);
    EXPECT_EQ(fake_->logName, "WardexDebug(" + wardex->userTag() + ").log");
    EXPECT_TRUE(fake_->log.contains("Finished configuring."));
    EXPECT_TRUE(fake_->log.contains("Finished reconfiguring."));
}

TEST_F(WardexTest, ListedApplicationsAreAddedAndUpdatedInOrder) {
    auto wardex = make();
    fake_->configuration.listApp("First", true, "one");
    fake_->configuration.listApp("Second", false, "two");
    ASSERT_TRUE(wardex->initialise());
    ASSERT_EQ(wardex->applications().count(), 2u);
    fake_->configuration.set("wardex.monitor.Second.active", "Bool", "true");
    fake_->configuration.listApp("Third", true, "three");
    ASSERT_TRUE(wardex->reconfigure(false));
    EXPECT_EQ(wardex->applications().count(), 3u);
    EXPECT_TRUE(wardex->applications().find("Second")->active);
}

TEST_F(WardexTest, MissingIdFailsInitialisationNamingTheKey) {
    auto wardex = make();
    fake_->configuration.listApp("First", true, "one");
    fake_->configuration.values.erase("wardex.monitor.First.id");
    EXPECT_FALSE(wardex->initialise());
    EXPECT_EQ(fake_->log.catalogCount(3, "wardex.monitor.First.id"), 1u);
}

TEST_F(WardexTest, FailedReconfigurationStaysRequested) {
    auto wardex = make();
    ASSERT_TRUE(wardex->initialise());
    wardex->handleMessage("COMMAND", "", "RECONFIG", "");
    fake_->configuration.listApp("Broken", true, "b");
    fake_->configuration.values.erase("wardex.monitor.Broken.active");
    EXPECT_FALSE(wardex->reconfigure(false));
    EXPECT_TRUE(wardex->reconfigureRequested());
}

TEST_F(WardexTest, VersionFileSetsTheProductVersionInTenths) {
    // Texts whose tenths do not fit a number are clamped or, when not numbers at all, ignored.
    const std::pair<const char*, int32_t> cases[] = {
        {"5.35\n", 53}, {"1e10", INT32_MAX}, {"-1e10", INT32_MIN}, {"inf", 0}, {"nan", 0}};
    for (const auto& [text, tenths] : cases) {
        std::ofstream(sandbox_.file("version"), std::ios::trunc) << text;
        auto wardex = make();
        ASSERT_TRUE(wardex->initialise()) << text;
        EXPECT_EQ(wardex->productVersionTenths(), tenths) << text;
    }
}

// A request that arrives while the files are being read must lead to one more reading.
TEST_F(WardexTest, ReconfigureRequestDuringAReadIsKept) {
    auto wardex = make();
    ASSERT_TRUE(wardex->initialise());
    fake_->configuration.onLoad = [&] { wardex->handleMessage("COMMAND", "", "RECONFIG", ""); };
    ASSERT_TRUE(wardex->reconfigure(false));
    EXPECT_TRUE(wardex->reconfigureRequested());
}

TEST_F(WardexTest, ConfigurationDirectoryThatIsNotThereFailsStartNamingIt) {
    const std::string missing = sandbox_.file("nowhere") + "/";
    SystemInfo::writeResourceString("ConfigurationDir", missing);
    auto wardex = make();
    EXPECT_FALSE(wardex->initialise());
    EXPECT_NE(wardex->failure().find(missing), std::string::npos) << wardex->failure();
    EXPECT_TRUE(fake_->configuration.loadedFiles.empty());
}

// Another process holding the supervisor's mailslot name would leave it deaf to DIE and to the
// answers of running applications: it stops instead.
TEST_F(WardexTest, MailslotThatCannotBeCreatedStopsTheSupervisor) {
    auto wardex = make();
    ASSERT_TRUE(wardex->initialise());
    SystemInfo::writeValue(kResources, "WardexMarker", 1);
    MailSlot squatter(MailSlot::kReceiver, "Wardex_" + wardex->userTag());
    EXPECT_FALSE(wardex->run());
    EXPECT_EQ(fake_->log.catalogCount(9, "Wardex_" + wardex->userTag()), 1u);
    EXPECT_NE(wardex->failure().find("Wardex_" + wardex->userTag()), std::string::npos);
    EXPECT_FALSE(fake_->log.contains("Main loop: Running as normal."));
}

TEST_F(WardexTest, SecondSupervisorOfTheUserIsRefused) {
    auto first = make();
    ASSERT_TRUE(first->initialise());
    auto second = make();
    EXPECT_FALSE(second->initialise());
    EXPECT_EQ(fake_->log.catalogCount(2, "Wardex" + second->userTag()), 1u);
    EXPECT_NE(second->failure().find("already running"), std::string::npos);
}

TEST_F(WardexTest, MainLoopSupervisesUntilDieAndLeavesTheMarkerStopped) {
    auto wardex = make();
    ASSERT_TRUE(wardex->initialise());
    const std::string instance = "WardexMarker:" + wardex->userTag();
    std::thread loop;
    std::atomic<bool> result{false};
    const bool supervising = startLoop(*wardex, loop, result);
    wardex->handleMessage("COMMAND", "", "DIE", "");
    loop.join();
    EXPECT_TRUE(supervising);
    EXPECT_TRUE(result);
    EXPECT_TRUE(fake_->log.contains("Main loop has exited."));
    wardex.reset();
    EXPECT_EQ(marker(instance), 3);
}

TEST_F(WardexTest, GlobalMarkerTwoStopsTheLoop) {
    auto wardex = make();
    ASSERT_TRUE(wardex->initialise());
    SystemInfo::writeValue(kResources, "WardexMarker", 2);
    EXPECT_TRUE(wardex->run());
    EXPECT_TRUE(
        fake_->log.contains("Main loop: Registry marker has shutdown value. Shutting down."));
}

// Each source of a stop sets the one flag; the loop then ends with the source's own line, and a
// close request also leaves the instance marker stopped at once.
TEST_F(WardexTest, EveryStopSourceEndsTheRunningLoopWithItsLine) {
    const struct {
        StopFlag::Source source;
        const char* line;
    } cases[] = {{StopFlag::kSessionEnd, "Main loop: received shutdown signal from system."},
                 {StopFlag::kClose, "Main loop: Got Windows message to shut down."},
                 {StopFlag::kCommand, "Main loop has exited."},
                 {StopFlag::kMarker, "Main loop has exited."}};
    for (const auto& entry : cases) {
        auto wardex = make();
        ASSERT_TRUE(wardex->initialise());
        const std::string instance = "WardexMarker:" + wardex->userTag();
        std::thread loop;
        std::atomic<bool> result{false};
        const bool supervising = startLoop(*wardex, loop, result);
        wardex->stopFlag().request(entry.source);
        loop.join();
        EXPECT_TRUE(supervising);
        EXPECT_TRUE(result);
        EXPECT_TRUE(fake_->log.contains(entry.line)) << entry.line;
        EXPECT_EQ(marker(instance) == 3, entry.source == StopFlag::kClose) << entry.line;
    }
}

TEST_F(WardexTest, RefusedSupervisorLeavesTheMarkerAlone) {
    auto first = make();
    ASSERT_TRUE(first->initialise());
    const std::string instance = "WardexMarker:" + first->userTag();
    SystemInfo::writeValue(kResources, instance, 1);
    auto second = make();
    EXPECT_FALSE(second->initialise());
    second.reset();
    EXPECT_EQ(marker(instance), 1);
}

} // namespace
} // namespace Kalvor
