// The real supervisor on a machine of several accounts: only its own account and root steer it,
// and only its own application's process is adopted. The second accounts are account numbers
// without an account, taken with setpriv; that needs root, as CI runs, and skips otherwise.
#include "Installation.h"
#include "posix/ChildProcess.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace Kalvor {
namespace {

using Kalvor::Test::ChildProcess;
using Kalvor::Test::Installation;

constexpr int kOwner = 4711;
constexpr int kStranger = 4712;

std::vector<std::string> asAccount(int account, std::vector<std::string> command) {
    const std::string id = std::to_string(account);
    command.insert(command.begin(),
                   {"--reuid=" + id, "--regid=" + id, "--clear-groups"});
    return command;
}

class OtherAccounts : public ::testing::Test {
protected:
    void SetUp() override {
        if (::geteuid() != 0)
            GTEST_SKIP() << "needs root to run processes as other accounts";
        site_.installDemo("DemoOne");
        site_.writeConfig({{"DemoOne"}});
        // The installation is the owner's; the stranger only reaches the shared folders.
        ::chmod(site_.path("").c_str(), 0755);
        for (const auto& entry : fs::recursive_directory_iterator(site_.path("")))
            ::lchown(entry.path().c_str(), kOwner, kOwner);
        ::lchown(site_.path("").c_str(), kOwner, kOwner);
        site_.actAs(std::to_string(kOwner));
    }
    ChildProcess run(int account, const std::vector<std::string>& command) {
        return ChildProcess("/usr/bin/setpriv", asAccount(account, command));
    }
    // kalvor-ipc send, as that account; its exit value.
    int send(int account, const std::string& type, const std::string& text,
             const std::string& sender) {
        ChildProcess sending = run(account, {Kalvor::Test::helperProgramPath("kalvor-ipc"), "send",
                                             "Wardex_" + std::to_string(kOwner), type, "", text,
                                             sender});
        return sending.wait();
    }

    Installation site_;
};

TEST_F(OtherAccounts, OnlyItsOwnAccountAndRootSteerTheSupervisor) {
    ChildProcess wardex = run(kOwner, {Kalvor::Test::helperProgramPath("wardex")});
    ASSERT_TRUE(site_.waitUntilAnswering("DemoOne")) << site_.logText();
    const std::string ran = site_.path("ran");
    const std::string runLine = Kalvor::Test::helperProgramPath("kalvor-demo") + "|--help";

    // Everything the stranger sends arrives: its status check is answered.
    ASSERT_EQ(send(kStranger, "COMMAND", "STATUS_CHECK", "Spy"), 0);
    ASSERT_TRUE(site_.waitForLog("IPC: Was checked by Spy.")) << site_.logText();
    EXPECT_EQ(send(kStranger, "COMMAND", "DIE", "Spy"), 0);
    EXPECT_EQ(send(kStranger, "COMMAND", "RECONFIG", "Spy"), 0);
    EXPECT_EQ(send(kStranger, "COMMAND", "RUN_PROG" + runLine, "Spy"), 0);
    EXPECT_EQ(send(kStranger, "RUN_PROG", runLine, "Spy"), 0);
    EXPECT_EQ(send(kStranger, "REPLY", "1,1", "DemoOne_4711"), 0);
    // Messages are handled in order: once this one is, the others were.
    ASSERT_EQ(send(kStranger, "COMMAND", "STATUS_CHECK", "Spy again"), 0);
    ASSERT_TRUE(site_.waitForLog("IPC: Was checked by Spy again.")) << site_.logText();
    EXPECT_EQ(site_.logCount("IPC: Dropped"), 1u) << site_.logText();
    EXPECT_TRUE(site_.waitForLog("from account 4712"));
    EXPECT_FALSE(wardex.poll().has_value());
    EXPECT_EQ(site_.logCount("Reconfiguring..."), 0u);
    EXPECT_EQ(site_.logCount("IPC: Received run command"), 0u);

    // Its own account still reconfigures it, and root stops it.
    EXPECT_EQ(send(kOwner, "COMMAND", "RECONFIG", "Owner"), 0);
    EXPECT_TRUE(site_.waitForLog("Finished reconfiguring.")) << site_.logText();
    ASSERT_TRUE(site_.sendToWardex("COMMAND", "DIE"));
    EXPECT_EQ(wardex.wait(), 0) << site_.logText();
    EXPECT_EQ(site_.marker(site_.instanceMarker()), 3);
}

// An application that is a script run by its interpreter line is still known for what it is.
TEST(ScriptApplication, IsAdoptedWhenItRuns) {
    Installation site;
    const std::string script = site.binDirectory() + "/DemoScript";
    std::ofstream(script) << "#!" << Kalvor::Test::helperProgramPath("kalvor-demo") << "\n";
    ::chmod(script.c_str(), 0755);
    site.writeConfig({{"DemoScript"}});
    ChildProcess running(script, {});
    ASSERT_TRUE(site.waitUntilAnswering("DemoScript"));
    ProcessInstance& wardex = site.startWardex();
    EXPECT_TRUE(site.waitForLog("   Captured running application.")) << site.logText();
    EXPECT_EQ(site.logCount("Attempting to start application"), 0u) << site.logText();
    ASSERT_TRUE(site.sendToWardex("COMMAND", "DIE"));
    EXPECT_EQ(site.waitForExit(wardex), 0);
    EXPECT_EQ(running.wait(), 0);
}

} // namespace
} // namespace Kalvor
