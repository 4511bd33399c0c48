#include "Logger/LogSettings.h"

#include "Common/StringUtils.h"
#include "Common/SystemInfo.h"
#include "Common/UserFolders.h"
#include "Config/ConfReader.h"
#include "File/FileUtils.h"
#include "Logger/LogCommons.h"
#include "Logger/LogDispatcher.h"
#include "Logger/LogMessengerIPC.h"
#include "Logger/LogRecord.h"
#include "Logger/LogRotation.h"
#include "Logger/LogState.h"
#include "Logger/LoggerUnit.h"

#include <vector>

namespace Kalvor {

namespace {

int32_t timeModeNamed(const std::string& name) {
    if (name == "local")
        return kTimeLocal;
    if (name == "zulu")
        return kTimeZulu;
    return kTimeUnset;
}

// The directory exists afterwards; a log moved into a missing one would lose every line.
bool usableDirectory(const std::string& directory) {
    return !directory.empty() && FileUtils::makeDirectories(directory);
}

void applyLogDirectory(LogSettings& settings, const ConfReader& configuration) {
    std::string directory;
    if (configuration.getDirName("Kalvor.directories.log", directory) != CONF_FOUND ||
        !usableDirectory(directory) || !settings.messenger)
        return;
    LogFileWriter& writer = settings.messenger->writer();
    if (writer.setPath(directory + FileUtils::namePart(writer.path())))
        settings.logDirectory = directory;
}

void applyRotation(const ConfReader& configuration) {
    const bool hadInit = (LogRotation::scheme() & LogRotation::kInit) != 0;
    std::string words;
    if (configuration.getString("log.rotation.scheme", words) == CONF_FOUND)
        LogRotation::setScheme(LogSettings::schemeWithWords(LogRotation::kNone, words));

    DurationRecord period;
    configuration.getTimeSpan("log.rotation.time", period);
    LogRotation::setPeriod(TimeSpan(period));

    // Without a size "size" still means one: only an explicit 0 or less switches it off.
    int32_t megabytes = LogRotation::kDefaultSizeLimit;
    configuration.getInteger("log.rotation.size", megabytes);
    LogRotation::setSizeLimit(megabytes);

    int32_t kept = 0; // every archive
    configuration.getInteger("log.rotation.keep", kept);
    LogRotation::setKeptArchives(kept);

    // A scheme that has just gained "init" rotates the file the process is already writing.
    if (!hadInit && (LogRotation::scheme() & LogRotation::kInit) != 0) {
        LogRotation::setInitRotationPending(true);
        LogRotation::requestRecompute();
    }
}

void applySeverity(const ConfReader& configuration) {
    std::string name;
    if (configuration.getString("log.global.severity", name, true) != CONF_FOUND) {
        LogState::setMinimumSeverity(kNotice);
        return;
    }
    const int32_t severity = LogCommons::severityFromName(name);
    if (severity != kSeverityUnknown)
        LogState::setMinimumSeverity(severity);
}

} // namespace

bool LogSettings::startLogging() {
    if (loggerUnit)
        return applyConfiguration();

    LogRotation::setWriterLabel(LogCommons::applicationName(applicationNumber));
    if (logDirectory.empty()) {
        FolderValue startup;
        const int32_t read = SystemInfo::readResourceFolder("StartupLogDir", startup);
        if (read == SI_OK)
            logDirectory = startup.path;
        else if (read != SI_MISSING)
            startupProblem = startup.problem;
    }
    // Never the working directory, which for a service is "/" and for a shell anywhere: the
    // account's own log folder, made as needed.
    if (logDirectory.empty() && usableDirectory(defaultLogFolder()))
        logDirectory = defaultLogFolder();
    // An empty directory stays empty: with a separator added it would name the root.
    if (!logDirectory.empty())
        FileUtils::ensureTrailingSeparator(logDirectory);

    std::string text;
    int32_t level = 0;
    if (SystemInfo::readResourceInteger("StartupDebugLevel", level) != SI_OK)
        level = 0;
    LogState::setDebugLevel(level);
    if (SystemInfo::readResourceString("LogFileRotationScheme", text) == SI_OK)
        LogRotation::setScheme(schemeWithWords(LogRotation::scheme(), text));

    try {
        auto newMessenger = std::make_shared<LogMessengerIPC>();
        if (!newMessenger->writer().setPath(logDirectory + logFileName))
            return false;
        auto newDispatcher = std::make_shared<LogDispatcher>(applicationNumber, newMessenger);
        auto newUnit = std::make_shared<LoggerUnit>(newDispatcher, moduleNumber);
        messenger = std::move(newMessenger);
        dispatcher = std::move(newDispatcher);
        loggerUnit = std::move(newUnit);
    } catch (...) {
        return false;
    }
    return true;
}

bool LogSettings::applyConfiguration() {
    if (!loggerUnit)
        return false;
    if (!configuration)
        return true;
    const ConfReader& conf = *configuration;

    applyLogDirectory(*this, conf);

    std::string timeName = "local";
    conf.getString("log.time", timeName, true);
    LogState::setTimeMode(timeModeNamed(timeName));

    applyRotation(conf);
    applySeverity(conf);

    int32_t level = 0;
    conf.getInteger("log.global.debug-level", level);
    LogState::setDebugLevel(level);
    return true;
}

int32_t LogSettings::schemeWithWords(int32_t scheme, const std::string& words) {
    std::vector<std::string> parts;
    split(words, ',', parts);
    for (std::string& word : parts) {
        trim(word);
        if (word == "none")
            scheme = LogRotation::kNone;
        else if (word == "init")
            scheme |= LogRotation::kInit;
        else if (word == "time")
            scheme |= LogRotation::kTime;
        else if (word == "size")
            scheme |= LogRotation::kSize;
    }
    return scheme;
}

} // namespace Kalvor
