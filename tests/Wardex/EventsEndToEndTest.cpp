// The real supervisor acting on events: many running applications adopted at once after a
// restart, and a crash loop that is still paced.
#include "Installation.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

namespace Kalvor {
namespace {

using Kalvor::Test::ChildProcess;
using Kalvor::Test::Installation;
using Kalvor::Test::ListedApp;

TEST(Events, FortyRunningApplicationsAreAdoptedAfterARestartNoneStartedTwice) {
    Installation site;
    std::vector<ListedApp> apps;
    for (int index = 0; index < 40; ++index) {
        apps.push_back({"Demo" + std::to_string(index)});
        site.installDemo(apps.back().name);
    }
    site.writeConfig(apps, 3);
    ChildProcess& first = site.startWardex();
    for (const ListedApp& app : apps)
        ASSERT_TRUE(site.waitUntilAnswering(app.name, std::chrono::seconds(60))) << app.name;
    // Killed, so that it cannot tell its applications to stop: they run on.
    first.kill();
    ASSERT_TRUE(first.exitCode());
    const std::size_t starts = site.logCount("Attempting to start application");
    ASSERT_EQ(starts, 40u);

    ChildProcess& second = site.startWardex();
    EXPECT_TRUE(Kalvor::Test::waitFor(
        [&] { return site.logCount("   Captured running application.") == 40; },
        std::chrono::seconds(60)))
        << site.logCount("   Captured running application.");
    EXPECT_EQ(site.logCount("Attempting to start application"), starts);
    ASSERT_TRUE(site.sendToWardex("COMMAND", "DIE"));
    EXPECT_EQ(second.waitForExit(), 0);
}

// An application that ends right after each start is restarted at the first pass after its
// end, but not more often than about twice a second.
TEST(Events, ACrashLoopIsRestartedAtMostAboutTwiceASecond) {
    Installation site;
    Kalvor::Test::ScopedEnv crashing("KALVOR_DEMO_CRASH_AFTER", "0.05");
    site.installDemo("DemoCrash");
    site.writeConfig({{"DemoCrash"}});
    ChildProcess& wardex = site.startWardex();
    ASSERT_TRUE(site.waitForLog("   Successfully started application.")) << site.logText();
    const auto started = std::chrono::steady_clock::now();
    ASSERT_TRUE(Kalvor::Test::waitFor(
        [&] { return site.logCount("   Successfully restarted application.") >= 4; },
        std::chrono::seconds(30)));
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    const std::size_t restarts = site.logCount("   Successfully restarted application.");
    EXPECT_LE(static_cast<double>(restarts), 2.0 * seconds + 1.0)
        << restarts << " restarts in " << seconds << " s";
    ASSERT_TRUE(site.sendToWardex("COMMAND", "DIE"));
    EXPECT_EQ(wardex.waitForExit(), 0);
}

} // namespace
} // namespace Kalvor
