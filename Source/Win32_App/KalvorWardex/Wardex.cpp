#include "Win32_App/KalvorWardex/Wardex.h"

#include "Win32_App/KalvorWardex/WardexMessages.h"

#include "Common/Exception.h"
#include "Common/StringUtils.h"
#include "Common/SystemInfo.h"
#include "Common/UserFolders.h"
#include "Common/UserName.h"
#include "File/FileOps.h"
#include "File/FilePlain.h"
#include "File/FileUtils.h"
#include "IPC/IPCServer.h"
#include "JobInstance/ContainerSignal.h"
#include "JobInstance/Monopoly.h"
#include "JobInstance/ThreadMessages.h"
#include "JobInstance/WaitSet.h"
#include "Logger/LogCommons.h"
#include "Logger/LogState.h"
#include "Logger/LoggerUnit.h"
#include "Time/SystemClock.h"
#include "Time/TimeSpan.h"
#include "Win32_App/KalvorWardex/AppRecords.h"
#include "Win32_App/KalvorWardex/AppServices.h"
#include "Win32_App/KalvorWardex/ApplicationTable.h"
#include "Win32_App/KalvorWardex/Clock.h"
#include "Win32_App/KalvorWardex/CommandHandler.h"
#include "Win32_App/KalvorWardex/Markers.h"
#include "Win32_App/KalvorWardex/SetUpChecks.h"
#include "Win32_App/KalvorWardex/WardexServices.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <new>

