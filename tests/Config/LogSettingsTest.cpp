#include "Logger/LogSettings.h"

#include "Common/SystemInfo.h"
#include "ConfTestSupport.h"
#include "Config/ConfReader.h"
#include "File/FileUtils.h"
#include "File/PathSeparator.h"
#include "Logger/LogCommons.h"
#include "Logger/LogDispatcher.h"
#include "Logger/LogMessengerIPC.h"
#include "Logger/LogRotation.h"
#include "Logger/LogState.h"
#include "Logger/LoggerUnit.h"
#include "Sandbox.h"
#include "Common/UserFolders.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace Kalvor {
namespace {

// An application no other test uses: its writer label names registry values of its own.
constexpr int32_t kTestApplication = 12;
const char* const kRegistryValues[] = {"StartupLogDir", "StartupDebugLevel",
                                       "LogFileRotationScheme", "Application12LogOpened",
                                       "Application12LogCounter"};

void resetLogging() {
    LogRotation::setScheme(LogRotation::kNone);
    LogRotation::setPeriod(TimeSpan(0));
    LogRotation::setSizeLimit(LogRotation::kDefaultSizeLimit);
    LogRotation::setInitRotationPending(true);
    LogRotation::setWriterLabel("core");
    LogState::setMinimumSeverity(kNotice);
    LogState::setDebugLevel(5);
    LogState::setTimeMode(kTimeLocal);
}

std::string fileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// A path as a configuration file must spell it: each backslash doubled.
std::string confText(const std::string& path) {
    std::string text;
    for (const char byte : path) {
        text.push_back(byte);
        if (byte == '\\')
            text.push_back(byte);
    }
    return text;
}

std::vector<std::string> fileNames(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// Each test has its own registry, lock and mailslot folders on posix. Under Wine the registry
// values are machine-wide: there these tests take turns with the supervisor's (see CMakeLists).
class LogSettingsTest : public testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(sandbox.file("logs"));
        clearRegistry();
        resetLogging();
        settings.logFileName = "app.log";
        settings.applicationNumber = kTestApplication;
        settings.moduleNumber = LogCommons::kWardexModule;
    }

    void TearDown() override {
        settings = LogSettings();
        clearRegistry();
        resetLogging();
    }

    // The values have the names the code under test reads, not names the sandbox made.
    void clearRegistry() const {
        Kalvor::Test::Sandbox::deleteResourceValues(
            {std::begin(kRegistryValues), std::end(kRegistryValues)});
    }

    std::string logDir() const { return sandbox.file("logs") + kPathSeparator; }

    // A configuration read from the text, for the settings to apply.
    void configure(const std::string& text) {
        const std::string path = sandbox.file("log.conf");
        Kalvor::Test::writeTextFile(path, text);
        auto reader = std::make_shared<ConfReader>(nullptr);
        reader->buildDOM(path);
        settings.configuration = reader;
    }

    void startInLogDir() {
        settings.logDirectory = sandbox.file("logs");
        ASSERT_TRUE(settings.startLogging());
    }

    Kalvor::Test::Sandbox sandbox;
    LogSettings settings;
};

TEST(LogSettingsWords, SchemeWordsAreTakenInOrder) {
    struct Case {
        int32_t before;
        const char* words;
        int32_t after;
    };
    const Case cases[] = {
        {0, "init,size", LogRotation::kInit | LogRotation::kSize},
        {0, "size,none", LogRotation::kNone},
        {7, "none,time", LogRotation::kTime},
        {LogRotation::kSize, "init", LogRotation::kSize | LogRotation::kInit},
        {0, "Init,SIZE,bogus", 0},
        {0, " init , time ", LogRotation::kInit | LogRotation::kTime},
        {3, "", 3},
    };
    for (const Case& c : cases)
        EXPECT_EQ(LogSettings::schemeWithWords(c.before, c.words), c.after) << c.words;
}

