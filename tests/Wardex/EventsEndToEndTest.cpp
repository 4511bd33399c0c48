// The real supervisor acting on events: many running applications adopted at once after a
// restart, more of them killed than one Windows wait can hold and each end seen by the wait, an
// end whose exit code reads as "still running" seen once, and a crash loop that is still paced.
#include "Installation.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

namespace Kalvor {
namespace {

using Kalvor::Test::ChildProcess;
using Kalvor::Test::Installation;
using Kalvor::Test::ListedApp;

const std::string kEndedLine = "Main loop: ";
const std::string kEndedTail = " application process(es) ended.";

// How many process ends the supervisor's wait has reported, from its log lines.
int endsReported(const Installation& site) {
    const std::string text = site.logText();
    int total = 0;
    for (std::size_t at = text.find(kEndedTail); at != std::string::npos;
         at = text.find(kEndedTail, at + 1)) {
        const std::size_t start = text.rfind(kEndedLine, at);
        if (start != std::string::npos)
            total += std::atoi(text.c_str() + start + kEndedLine.size());
    }
    return total;
}

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

// More applications than the 63 processes one Windows wait can watch beside its event. Each is
// killed in turn: its end wakes the wait, so it is restarted at once rather than at the next
// pass. An end that falls while the loop is checking is found by the check instead, which a
// few may be; an unwatched tail of seven would be too many.
TEST(Events, EachOfMoreApplicationsThanAWindowsWaitHoldsWakesTheWaitWhenKilled) {
    constexpr int kApps = 70;
    constexpr int kFoundByChecks = 3;
    Installation site;
    std::vector<ListedApp> apps;
    for (int index = 0; index < kApps; ++index) {
        apps.push_back({"Many" + std::to_string(index)});
        site.installDemo(apps.back().name);
    }
    site.writeConfig(apps, 4);
    ChildProcess& wardex = site.startWardex();
    std::vector<Kalvor::Test::ProcessInfo> first;
    for (const ListedApp& app : apps) {
        ASSERT_TRUE(site.waitUntilAnswering(app.name, std::chrono::seconds(90))) << app.name;
        const auto info = site.askProcessInfo(app.name, std::chrono::seconds(10));
        ASSERT_TRUE(info) << app.name;
        first.push_back(*info);
    }
    const int endsBefore = endsReported(site);
    for (std::size_t index = 0; index < first.size(); ++index) {
        site.killApp(first[index]);
        ASSERT_TRUE(Kalvor::Test::waitFor(
            [&] { return site.logCount("   Successfully restarted application.") > index; },
            std::chrono::seconds(30)))
            << apps[index].name;
    }
    EXPECT_GE(endsReported(site) - endsBefore, kApps - kFoundByChecks);
    ASSERT_TRUE(site.sendToWardex("COMMAND", "DIE"));
    EXPECT_EQ(wardex.waitForExit(), 0);
}

// Windows reads an exit code of 259 as "still running", and the process's handle stays
// signalled: the wait must report that end once, not wake the loop at every turn. On posix the
// code is cut to 8 bits and the application is restarted as usual.
TEST(Events, AnEndWithTheCodeThatReadsAsRunningWakesTheLoopOnce) {
    Installation site;
    Kalvor::Test::ScopedEnv crashing("KALVOR_DEMO_CRASH_AFTER", "0.2");
    Kalvor::Test::ScopedEnv code("KALVOR_DEMO_CRASH_CODE", "259");
    site.installDemo("Still");
    site.writeConfig({{"Still"}}, 4);
    ChildProcess& wardex = site.startWardex();
    ASSERT_TRUE(site.waitForLog(kEndedTail)) << site.logText();
    const auto tooMany = [&] {
        return endsReported(site) >
               static_cast<int>(site.logCount("   Successfully restarted application.")) + 1;
    };
    // Nothing to wait for: a loop woken again and again would show within this time.
    EXPECT_FALSE(Kalvor::Test::waitFor(tooMany, std::chrono::seconds(2))) << endsReported(site);
    ASSERT_TRUE(site.sendToWardex("COMMAND", "DIE"));
    EXPECT_EQ(wardex.waitForExit(), 0);
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
