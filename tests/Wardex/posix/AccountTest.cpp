// The real supervisor on a machine of several accounts: only its own account and root steer it,
// and only its own application's process is adopted. The second accounts are account numbers
// without an account, taken with setpriv; that needs root, as CI runs, and skips otherwise.
#include "Installation.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <sys/socket.h>
#include <sys/un.h>
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
    int send(int account, const std::string& target, const std::string& type,
             const std::string& text, const std::string& sender) {
        ChildProcess sending = run(account, Kalvor::Test::helperProgramPath("kalvor-ipc"),
                                   {"send", target, type, "", text, sender});
        return sending.waitForExit().value_or(-1);
    }

    Installation site_;
};

// Another account's names are its own: whatever it sends to the owner's supervisor or
// application goes nowhere near them.
TEST_F(OtherAccounts, OnlyItsOwnAccountAndRootReachTheSupervisorAndItsApplications) {
    ChildProcess wardex = run(kOwner, Kalvor::Test::helperProgramPath("wardex"));
    ASSERT_TRUE(site_.waitUntilAnswering("DemoOne")) << site_.logText();
    const auto before = site_.askProcessInfo("DemoOne");
    ASSERT_TRUE(before);
    const std::string runLine = Kalvor::Test::helperProgramPath("kalvor-demo") + "|--help";

    for (const std::string& text : {std::string("STATUS_CHECK"), std::string("DIE"),
                                    std::string("RECONFIG"), "RUN_PROG" + runLine})
        EXPECT_EQ(send(kStranger, "Wardex_4711", "COMMAND", text, "Spy"), 1) << text;
    EXPECT_EQ(send(kStranger, "Wardex_4711", "REPLY", "1,1", "DemoOne_4711"), 1);
    EXPECT_EQ(send(kStranger, "DemoOne_4711", "COMMAND", "DIE", "Spy"), 1);
    // Its own Kalvor_Core hears nothing of the owner's entries.
    ChildProcess core = Kalvor::Test::startAsAccount(
        kStranger, Kalvor::Test::helperProgramPath("kalvor-ipc"),
        {"listen", "Kalvor_Core", "--seconds", "2"}, ChildProcess::capturing());

    // Its own account still reconfigures it and checks on it; root stops it.
    EXPECT_EQ(send(kOwner, "Wardex_4711", "COMMAND", "STATUS_CHECK", "Owner"), 0);
    ASSERT_TRUE(site_.waitForLog("IPC: Was checked by Owner.")) << site_.logText();
    EXPECT_EQ(send(kOwner, "Wardex_4711", "COMMAND", "RECONFIG", "Owner"), 0);
    EXPECT_TRUE(site_.waitForLog("Finished reconfiguring.")) << site_.logText();
    EXPECT_EQ(site_.logCount("Was checked by Spy"), 0u);
    EXPECT_EQ(site_.logCount("Reconfiguring..."), 1u);
    EXPECT_EQ(site_.logCount("IPC: Received run command"), 0u);
    const auto after = site_.askProcessInfo("DemoOne");
    ASSERT_TRUE(after);
    EXPECT_EQ(after->processId, before->processId) << "the stranger's DIE reached it";
    EXPECT_EQ(core.waitForExit(), 0);
    EXPECT_EQ(core.readToEnd(std::chrono::seconds(5)), "");

    ASSERT_TRUE(site_.sendToWardex("COMMAND", "DIE"));
    EXPECT_EQ(wardex.waitForExit(), 0) << site_.logText();
    EXPECT_TRUE(storeHolds(kOwner, "\"WardexMarker:4711\"=dword:00000003"));
}

// What another account may leave in the shared bases: a folder at the owner's number taken
// first, a lock file the owner cannot open, a stale socket at an application's name, a thousand
// wardexctl locks. None of it keeps the owner's supervisor, its application or wardexctl from
// working, or slows them: the owner's runtime folder stands in for both bases.
TEST_F(OtherAccounts, FilesAnotherAccountPlantedKeepNothingFromWorking) {
    const auto plantFile = [](const std::string& path, mode_t mode) {
        std::ofstream(path) << "";
        ::chmod(path.c_str(), mode);
        ::chown(path.c_str(), kStranger, kStranger);
    };
    for (const char* shared : {"mailslots", "locks"}) {
        const std::string base = site_.path(shared);
        const std::string taken = base + "/" + std::to_string(kOwner);
        ASSERT_EQ(::mkdir(taken.c_str(), 0700), 0);
        ::chown(taken.c_str(), kStranger, kStranger);
        plantFile(base + "/Wardex_4711.lock", 0);
        for (int number = 1; number <= 1000; ++number)
            plantFile(base + "/wardexctl_" + std::to_string(number) + ".lock", 0644);
    }
    {
        const std::string stale = site_.path("mailslots/DemoOne_4711");
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        stale.copy(address.sun_path, sizeof address.sun_path - 1);
        const int socket = ::socket(AF_UNIX, SOCK_DGRAM, 0);
        ASSERT_EQ(::bind(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
        ::close(socket);
        ::chown(stale.c_str(), kStranger, kStranger);
    }
    const std::string runtime = site_.path("run-4711");
    ASSERT_EQ(::mkdir(runtime.c_str(), 0700), 0);
    ::chown(runtime.c_str(), kOwner, kOwner);
    Kalvor::Test::ScopedEnv runtimeFolder("XDG_RUNTIME_DIR", runtime);

    ChildProcess wardex = run(kOwner, Kalvor::Test::helperProgramPath("wardex"));
    const auto status = [&](std::string& output) {
        ChildProcess ctl =
            Kalvor::Test::startAsAccount(kOwner, Kalvor::Test::helperProgramPath("wardexctl"),
                                         {"status"}, ChildProcess::capturing(true));
        output = ctl.readToEnd(std::chrono::seconds(20));
        return ctl.waitForExit().value_or(-1);
    };
    std::string table;
    EXPECT_TRUE(Kalvor::Test::waitFor(
        [&] {
            return status(table) == 0 &&
                   std::regex_search(table, std::regex("\nDemoOne +running +[0-9]+"));
        },
        std::chrono::seconds(30)))
        << table << site_.logText();
    const auto asked = std::chrono::steady_clock::now();
    EXPECT_EQ(status(table), 0) << table;
    EXPECT_LT(std::chrono::steady_clock::now() - asked, std::chrono::seconds(2))
        << "no wait on a lock it cannot have";
    EXPECT_TRUE(Kalvor::Test::fileExists(runtime + "/kalvor-mailslots/Wardex_4711"));

    ChildProcess stop = Kalvor::Test::startAsAccount(
        kOwner, Kalvor::Test::helperProgramPath("wardexctl"), {"shutdown"});
    EXPECT_EQ(stop.waitForExit(), 0);
    EXPECT_EQ(wardex.waitForExit(), 0) << site_.logText();
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
