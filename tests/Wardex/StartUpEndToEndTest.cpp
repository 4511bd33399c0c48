// What the real supervisor does at start-up with an installation that is not ready: each fault
// ends it at once with a non-zero exit and one line on standard error that says what to do;
// a first start without a configuration file runs, with nothing to supervise.
#include "Installation.h"

#include "Common/SystemInfo.h"
#include "Common/UserFolders.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace Kalvor {
namespace {

using Kalvor::Test::ChildProcess;
using Kalvor::Test::Installation;
using Kalvor::Test::ScopedEnv;

constexpr int32_t kStartFailure = 0xFF; // -1 as an exit status
const std::string kResources = "SOFTWARE\\Kalvor\\Resources";

void writeExpandable(const std::string& name, const std::string& text) {
    ASSERT_EQ(SystemInfo::writeValue(kResources, name, RegistryType::ExpandString, text.data(),
                                     static_cast<uint32_t>(text.size())),
              SI_OK);
}

class StartUp : public ::testing::Test {
protected:
    // Runs wardex to its end; its exit status in the low byte, its standard error in `errors`.
    int runToEnd(std::string& errors) {
        ChildProcess::Options options;
        options.errorFile = site_.path("wardex.err");
        ChildProcess& wardex = site_.startWardex({}, options);
        const int status = wardex.waitForExit().value_or(-2) & 0xFF;
        errors = Kalvor::Test::readFile(options.errorFile);
        return status;
    }

    Installation site_;
};

TEST_F(StartUp, FaultsEndItWithOneLineThatSaysWhatToDo) {
    std::string errors;
    site_.writeConfig({});

    site_.deleteMarker("WardexMarker");
    EXPECT_EQ(runToEnd(errors), kStartFailure);
    EXPECT_NE(errors.find("wardex: could not start: the registry value \"WardexMarker\""),
              std::string::npos)
        << errors;
    EXPECT_NE(errors.find(" add \"HKLM\\" + kResources + "\" /v WardexMarker /t REG_DWORD /d 1 /f"),
              std::string::npos)
        << errors;
    // The instance marker stays the last supervisor's.
    EXPECT_EQ(site_.marker(site_.instanceMarker()), 3);
    site_.setMarker("WardexMarker", 1);

    const std::string missing = site_.path("no-such-folder") + "/";
    ASSERT_EQ(SystemInfo::writeResourceString("ConfigurationDir", missing), SI_OK);
    EXPECT_EQ(runToEnd(errors), kStartFailure);
    EXPECT_NE(errors.find("the configuration directory \"" + missing + "\" does not exist: make "
                          "it, or name another one with "),
              std::string::npos)
        << errors;
    EXPECT_FALSE(std::filesystem::exists(missing)) << "a folder named by hand is never made";

    writeExpandable("ConfigurationDir", "%KALVOR_TEST_NOT_SET%/conf/");
    EXPECT_EQ(runToEnd(errors), kStartFailure);
    EXPECT_NE(errors.find("names the environment variable \"KALVOR_TEST_NOT_SET\", which is not "
                          "set"),
              std::string::npos)
        << errors;

    ASSERT_EQ(SystemInfo::writeValue(kResources, "ConfigurationDir", 7), SI_OK);
    EXPECT_EQ(runToEnd(errors), kStartFailure);
    EXPECT_NE(errors.find("\"ConfigurationDir\" is a REG_DWORD, not a folder's name"),
              std::string::npos)
        << errors;

    // Never a source location, only words.
    EXPECT_EQ(errors.find(".("), std::string::npos) << errors;
}

// The package's per-account value on a first start: the folder is the account's own to have,
// and without a file the supervisor runs with nothing to supervise, saying so once.
TEST_F(StartUp, FirstStartMakesTheAccountsFolderAndRunsWithNothingYet) {
    // The Windows installer's value, with the account's folder in the sandbox.
    const ScopedEnv local("LOCALAPPDATA", site_.path("account"));
    writeExpandable("ConfigurationDir", "%LOCALAPPDATA%/Kalvor/conf/");
    // The level the package sets.
    site_.setMarker("StartupDebugLevel", 1);
    ChildProcess& wardex = site_.startWardex();
    ASSERT_TRUE(site_.waitUntilSupervising()) << site_.logText();
    const std::string file = site_.path("account") + "/Kalvor/conf/wardex.conf";
    EXPECT_TRUE(std::filesystem::is_directory(site_.path("account") + "/Kalvor/conf"));
    EXPECT_EQ(site_.logCount("There is no configuration file \"" + file + "\" yet"), 1u)
        << site_.logText();
    ASSERT_TRUE(site_.sendToWardex("COMMAND", "DIE"));
    EXPECT_EQ(wardex.waitForExit(), 0);
}

// The folder holds the catalogs of the suite's other programs too: leaving them is no news at
// the default level, and every line has its text.
TEST_F(StartUp, OtherProgramsCatalogsAreNoNewsAtTheDefaultLevel) {
    site_.setMarker("StartupDebugLevel", 1);
    site_.writeConfig({}, 1);
    ChildProcess& wardex = site_.startWardex();
    ASSERT_TRUE(site_.waitUntilSupervising()) << site_.logText();
    ASSERT_TRUE(site_.waitForLog("Wardex started")) << site_.logText();
    EXPECT_EQ(site_.logCount("were rejected"), 0u) << site_.logText();
    EXPECT_EQ(site_.logCount("(Message not found.)"), 0u) << site_.logText();
    ASSERT_TRUE(site_.sendToWardex("COMMAND", "DIE"));
    EXPECT_EQ(wardex.waitForExit(), 0);
}

} // namespace
} // namespace Kalvor
