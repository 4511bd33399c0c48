// The real supervisor on a machine of several accounts: only its own account and root steer it,
// and only its own application's process is adopted. The second accounts are account numbers
// without an account, taken with setpriv; that needs root, as CI runs, and skips otherwise.
#include "Installation.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace Kalvor {
namespace {

using Kalvor::Test::ChildProcess;
using Kalvor::Test::Installation;

constexpr int kOwner = 4711;
constexpr int kStranger = 4712;

class OtherAccounts : public ::testing::Test {
protected:
    void SetUp() override {
        if (!Kalvor::Test::canActAsOtherAccounts())
            GTEST_SKIP() << "needs root to run processes as other accounts";
        site_.installDemo("DemoOne");
        site_.writeConfig({{"DemoOne"}});
        // Laid out by root, as an installation is: the machine's registry values and the
        // shared folders are root's. The owner has its log folder and a store of its own for
        // the registry values it writes.
        ::chmod(site_.path("").c_str(), 0755);
        for (const char* shared : {"locks", "mailslots"})
            ::chmod(site_.path(shared).c_str(), 01777);
        ::chmod(site_.path("log").c_str(), 01777);
        for (const int account : {kOwner, kStranger}) {
            const std::string state = stateFolder(account);
            fs::create_directories(state);
            ::chown(state.c_str(), account, account);
        }
        site_.actAs(std::to_string(kOwner));
    }
    std::string stateFolder(int account) const {
        return site_.path("state/" + std::to_string(account));
    }
    // An account's own value, from the store its writes go to.
    bool storeHolds(int account, const std::string& valueLine) const {
        std::ifstream store(stateFolder(account) + "/kalvor/registry/HKEY_LOCAL_MACHINE.reg");
        const std::string text(std::istreambuf_iterator<char>(store), {});
        return text.find(valueLine) != std::string::npos;
    }
    // The account's own store is its XDG_STATE_HOME, handed down to the child.
    ChildProcess run(int account, const std::string& program,
                     const std::vector<std::string>& arguments = {}) {
        Kalvor::Test::ScopedEnv state("XDG_STATE_HOME", stateFolder(account));
        return Kalvor::Test::startAsAccount(account, program, arguments);
    }
    // kalvor-ipc send, as that account; its exit value.
    int send(int account, const std::string& type, const std::string& text,
             const std::string& sender) {
        ChildProcess sending =
            run(account, Kalvor::Test::helperProgramPath("kalvor-ipc"),
                {"send", "Wardex_" + std::to_string(kOwner), type, "", text, sender});
        return sending.waitForExit().value_or(-1);
    }

    Installation site_;
};

TEST_F(OtherAccounts, OnlyItsOwnAccountAndRootSteerTheSupervisor) {
    ChildProcess wardex = run(kOwner, Kalvor::Test::helperProgramPath("wardex"));
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
    EXPECT_FALSE(wardex.exitCode().has_value());
    EXPECT_EQ(site_.logCount("Reconfiguring..."), 0u);
    EXPECT_EQ(site_.logCount("IPC: Received run command"), 0u);

    // Its own account still reconfigures it, and root stops it.
    EXPECT_EQ(send(kOwner, "COMMAND", "RECONFIG", "Owner"), 0);
    EXPECT_TRUE(site_.waitForLog("Finished reconfiguring.")) << site_.logText();
    ASSERT_TRUE(site_.sendToWardex("COMMAND", "DIE"));
    EXPECT_EQ(wardex.waitForExit(), 0) << site_.logText();
    EXPECT_TRUE(storeHolds(kOwner, "\"WardexMarker:4711\"=dword:00000003"));
}

// The machine's values are root's (a 0644 file): each account keeps its markers in a store of
// its own, so both supervise, neither can hold the other's checks back, and root's global
// marker still stops both.
TEST_F(OtherAccounts, TwoAccountsSuperviseSideBySideAndRootStopsBoth) {
    struct stat machine {};
    ASSERT_EQ(::stat(site_.path("registry/HKEY_LOCAL_MACHINE.reg").c_str(), &machine), 0);
    ASSERT_EQ(machine.st_uid, 0u);
    ASSERT_EQ(machine.st_mode & 0777, 0644u);
    ChildProcess owner = run(kOwner, Kalvor::Test::helperProgramPath("wardex"));
    ChildProcess stranger = run(kStranger, Kalvor::Test::helperProgramPath("wardex"));
    ASSERT_TRUE(site_.waitUntilAnswering("DemoOne")) << site_.logText();
    site_.actAs(std::to_string(kStranger));
    ASSERT_TRUE(site_.waitUntilAnswering("DemoOne")) << site_.logText();

    // The stranger's attempt at the owner's instance marker lands in its own store.
    ChildProcess hold = run(kStranger, Kalvor::Test::helperProgramPath("kalvor-reg"),
                            {"add", "HKLM\\SOFTWARE\\Kalvor\\Resources", "/v", "WardexMarker:4711",
                             "/t", "REG_DWORD", "/d", "0", "/f"});
    EXPECT_EQ(hold.waitForExit(), 0);
    EXPECT_TRUE(storeHolds(kStranger, "\"WardexMarker:4711\"=dword:00000000"));
    site_.actAs(std::to_string(kOwner));
    const auto before = site_.askProcessInfo("DemoOne");
    ASSERT_TRUE(before);
    site_.killApp(*before);
    EXPECT_TRUE(site_.waitForLog("   Successfully restarted application.")) << site_.logText();

    site_.setMarker("WardexMarker", 2);
    EXPECT_EQ(owner.waitForExit(), 0);
    EXPECT_EQ(stranger.waitForExit(), 0);
    EXPECT_TRUE(site_.waitForLog("Main loop: Registry marker has shutdown value. Shutting down."));
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
    ChildProcess& wardex = site.startWardex();
    EXPECT_TRUE(site.waitForLog("   Captured running application.")) << site.logText();
    EXPECT_EQ(site.logCount("Attempting to start application"), 0u) << site.logText();
    ASSERT_TRUE(site.sendToWardex("COMMAND", "DIE"));
    EXPECT_EQ(wardex.waitForExit(), 0);
    EXPECT_EQ(running.waitForExit(), 0);
}

} // namespace
} // namespace Kalvor
