// The real supervisor against a broken or hostile installation: a garbled registry, catalogs
// that are not files, and failures that it must report where an operator looks (its standard
// error) instead of ending or going on in silence.
#include "IPC/MailSlot.h"
#include "Installation.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace Kalvor {
namespace {

using Kalvor::Test::ChildProcess;
using Kalvor::Test::Installation;
using Kalvor::Test::readFile;

class BadInput : public ::testing::Test {
protected:
    // The supervisor with its standard error kept in a file.
    ChildProcess& startWardex() {
        ChildProcess::Options options;
        options.errorFile = errorFile();
        return site_.startWardex({}, options);
    }
    std::string errorFile() const { return site_.path("wardex.stderr"); }
    std::string errors() const { return readFile(errorFile()); }

    Installation site_;
};

TEST_F(BadInput, AGarbledRegistryLineLeavesItSupervising) {
    site_.installDemo("DemoOne");
    site_.writeConfig({{"DemoOne"}});
    ChildProcess& wardex = startWardex();
    ASSERT_TRUE(site_.waitUntilAnswering("DemoOne")) << site_.logText();
    const std::string hive = site_.path("registry/HKEY_LOCAL_MACHINE.reg");
    const std::string good = readFile(hive);
    std::ofstream(hive, std::ios::app)
        << "\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Other]\r\ngarbage\r\n";
    ASSERT_TRUE(site_.waitForLog("The registry cannot be read")) << site_.logText();
    EXPECT_TRUE(site_.waitForLog("HKEY_LOCAL_MACHINE.reg does not parse (line "));

    // Still supervising: a killed application comes back.
    const auto before = site_.askProcessInfo("DemoOne");
    ASSERT_TRUE(before);
    site_.killApp(*before);
    EXPECT_TRUE(site_.waitForLog("   Successfully restarted application.")) << site_.logText();
    EXPECT_FALSE(wardex.exitCode().has_value());
    EXPECT_EQ(site_.logCount("The registry cannot be read"), 1u);

    std::ofstream(hive, std::ios::trunc | std::ios::binary) << good;
    EXPECT_TRUE(site_.waitForLog("Main loop: The registry can be read again."));
    ASSERT_TRUE(site_.sendToWardex("COMMAND", "DIE"));
    EXPECT_EQ(wardex.waitForExit(), 0) << site_.logText();
    EXPECT_EQ(site_.marker(site_.instanceMarker()), 3);
}

// A FIFO would block the first open for good, and /dev/zero never ends: both are refused as
// catalogs, start-up goes on, and SIGTERM still stops the supervisor.
TEST_F(BadInput, CatalogsThatAreNotFilesNeitherHangNorFloodIt) {
    site_.writeConfig({});
    const std::string catalogs = site_.path("conf/LogMessages/");
    fs::remove(catalogs + "wardex.mess");
    ASSERT_EQ(::mkfifo((catalogs + "wardex.mess").c_str(), 0600), 0);
    fs::remove(catalogs + "configuration.mess");
    fs::create_symlink("/dev/zero", catalogs + "configuration.mess");
    ChildProcess& wardex = startWardex();
    ASSERT_TRUE(site_.waitForLog("(2.23.01)")) << site_.logText();
    EXPECT_TRUE(site_.waitForLog("wardex.mess")) << site_.logText();
    ASSERT_TRUE(wardex.askToClose());
    EXPECT_EQ(wardex.waitForExit(), 0) << site_.logText();
}

// At start nothing was read before: a registry that does not parse ends it, naming the file and
// the line, rather than leave it running on guesses with its log wherever it happens to be.
TEST_F(BadInput, ARegistryThatDoesNotParseAtStartIsNamedOnStandardError) {
    site_.writeConfig({});
    const std::string hive = site_.path("registry/HKEY_LOCAL_MACHINE.reg");
    std::ofstream(hive, std::ios::app) << "\r\ngarbage\r\n";
    ChildProcess& wardex = startWardex();
    EXPECT_EQ(wardex.waitForExit(), 255);
    const std::string text = errors();
    EXPECT_NE(text.find("wardex: could not start: "), std::string::npos) << text;
    EXPECT_NE(text.find(hive + " does not parse (line "), std::string::npos) << text;
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1) << text;
}

TEST_F(BadInput, AConfigurationDirectoryThatIsNotThereIsNamedOnStandardError) {
    fs::remove_all(site_.path("conf"));
    ChildProcess& wardex = startWardex();
    EXPECT_EQ(wardex.waitForExit(), 255);
    const std::string text = errors();
    EXPECT_NE(text.find("wardex: could not start: the configuration directory"), std::string::npos)
        << text;
    EXPECT_NE(text.find(site_.path("conf")), std::string::npos) << text;
}

// Another process holding the supervisor's mailslot name: it ends with 1 instead of running deaf.
TEST_F(BadInput, AMailslotTakenByAnotherProcessEndsItWithOne) {
    site_.writeConfig({});
    MailSlot squatter(MailSlot::kReceiver, "Wardex_" + site_.userTag());
    ChildProcess& wardex = startWardex();
    EXPECT_EQ(wardex.waitForExit(), 1) << site_.logText();
    const std::string text = errors();
    EXPECT_NE(text.find("wardex: stopped: its IPC server could not be created"), std::string::npos)
        << text;
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1) << text;
    EXPECT_NE(site_.logText().find("(2.23.09)"), std::string::npos) << site_.logText();
    EXPECT_EQ(site_.marker(site_.instanceMarker()), 3);
}

TEST_F(BadInput, ALogFileThatCannotBeOpenedIsNamedOnceAndSupervisingGoesOn) {
    site_.installDemo("DemoOne");
    site_.writeConfig({{"DemoOne"}});
    fs::remove_all(site_.path("log"));
    ChildProcess& wardex = startWardex();
    ASSERT_TRUE(site_.waitUntilAnswering("DemoOne"));
    ASSERT_TRUE(site_.sendToWardex("COMMAND", "DIE"));
    EXPECT_EQ(wardex.waitForExit(), 0);
    const std::string text = errors();
    EXPECT_NE(text.find("Cannot open the log file \"" + site_.path("log")), std::string::npos)
        << text;
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1) << text;
}

} // namespace
} // namespace Kalvor