TEST_F(LogSettingsTest, StartTakesItsSettingsFromTheRegistry) {
    ASSERT_EQ(SystemInfo::writeResourceString("StartupLogDir", sandbox.file("logs")), SI_OK);
    ASSERT_EQ(SystemInfo::writeValue(SystemInfo::kResourceKey, "StartupDebugLevel", 3), SI_OK);
    ASSERT_EQ(SystemInfo::writeResourceString("LogFileRotationScheme", "init,size"), SI_OK);

    ASSERT_TRUE(settings.startLogging());
    EXPECT_EQ(settings.logDirectory, logDir());
    EXPECT_EQ(LogState::debugLevel(), 3);
    EXPECT_EQ(LogRotation::scheme(), LogRotation::kInit | LogRotation::kSize);
    EXPECT_EQ(LogRotation::writerLabel(), "Application12");
    ASSERT_TRUE(settings.messenger && settings.dispatcher && settings.loggerUnit);
    EXPECT_EQ(settings.messenger->writer().path(), logDir() + "app.log");
    EXPECT_EQ(settings.dispatcher->sourceNumber(), kTestApplication);
    EXPECT_EQ(settings.loggerUnit->moduleNumber(), LogCommons::kWardexModule);

    EXPECT_TRUE(settings.loggerUnit->debug(3, "first line"));
    const std::string text = fileText(logDir() + "app.log");
    EXPECT_NE(text.find("LoggerUnit: Created logger for the Wardex module."), std::string::npos);
    EXPECT_NE(text.find("first line"), std::string::npos);
}

TEST_F(LogSettingsTest, StartWithoutRegistryValues) {
    // Each platform's state folder, in the sandbox.
    Kalvor::Test::ScopedEnv state("XDG_STATE_HOME", sandbox.file("state"));
    Kalvor::Test::ScopedEnv local("LOCALAPPDATA", sandbox.file("state"));
    LogRotation::setScheme(LogRotation::kTime);
    ASSERT_TRUE(settings.startLogging());
    EXPECT_EQ(LogState::debugLevel(), 0);
    EXPECT_EQ(LogRotation::scheme(), LogRotation::kTime);
    // No directory anywhere: the account's own log folder, made, never the working directory.
    EXPECT_EQ(settings.logDirectory, defaultLogFolder());
    EXPECT_EQ(settings.logDirectory.rfind(sandbox.file("state"), 0), 0u) << settings.logDirectory;
    EXPECT_TRUE(fs::is_directory(settings.logDirectory));
    EXPECT_EQ(settings.messenger->writer().path(), settings.logDirectory + "app.log");
    EXPECT_EQ(settings.startupProblem, "");
}

// A REG_EXPAND_SZ folder is the account's own through its variables; one naming a variable that
// is not set is not used, and says which.
TEST_F(LogSettingsTest, StartupFolderIsExpandedFromTheEnvironment) {
    Kalvor::Test::ScopedEnv state("XDG_STATE_HOME", sandbox.file("state"));
    Kalvor::Test::ScopedEnv local("LOCALAPPDATA", sandbox.file("state"));
    Kalvor::Test::ScopedEnv top("KALVOR_TEST_TOP", sandbox.path());
    Kalvor::Test::ScopedEnv unset("KALVOR_TEST_UNSET", std::nullopt);
    const auto writeExpandable = [](const std::string& text) {
        return SystemInfo::writeValue(SystemInfo::kResourceKey, "StartupLogDir",
                                      RegistryType::ExpandString, text.data(),
                                      static_cast<uint32_t>(text.size()));
    };
    const std::string separator(1, kPathSeparator);
    ASSERT_EQ(writeExpandable("%KALVOR_TEST_TOP%" + separator + "logs"), SI_OK);
    ASSERT_TRUE(settings.startLogging());
    EXPECT_EQ(settings.logDirectory, sandbox.path() + separator + "logs" + separator);
    EXPECT_EQ(settings.startupProblem, "");

    settings = LogSettings();
    settings.logFileName = "app.log";
    ASSERT_EQ(writeExpandable("%KALVOR_TEST_UNSET%/logs"), SI_OK);
    ASSERT_TRUE(settings.startLogging());
    EXPECT_EQ(settings.logDirectory, defaultLogFolder());
    EXPECT_NE(settings.startupProblem.find("\"KALVOR_TEST_UNSET\", which is not set"),
              std::string::npos)
        << settings.startupProblem;
}