namespace Kalvor {

namespace {
using namespace WardexMessage;
const char* const kPlaceholder = "dummy";
const std::string kMonitorKey = "wardex.monitor";
constexpr int32_t kPassesPerRoutineLine = 40;
constexpr uint32_t kPassMilliseconds = 500;
// Seconds each step of an application's stop waits, unless its "stop-timeout" says otherwise.
constexpr int32_t kDefaultStopTimeoutSeconds = 5;
// Beyond the stop sequences' own time, for the last kill to take effect.
constexpr uint64_t kShutdownSlackMilliseconds = 250;


// The passes and the shutdown pause are paced by the real clock, whatever clock the
// applications' checks read (tests set that one).
uint64_t realMilliseconds() {
    static const SystemClockSource clock;
    return clock.monotonicMilliseconds();
}

// Why a listed name cannot name an application: a byte the message line cannot carry (ESC, the
// zero byte), or one that would split its configuration key or its program's path; null when
// it can.
const char* unusableNameFault(const std::string& name) {
    for (const char byte : name) {
        if (byte == '\x1b' || byte == '\0')
            return "a byte a message cannot carry";
        if (byte == '.')
            return "a \".\", which would split its configuration key";
        if (byte == '/' || byte == '\\')
            return "a path separator";
    }
    return nullptr;
}

// "output": "file" sends the application's output to "<log directory>NAME.out", "inherit"
// leaves it the supervisor's. An ordinary program (one with a command) goes to its file unless
// told otherwise; the suite's own programs keep the supervisor's streams, as they always had.
std::string outputPathOf(ConfigSource& config, const std::string& name, bool ordinary,
                         const std::string& logDirectory, const LoggerUnit& logger) {
    const std::string key = kMonitorKey + "." + name + ".output";
    std::string output;
    if (config.getString(key, output) != 0)
        output = ordinary ? "file" : "inherit";
    if (output == "inherit")
        return "";
    if (output != "file")
        logger.debug(1, "The key \"%s\" is \"%s\", neither \"file\" nor \"inherit\"; the "
                        "output goes to its file.",
                     LogParams() << key << output);
    return logDirectory + name + ".out";
}
} // namespace

Wardex::Wardex(const std::string& commandLine, std::unique_ptr<WardexServices> services,
               const std::string& optionMarkers)
    : arguments_(splitArguments(commandLine, kPlaceholder, optionMarkers)),
      userTag_(makeUserTag(currentUserName(), SystemClock::now())), services_(std::move(services)) {
    if (!arguments_.empty())
        arguments_.erase(arguments_.begin());
}

std::string Wardex::makeUserTag(const std::string& userName, int64_t nowSeconds) {
    if (userName.empty())
        return std::to_string(nowSeconds - nowSeconds % 20);
    return userTagOf(userName);
}

std::string Wardex::debugLogName(const std::string& configured, const std::string& userTag) {
    const std::size_t dot = configured.rfind('.');
    const std::size_t separator = configured.find_last_of("\\/");
    if (dot == std::string::npos || (separator != std::string::npos && dot < separator))
        return configured + "(" + userTag + ")";
    return configured.substr(0, dot) + "(" + userTag + ")" + configured.substr(dot);
}

bool Wardex::initialise() {
    std::string logName;
    if (SystemInfo::readResourceString(std::string(kModuleName) + "DebugLog", logName) != SI_OK)
        logName = std::string(kModuleName) + "Debug.log";
    logName = debugLogName(logName, userTag_);

    moduleNumber_ = LogCommons::moduleNumber(kModuleName);
    if (moduleNumber_ == LogCommons::kUnknownNumber)
        return fail("the logger has no module named Wardex");
    if (!services_->startLogging(logName, moduleNumber_))
        return fail("logging could not be started");
    logger_ = services_->logger();
    if (!logger_ || !services_->createConfig())
        return fail("the configuration reader could not be made");
    if (const std::string problem = services_->loggingProblem(); !problem.empty())
        logger_->debug(1, "The start-up log folder is not used: %s", LogParams() << problem);
    table_ = std::make_unique<ApplicationTable>(logger_, services_->apps(), services_->clock(),
                                                userTag_, kPassMilliseconds);
    std::string noRecords;
    const std::string recordPath = appRecordPath(userTag_, noRecords);
    if (recordPath.empty())
        logger_->debug(1, "The running applications cannot be recorded: %s",
                       LogParams() << noRecords);
    else
        table_->keepRecords(std::make_unique<AppRecordFile>(recordPath));
    handler_ = std::make_unique<CommandHandler>(
        logger_, CommandHandler::Targets{
                     stop_, reconfigureRequested_,
                     [this](const std::string& info, const std::string& sender,
                            const std::optional<SenderIdentity>& from) {
                         // The next pass captures it at once.
                         const bool stored = table_->storeProcessInfo(info, sender, from);
                         if (stored)
                             events_.wake();
                         return stored;
                     },
                     &startDetachedProgram, [this] { return packStatus(table_->statusRecords()); },
                     [this](OperatorRequest request) {
                         {
                             std::lock_guard<std::mutex> guard(operatorMutex_);
                             operatorRequests_.push_back(std::move(request));
                         }
                         events_.wake();
                     },
                     [this](const std::string& target, const std::string& type,
                            const std::string& id, const std::string& text) {
                         return services_->apps().send(target, type, id, text,
                                                       "Wardex_" + userTag_);
                     }});
    loadEarlyCatalogs();
    if (!reconfigure(true))
        return false;
    loadLogMessages();
    if (const std::string fault =
            SetUpChecks::globalMarkerFault(*logger_, Markers::keyPathFor(productVersionTenths_));
        !fault.empty())
        return fail(fault);

    if (!instanceLock_ || !instanceLock_->isHeld()) {
        const std::string lockName = std::string(kModuleName) + userTag_;
        instanceLock_ = std::make_unique<Monopoly>(lockName);
        if (!instanceLock_->acquire()) {
            if (!instanceLock_->failure().empty()) {
                logger_->debug(1, "The single-instance lock \"%s\" cannot be taken: %s",
                               LogParams() << lockName << instanceLock_->failure());
                return fail("the single-instance lock \"" + lockName +
                            "\" cannot be taken: " + instanceLock_->failure());
            }
            logger_->error(kAlreadyRunning, LogParams() << lockName);
            return fail("another Wardex is already running for this user (it holds the lock \"" +
                        lockName + "\")");
        }
    }
    logger_->debug(1, "Finished configuring.");
    return true;
}

bool Wardex::fail(const std::string& why) {
    failure_ = why;
    return false;
}

// The installed catalogs and those of the configuration directory, before the configuration is
// read: the lines logged while reading it (a missing or broken file above all) then have their
// texts.
void Wardex::loadEarlyCatalogs() {
    loadCatalogsFrom(installedDataFolder(), false);
    FolderValue folder;
    if (SystemInfo::readResourceFolder("ConfigurationDir", folder) == SI_OK &&
        !folder.path.empty())
        loadCatalogsFrom(SetUpChecks::withTrailingSeparator(folder.path), false);
}

bool Wardex::reconfigure(bool initial) {
    if (!initial)
        logger_->debug(1, "Reconfiguring...");
    // Cleared before reading, so that a request arriving while the files are read leads to one
    // more reading rather than being lost.
    reconfigureRequested_.exchange(false);
    FolderValue folder;
    if (const std::string fault = SetUpChecks::readConfigurationFolder(*logger_, folder);
        !fault.empty()) {
        lastReconfiguration_ = fault;
        return initial ? fail(fault) : false;
    }
    const std::string& directory = folder.path;
    std::string file;
    const bool named = !arguments_.empty() && arguments_.front().option == "c";
    if (named) {
        file = arguments_.front().value;
        arguments_.erase(arguments_.begin());
    } else {
        if (initial && !directory.empty() && !FileOps::exists(directory)) {
            if (const std::string fault =
                    SetUpChecks::makeMissingConfigurationFolder(*logger_, folder);
                !fault.empty())
                return fail(fault);
        }
        file = directory + "wardex.conf";
    }
    configFile_ = file;
    ConfigSource& config = services_->config();
    // A first start has no file yet: it runs with nothing to supervise until "wardexctl add"
    // writes one. A file named on the command line must be there.
    const bool noFileYet = initial && !named && !FileOps::exists(file);
    if (noFileYet)
        logger_->debug(1, "There is no configuration file \"%s\" yet: no application is "
                          "supervised until one is added (wardexctl add NAME -- COMMAND).",
                       LogParams() << file);
    const std::string unread = noFileYet ? std::string() : config.load(file);
    // What runs is kept when the new file cannot be read whole: the reader kept the last one.
    if (!unread.empty() && !initial) {
        logger_->debug(1, "Reconfiguration failed (%s): the applications run on as they were.",
                       LogParams() << unread);
        lastReconfiguration_ = unread;
        return false;
    }
    // Without a file the registry's log settings stand.
    if (!noFileYet)
        services_->applyLogConfiguration();

    int32_t level = 0;
    if (config.getInteger("wardex.log.debug-level", level) == 0)
        LogState::setDebugLevel(level);

    const auto missing = [&](const std::string& key) {
        logger_->error(kMissingKey, LogParams() << key);
        // Read again at the next pass: the files may be mended by then.
        reconfigureRequested_.store(true);
        lastReconfiguration_ = file + ": no usable value for the key \"" + key + "\"";
        return fail("the configuration has no usable value for the key \"" + key + "\"");
    };
    // Output files lie beside the log.
    std::string logDirectory;
    if (config.getDirName("Kalvor.directories.log", logDirectory) != 0)
        logDirectory = FileUtils::dirPart(services_->logFilePath());
    std::vector<std::string> listed;
    config.getSubObjects(kMonitorKey, listed);
    std::vector<std::string> names;
    for (const std::string& name : listed) {
        if (const char* why = unusableNameFault(name)) {
            logger_->debug(1, "The application name \"%s\" cannot be used (%s); it is left out.",
                           LogParams() << quotedExcerpt(name) << why);
            continue;
        }
        names.push_back(name);
    }
    for (const std::string& name : names) {
        SupervisedApp& app = table_->findOrAdd(name);
        const std::string activeKey = kMonitorKey + "." + name + ".active";
        if (config.getBool(activeKey, app.active) != 0)
            return missing(activeKey);
        const std::string idKey = kMonitorKey + "." + name + ".id";
        if (config.getString(idKey, app.id) != 0)
            return missing(idKey);
        // Optional: an ordinary program's command line and folder.
        app.command.clear();
        app.directory.clear();
        config.getString(kMonitorKey + "." + name + ".command", app.command);
        config.getDirName(kMonitorKey + "." + name + ".directory", app.directory);
        app.outputPath =
            outputPathOf(config, name, !app.command.empty(), logDirectory, *logger_);
        int32_t stopTimeout = 0;
        app.stopTimeoutSeconds =
            config.getInteger(kMonitorKey + "." + name + ".stop-timeout", stopTimeout) == 0 &&
                    stopTimeout >= 0
                ? stopTimeout
                : kDefaultStopTimeoutSeconds;
    }
    // What is no longer listed is stopped and leaves; the rest keeps the file's order.
    table_->keepOnly(names);
    readVersionFile(directory);
    table_->publishStatus();
    if (!initial)
        logger_->debug(1, "Finished reconfiguring.");
    lastReconfiguration_.clear();
    return true;
}

void Wardex::readVersionFile(const std::string& directory) {
    const std::string path = directory + "version";
    if (!FileOps::exists(path)) {
        logger_->debug(1, "Could not find version file at \"%s\"", LogParams() << path);
        return;
    }
    double version = 0.0;
    try {
        FilePlain file(path);
        file.open(FileBase::kRead | FileBase::kNoLock);
        version = std::atof(file.readAll().c_str());
    } catch (const Exception& failure) {
        logger_->debug(1, "Failed to read version file \"%s\"", LogParams() << path);
        logger_->debug(1, failure.report());
        return;
    }
    // "nan", "inf" or "1e10" would make the conversion to tenths undefined.
    if (!std::isfinite(version)) {
        logger_->debug(1, "The version file \"%s\" holds no usable number; it is ignored.",
                       LogParams() << path);
        return;
    }
    const double tenths = std::clamp(version * 10.0, double(std::numeric_limits<int32_t>::min()),
                                     double(std::numeric_limits<int32_t>::max()));
    productVersionTenths_ = static_cast<int32_t>(tenths);
}

void Wardex::loadLogMessages() {
    logger_->debug(1, "Loading log messages...");
    std::string directory;
    // Without a folder of its own the configuration uses the catalogs installed with the program.
    if (services_->config().getDirName("Kalvor.directories.conf", directory) != 0) {
        directory = installedDataFolder();
        logger_->debug(2, "The configuration names no catalog folder: the installed one, \"%s\", "
                          "is used.",
                       LogParams() << directory);
    }
    loadCatalogsFrom(directory, true);
}

// Added to the catalogs loaded before, which stay where this load has nothing of its own.
void Wardex::loadCatalogsFrom(const std::string& directory, bool report) {
    const std::string modules = LogCommons::moduleKey(moduleNumber_) + ",configuration,wardex";
    auto catalog = std::make_shared<MessageCatalog>();
    if (const auto current = LogState::catalog())
        catalog->merge(*current);
    const CatalogLoadReport loaded = loadCatalogs(*catalog, directory, modules);
    LogState::registerCatalog(catalog);
    for (std::size_t index = 0; index < loaded.rejectionReasons.size(); ++index) {
        if (!loaded.rejectionReasons[index].empty())
            logger_->debug(1, "Catalog \"%s\" could not be read: %s",
                           LogParams() << loaded.rejected[index]
                                       << loaded.rejectionReasons[index]);
    }
    if (!report)
        return;
    for (std::size_t index = 0; index < loaded.accepted.size(); ++index)
        logger_->debug(2, "Loaded %i messages for module \"%s\".",
                       LogParams() << loaded.counts[index] << loaded.accepted[index]);
    if (loaded.accepted.empty())
        logger_->debug(1, "No log messages were loaded.");
    // Catalogs of the suite's other programs share the folder: leaving them is routine. A file
    // that names no module at all is worth a word.
    for (const std::string& module : loaded.rejected)
        logger_->debug(LogCommons::moduleNumber(module) == LogCommons::kUnknownNumber ? 1 : 2,
                       "Messages for module \"%s\" were rejected.", LogParams() << module);
}

void Wardex::handleMessage(const std::string& type, const std::string& id, const std::string& text,
                           const std::string& sender, const std::optional<SenderIdentity>& from) {
    if (handler_)
        (*handler_)(type, id, text, sender, from);
    // A stop wakes the loop by itself; a reconfiguration is done at once too.
    if (reconfigureRequested_.load())
        events_.wake();
}

bool Wardex::takeWindowMessage() {
    ThreadMessage message;
    if (!peekMessage(message))
        return false;
    return message.message == kWmClose || message.message == kWmDestroy;
}

bool Wardex::run() {
    markers_ =
        std::make_unique<Markers>(logger_, Markers::keyPathFor(productVersionTenths_), userTag_);
    markers_->changeMarker(Markers::kStopped, Markers::kSupervising);
    try {
        // Only this account (and the administrator) may steer the supervisor: on win32 the
        // mailslot's access list keeps the others out, on posix the handler checks each sender.
        server_ = std::make_shared<IPCServer>(
            "Wardex_" + userTag_, services_->dispatcher(),
            [this](const std::string& type, const std::string& id, const std::string& text,
                   const std::string& sender, const std::optional<SenderIdentity>& from) {
                handleMessage(type, id, text, sender, from);
            },
            MailSlot::Writers::kOwnAccount);
    } catch (const std::bad_alloc&) {
        logger_->fatal(kNoServer, LogParams() << "MEMORY");
        return fail("its IPC server could not be created (MEMORY)");
    } catch (const Exception&) {
        logger_->fatal(kNoServer, LogParams() << "THREAD");
        return fail("its IPC server could not be created (THREAD)");
    }
    // Without its mailslot the supervisor could neither be stopped by DIE nor hear the answers
    // of running applications, and would start them a second time.
    std::string deaf;
    if (!server_->waitUntilReady(deaf)) {
        // Its listener has already ended: nothing is left for the shutdown sequence to stop.
        server_.reset();
        logger_->fatal(kNoServer, LogParams() << deaf);
        return fail("its IPC server could not be created (" + deaf + ")");
    }
    logger_->notice(kStarted);

    const Clock& clock = services_->clock();
    const TimeSpan statusInterval(kStatusIntervalSeconds);
    DateTime nextStatusTime = clock.now().plus(statusInterval);
    uint64_t nextPass = realMilliseconds();
    int32_t passCounter = 0;
    bool checking = false;

    // A pass (markers read, every application checked) comes every half second; an event (an
    // application's end, an answer, a reconfiguration request, a due restart) checks the
    // applications at once in between. A stop ends the loop before anything is started.
    while (!stopNoticed()) {
        const uint64_t tick = realMilliseconds();
        const bool pass = tick >= nextPass;
        if (pass) {
            nextPass = tick + kPassMilliseconds;
            if (--passCounter <= 0) {
                logger_->debug(5, "Main loop: Running as normal.");
                passCounter = kPassesPerRoutineLine;
            }
        }
        if (reconfigureRequested_.load())
            reconfigure(false);
        answerOperators();
        if (pass)
            checking = readMarkers(passCounter);
        if (stop_.requested())
            continue;
        if (checking) {
            const DateTime current = clock.now();
            bool statusPass = false;
            if (pass && !current.before(nextStatusTime)) {
                nextStatusTime = current.plus(statusInterval);
                statusPass = true;
            }
            table_->check(current, statusPass);
        }
        waitForEvents(nextPass, checking);
    }
    logger_->debug(1, "Main loop has exited.");
    return true;
}

// Carries out what operators asked for since the last time, in order, and answers each.
void Wardex::answerOperators() {
    std::vector<OperatorRequest> requests;
    {
        std::lock_guard<std::mutex> guard(operatorMutex_);
        requests.swap(operatorRequests_);
    }
    for (const OperatorRequest& request : requests) {
        logger_->debug(2, "IPC from %s: %s of application \"%s\".",
                       LogParams() << quotedExcerpt(request.asker) << request.verb
                                   << quotedExcerpt(request.name));
        std::string failure;
        std::string answer = "OK";
        if (request.verb == "RECONFIG") {
            // Asked for just now: done here, if the loop has not done it yet.
            if (reconfigureRequested_.load())
                reconfigure(false);
            failure = lastReconfiguration_;
        } else if (request.verb == "CONFPATH") {
            std::error_code ignored;
            answer = "PATH " + std::filesystem::absolute(configFile_, ignored).string();
        } else if (request.verb == "LOGPATH") {
            const std::string path = request.name.empty()
                                         ? services_->logFilePath()
                                         : table_->outputFileOf(request.name, failure);
            if (failure.empty() && path.empty())
                failure = "there is no log file";
            // wardexctl runs in a folder of its own: a path relative to ours would miss.
            std::error_code ignored;
            answer = "PATH " + std::filesystem::absolute(path, ignored).string();
        } else if (request.verb == "START") {
            failure = table_->startByOperator(request.name);
        } else if (request.verb == "STOP") {
            failure = table_->stopByOperator(request.name);
        } else if (request.verb == "RESTART") {
            failure = table_->restartByOperator(request.name);
        } else {
            const int32_t signal = containerSignalNamed(request.signal);
            failure = signal == 0 ? "no signal \"" + request.signal + "\" here"
                                  : table_->signalByOperator(request.name, signal);
        }
        table_->publishStatus();
        try {
            services_->apps().send(request.asker, "REPLY",
                                   request.verb == "RECONFIG" ? "RECONFIG" : "APP",
                                   !failure.empty() ? "FAILED " + failure : answer,
                                   "Wardex_" + userTag_);
        } catch (const Exception& error) {
            logger_->debug(1, "IPC: Cannot answer %s: %s",
                           LogParams() << quotedExcerpt(request.asker) << error.report());
        }
    }
}

// Logs the stop that came, as each source always has been; true once one has.
bool Wardex::stopNoticed() {
    // A session message sent to the hidden window reaches its procedure during the peek.
    const bool closeTaken = !stop_.requested() && takeWindowMessage();
    if (stop_.requestedBy(StopFlag::kSessionEnd)) {
        logger_->debug(1, "Main loop: received shutdown signal from system.");
        return true;
    }
    if (closeTaken || stop_.requestedBy(StopFlag::kClose)) {
        logger_->debug(1, "Main loop: Got Windows message to shut down.");
        stop_.request(StopFlag::kClose);
        markers_->changeMarker(Markers::kSupervising, Markers::kStopped);
        return true;
    }
    return stop_.requested();
}

// Reads both markers; true when the instance marker lets the applications be checked.
bool Wardex::readMarkers(int32_t passCounter) {
    int32_t value = 0;
    const int32_t global = markers_->readGlobal(value);
    if (global == SI_MISSING) {
        logger_->debug(1, "Main loop: Registry marker not found. Shutting down.");
        stop_.request(StopFlag::kMarker);
    } else if (global == SI_OK && value == Markers::kShutdownValue) {
        logger_->debug(1, "Main loop: Registry marker has shutdown value. Shutting down.");
        stop_.request(StopFlag::kMarker);
    }

    const int32_t instance = markers_->readInstance(value);
    if (instance == SI_MISSING) {
        markers_->setMissingInstance();
        return false;
    }
    if (instance == SI_OK && value == Markers::kSupervising)
        return true;
    if (passCounter == 1)
        logger_->debug(1, "Main loop: Was going to check if applications were still running, "
                          "but Registry marker prevented it.");
    return false;
}

// The one wait of the main thread: until the next pass, an awaited answer's time-out or a
// paced restart, whichever is first, or until something happens.
void Wardex::waitForEvents(uint64_t nextPass, bool checking) {
    const uint64_t now = realMilliseconds();
    uint64_t left = nextPass > now ? nextPass - now : 0;
    if (const auto due = checking ? table_->millisecondsToNextDeadline() : std::nullopt)
        left = std::min<uint64_t>(left, *due);
    // Output is carried whether or not the applications are checked: a program whose pipe
    // fills up would stop.
    events_.watchOnly(table_->waitables(checking));
    const std::vector<intptr_t> reported = events_.wait(static_cast<uint32_t>(left));
    if (const std::size_t ended = table_->noteReported(reported))
        logger_->debug(4, "Main loop: %i application process(es) ended.",
                       LogParams() << static_cast<int32_t>(ended));
}

Wardex::~Wardex() {
    shutDown();
}

void Wardex::shutDown() {
    if (!logger_ || shutDown_)
        return;
    shutDown_ = true;
    logger_->debug(1, "Shutting down the Wardex...");
    // Only a supervisor that reached its main loop owns the instance marker: one refused at
    // start-up must leave the running supervisor's marker alone.
    if (markers_)
        markers_->changeMarker(Markers::kSupervising, Markers::kStopped);
    logger_->debug(1, "   Terminating applications...");
    if (table_) {
        table_->signalAllToShutDown();
        awaitStoppingApplications();
    }
    logger_->debug(1, "   Terminating IPC server.");
    if (server_)
        server_->stop();
    server_.reset();
    table_.reset();
    instanceLock_.reset();
}

// The applications are stopped in parallel, each by its own sequence (DIE, the polite signal,
// the kill); the wait ends as soon as they all have, and at most twice the longest stop
// time-out after the request.
void Wardex::awaitStoppingApplications() {
    const uint64_t longest = static_cast<uint64_t>(table_->longestStopTimeoutSeconds()) * 1000;
    const uint64_t until = realMilliseconds() + 2 * longest + kShutdownSlackMilliseconds;
    while (table_->advanceStops()) {
        const uint64_t now = realMilliseconds();
        if (now >= until)
            return;
        uint64_t left = until - now;
        if (const auto due = table_->millisecondsToNextDeadline())
            left = std::min<uint64_t>(left, *due);
        events_.watchOnly(table_->waitables(true));
        table_->noteReported(events_.wait(static_cast<uint32_t>(left)));
    }
}

} // namespace Kalvor