TEST_F(LogSettingsTest, StartKeepsADirectoryAlreadySetAndIgnoresOddLevels) {
    ASSERT_EQ(SystemInfo::writeResourceString("StartupLogDir", sandbox.file("elsewhere")), SI_OK);
    ASSERT_EQ(SystemInfo::writeValue(SystemInfo::kResourceKey, "StartupDebugLevel", 9), SI_OK);
    LogState::setDebugLevel(2);
    settings.logDirectory = logDir();
    ASSERT_TRUE(settings.startLogging());
    EXPECT_EQ(settings.logDirectory, logDir());
    EXPECT_EQ(LogState::debugLevel(), 2);
}

TEST_F(LogSettingsTest, ApplyNeedsAStartedLogger) {
    configure("log()=''{ global()=''{ debug-level(Integer)=4{} } }");
    EXPECT_FALSE(settings.applyConfiguration());
    EXPECT_EQ(LogState::debugLevel(), 5);

    startInLogDir();
    const auto unit = settings.loggerUnit;
    // A second start applies the configuration and keeps the unit.
    EXPECT_TRUE(settings.startLogging());
    EXPECT_EQ(settings.loggerUnit, unit);
    EXPECT_EQ(LogState::debugLevel(), 4);

    settings.configuration.reset();
    LogState::setDebugLevel(1);
    EXPECT_TRUE(settings.applyConfiguration());
    EXPECT_EQ(LogState::debugLevel(), 1);
}

std::string logKey(const std::string& entries) {
    return "log()=''{ " + entries + " }";
}

TEST_F(LogSettingsTest, TimeMode) {
    startInLogDir();
    const std::pair<std::string, int32_t> cases[] = {
        {"time(String)='local'{}", kTimeLocal}, {"time(String)='zulu'{}", kTimeZulu},
        {"time(String)='Zulu'{}", kTimeUnset},  {"time(String)=' zulu '{}", kTimeZulu},
        {"time(String)='utc'{}", kTimeUnset},   {"", kTimeLocal},
        {"time(Integer)='2'{}", kTimeLocal},
    };
    for (const auto& [entry, mode] : cases) {
        LogState::setTimeMode(kTimeZulu + 1);
        configure(logKey(entry));
        ASSERT_TRUE(settings.applyConfiguration());
        EXPECT_EQ(LogState::timeMode(), mode) << entry;
    }
}

TEST_F(LogSettingsTest, SeverityAndDebugLevel) {
    startInLogDir();
    struct Case {
        std::string entries;
        int32_t severity, level;
    };
    // Each case starts from severity 3 and debug level 2.
    const Case cases[] = {
        {"global()=''{ severity(String)='WARNING'{} debug-level(Integer)=4{} }", kWarning, 4},
        {"global()=''{ severity(String)='warning'{} debug-level(Integer)=7{} }", kCritical, 2},
        {"global()=''{ severity(String)='NONE'{} debug-level(Integer)=0{} }", kSeverityNone, 0},
        {"global()=''{ severity(String)=' FATAL '{} debug-level(Integer)=-1{} }", kFatal, 2},
        {"", kNotice, 0},
    };
    for (const Case& c : cases) {
        LogState::setMinimumSeverity(kCritical);
        LogState::setDebugLevel(2);
        configure(logKey(c.entries));
        ASSERT_TRUE(settings.applyConfiguration());
        EXPECT_EQ(LogState::minimumSeverity(), c.severity) << c.entries;
        EXPECT_EQ(LogState::debugLevel(), c.level) << c.entries;
    }
}

TEST_F(LogSettingsTest, RotationKeys) {
    startInLogDir();
    LogRotation::setScheme(LogRotation::kInit);
    configure(logKey("rotation()=''{ scheme(String)='time,size'{} time(TimeSpan)='PT1H'{}"
                     " size(Integer)=25{} }"));
    ASSERT_TRUE(settings.applyConfiguration());
    EXPECT_EQ(LogRotation::scheme(), LogRotation::kTime | LogRotation::kSize);
    EXPECT_EQ(LogRotation::period().totalSeconds(), 3600);
    EXPECT_EQ(LogRotation::sizeLimit(), 25);

    // Absent keys: the scheme stays, the period falls to zero and the size limit to its
    // default (an absent size must not switch "size" off).
    configure(logKey(""));
    ASSERT_TRUE(settings.applyConfiguration());
    EXPECT_EQ(LogRotation::scheme(), LogRotation::kTime | LogRotation::kSize);
    EXPECT_EQ(LogRotation::period().totalSeconds(), 0);
    EXPECT_EQ(LogRotation::sizeLimit(), LogRotation::kDefaultSizeLimit);

    configure(logKey("rotation()=''{ scheme(String)='size,none'{} time(TimeSpan)='1H'{} }"));
    ASSERT_TRUE(settings.applyConfiguration());
    EXPECT_EQ(LogRotation::scheme(), LogRotation::kNone);
    EXPECT_EQ(LogRotation::period().totalSeconds(), 0);
}

TEST_F(LogSettingsTest, LogDirectoryMovesTheLog) {
    startInLogDir();
    ASSERT_TRUE(settings.loggerUnit->debug(0, "before the move"));
    const std::string moved = sandbox.file("moved") + kPathSeparator;
    configure("Kalvor()=''{ directories()=''{ log(DirName)='" + confText(sandbox.file("moved")) +
              "'{} } }");
    ASSERT_TRUE(settings.applyConfiguration());
    EXPECT_EQ(settings.logDirectory, moved);
    EXPECT_EQ(settings.messenger->writer().path(), moved + "app.log");
    ASSERT_TRUE(settings.loggerUnit->debug(0, "after the move"));

    const std::string before = fileText(logDir() + "app.log");
    const std::string after = fileText(moved + "app.log");
    EXPECT_NE(before.find("before the move"), std::string::npos);
    EXPECT_NE(before.find("Log file moved to"), std::string::npos);
    EXPECT_NE(after.find("Log continued from"), std::string::npos) << after;
    EXPECT_NE(after.find("after the move"), std::string::npos);

    // Without the key, with an empty one, or with one that cannot be made, the log stays.
    Kalvor::Test::writeTextFile(sandbox.file("blocker"), "a file, not a directory");
    const std::string unusable = confText(sandbox.file("blocker") + kPathSeparator + "sub");
    for (const std::string& text :
         {std::string("log()=''{}"),
          std::string("Kalvor()=''{ directories()=''{ log(DirName)=''{} } }"),
          "Kalvor()=''{ directories()=''{ log(DirName)='" + unusable + "'{} } }"}) {
        configure(text);
        ASSERT_TRUE(settings.applyConfiguration());
        EXPECT_EQ(settings.messenger->writer().path(), moved + "app.log") << text;
    }
}

TEST_F(LogSettingsTest, SchemeSwitchedToInitRotatesTheRunningLog) {
    startInLogDir();
    ASSERT_TRUE(settings.loggerUnit->debug(0, "line one"));
    ASSERT_TRUE(settings.loggerUnit->debug(0, "line two"));
    ASSERT_EQ(fileNames(logDir()), std::vector<std::string>{"app.log"});

    configure(logKey("rotation()=''{ scheme(String)='init'{} }"));
    ASSERT_TRUE(settings.applyConfiguration());
    EXPECT_TRUE(LogRotation::initRotationPending());
    ASSERT_TRUE(settings.loggerUnit->debug(0, "line three"));

    const auto names = fileNames(logDir());
    ASSERT_EQ(names.size(), 2u);
    EXPECT_EQ(names[0], "app.log");
    EXPECT_EQ(names[1].rfind("app_", 0), 0u) << names[1];
    EXPECT_NE(fileText(logDir() + names[1]).find("line two"), std::string::npos);
    const std::string current = fileText(logDir() + "app.log");
    EXPECT_NE(current.find("line three"), std::string::npos);
    EXPECT_EQ(current.find("line one"), std::string::npos);

    // A scheme that already held init does not rotate again.
    ASSERT_TRUE(settings.applyConfiguration());
    EXPECT_FALSE(LogRotation::initRotationPending());
    ASSERT_TRUE(settings.loggerUnit->debug(0, "line four"));
    EXPECT_EQ(fileNames(logDir()).size(), 2u);
}

} // namespace
} // namespace Kalvor
