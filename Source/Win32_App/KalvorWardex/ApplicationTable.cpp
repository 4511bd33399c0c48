#include "Win32_App/KalvorWardex/ApplicationTable.h"

#include "Win32_App/KalvorWardex/WardexMessages.h"

#include "Common/Exception.h"
#include "Common/StringUtils.h"
#include "Logger/LoggerUnit.h"
#include "Win32_App/KalvorWardex/AppServices.h"
#include "Win32_App/KalvorWardex/Clock.h"

#include <algorithm>
#include <cstdlib>
#include <new>

namespace Kalvor {

namespace {
using namespace WardexMessage;
// How long an application asked whether it runs has to answer.
constexpr uint64_t kAnswerMilliseconds = 5000;


uint32_t decimalOf(const std::string& text) {
    return static_cast<uint32_t>(std::strtoul(text.c_str(), nullptr, 10));
}

StatusRecord statusOf(const SupervisedApp& app) {
    StatusRecord record;
    record.name = app.name;
    record.id = app.id;
    record.state = appStateName(app.state);
    const bool hasProcess = app.state == AppState::Running || app.state == AppState::Stopping;
    record.processId = hasProcess && app.job ? app.job->processId() : 0;
    record.restarts = app.restartCount;
    if (app.lastStartTime.seconds() != 0)
        record.lastStart = app.lastStartTime.text();
    record.active = app.active;
    return record;
}
} // namespace

const char* appStateName(AppState state) {
    switch (state) {
    case AppState::Asking:
        return "asking";
    case AppState::Running:
        return "running";
    case AppState::Restarting:
        return "stopped";
    case AppState::Stopping:
        return "stopping";
    case AppState::GivenUp:
        return "given up";
    case AppState::NotStarted:
    case AppState::Dormant:
        break;
    }
    return "not started";
}

ApplicationTable::ApplicationTable(std::shared_ptr<LoggerUnit> logger, AppServices& services,
                                   const Clock& clock, std::string userTag, uint32_t restartGapMs)
    : logger_(std::move(logger)), services_(services), clock_(clock), userTag_(std::move(userTag)),
      restartGapMs_(restartGapMs) {}

ApplicationTable::~ApplicationTable() {
    std::lock_guard<std::mutex> guard(infoMutex_);
    awaiting_.clear();
}

SupervisedApp* ApplicationTable::find(const std::string& name) {
    const auto found = byName_.find(name);
    return found == byName_.end() ? nullptr : found->second;
}

SupervisedApp& ApplicationTable::findOrAdd(const std::string& name) {
    if (SupervisedApp* app = find(name)) {
        // Listed again: supervised anew, as a record made now would be.
        if (app->state == AppState::GivenUp || app->state == AppState::Dormant) {
            app->state = AppState::NotStarted;
            app->restartCount = 0;
            app->lastStartTime.setSeconds(0);
        }
        return *app;
    }
    SupervisedApp& added = apps_.emplace_back(name);
    byName_.emplace(name, &added);
    return added;
}

std::vector<StatusRecord> ApplicationTable::statusRecords() const {
    std::lock_guard<std::mutex> guard(statusMutex_);
    return published_;
}

void ApplicationTable::publishStatus() {
    std::vector<StatusRecord> records;
    records.reserve(apps_.size());
    for (const SupervisedApp& app : apps_)
        records.push_back(statusOf(app));
    std::lock_guard<std::mutex> guard(statusMutex_);
    published_ = std::move(records);
}

void ApplicationTable::check(const DateTime& now, bool statusPass) {
    for (SupervisedApp& app : apps_) {
        // What goes wrong with one application must not keep the others from being checked;
        // this one is checked again at the next pass.
        try {
            checkOne(app, now, statusPass);
        } catch (Exception& failure) {
            failure.addLocation(KALVOR_HERE);
            logger_->debug(1, "Main loop: Checking application \"%s\" failed: %s",
                           LogParams() << app.name << failure.report());
        } catch (const std::exception& failure) {
            logger_->debug(1, "Main loop: Checking application \"%s\" failed: %s",
                           LogParams() << app.name << failure.what());
        }
    }
    publishStatus();
}

// The transitions. A state that leads on to another in the same pass falls through to it, as
// the checks of one pass always have: a capture or start is followed by the running check, and
// an end that is due for a restart is restarted at once.
void ApplicationTable::checkOne(SupervisedApp& app, const DateTime& now, bool statusPass) {
    const uint64_t tick = clock_.monotonicMilliseconds();
    switch (app.state) {
    case AppState::NotStarted:
    case AppState::Asking:
        // An answer that came at once is taken in the pass that asked.
        if (app.state == AppState::NotStarted)
            ask(app, tick);
        if (app.state == AppState::Asking)
            collectAnswer(app, tick);
        if (app.state == AppState::Asking)
            return;
        break;
    case AppState::Stopping:
        checkStopping(app);
        return;
    case AppState::Running:
    case AppState::Restarting:
        break;
    case AppState::Dormant:
    case AppState::GivenUp:
        return;
    }
    if (app.state == AppState::Running)
        checkRunning(app, now, statusPass);
    if (app.state == AppState::Restarting)
        restartWhenDue(app, now, tick);
}

// Asks whether it runs; when the question cannot be sent it does not, and is started.
void ApplicationTable::ask(SupervisedApp& app, uint64_t tick) {
    logger_->debug(2, "Getting application \"%s\"...", LogParams() << app.name);
    logger_->debug(3, "   Trying to find out if \"%s\" is already running...",
                   LogParams() << app.name);
    await(app);
    bool sent = false;
    try {
        sent = services_.send(mailslotOf(app), "COMMAND", "SEND_PROCESS_INFO", "SEND_PROCESS_INFO",
                              ownMailslot());
    } catch (const Exception& failure) {
        logger_->debug(3, failure.report());
    }
    if (sent) {
        app.answerDeadline = tick + kAnswerMilliseconds;
        app.state = AppState::Asking;
        return;
    }
    stopAwaiting(app);
    logger_->debug(3, "   Application is not running.");
    startOrLetGo(app);
}

void ApplicationTable::collectAnswer(SupervisedApp& app, uint64_t tick) {
    if (!takenProcessInfo(app).empty()) {
        logger_->debug(3, "   Application is running.");
        // An answer whose process is not the application's counts as no answer.
        switch (capture(app)) {
        case Capture::Taken:
            return;
        case Capture::Unusable:
            return leave(app, AppState::GivenUp);
        case Capture::Refused:
            return startOrLetGo(app);
        }
    }
    if (tick < app.answerDeadline)
        return;
    stopAwaiting(app);
    logger_->debug(3, "   Application is not running.");
    startOrLetGo(app);
}

// What is done with an application found not running: started when it is to be active.
void ApplicationTable::startOrLetGo(SupervisedApp& app) {
    if (!app.active) {
        logger_->debug(2, "Application \"%s\" is not to be activated.", LogParams() << app.name);
        return leave(app, AppState::Dormant);
    }
    if (!startApplication(app, false))
        return leave(app, AppState::GivenUp);
    app.restartCount = 0;
}

void ApplicationTable::checkRunning(SupervisedApp& app, const DateTime& now, bool statusPass) {
    const bool windowPassed = app.lastStartTime.plus(restartWindow_).before(now);
    if (app.job->status() == JobRunning) {
        if (!app.active) {
            signalShutdown(app);
            app.state = AppState::Stopping;
            return;
        }
        if (windowPassed)
            app.restartCount = 0;
        if (statusPass)
            logger_->debug(5, "Main loop: Application \"%s\" is running normally.",
                           LogParams() << app.name);
        return;
    }
    // One that was told to stop because it is no longer to run has done so: bringing it back
    // would only have it told to stop again.
    if (!app.active) {
        logger_->debug(2, "Application \"%s\" is not to be activated.", LogParams() << app.name);
        return leave(app, AppState::Dormant);
    }
    // A crash loop is restarted no faster than the passes used to come.
    app.state = AppState::Restarting;
    app.restartDue = app.lastStartAttempt + restartGapMs_;
}

void ApplicationTable::restartWhenDue(SupervisedApp& app, const DateTime& now, uint64_t tick) {
    if (!app.active) {
        logger_->debug(2, "Application \"%s\" is not to be activated.", LogParams() << app.name);
        return leave(app, AppState::Dormant);
    }
    if (tick < app.restartDue)
        return;
    logger_->warning(kNotRunning, LogParams() << app.name);
    if (app.lastStartTime.plus(restartWindow_).before(now) && app.restartCount > kMaxRestarts) {
        logger_->error(kGivenUp, LogParams() << app.name);
        return leave(app, AppState::GivenUp);
    }
    ++app.restartCount;
    if (!startApplication(app, true))
        app.restartDue = app.lastStartAttempt + restartGapMs_;
}

// Told to stop, at shutdown or because it is no longer to be active: told again each pass
// until it has ended, unless it is to run again.
void ApplicationTable::checkStopping(SupervisedApp& app) {
    if (app.job && app.job->status() == JobRunning) {
        if (app.active) {
            app.state = AppState::Running;
            return;
        }
        signalShutdown(app);
        return;
    }
    logger_->debug(2, "Application \"%s\" is not to be activated.", LogParams() << app.name);
    leave(app, AppState::Dormant);
}

// Into a state the application leaves only by a reconfiguration.
void ApplicationTable::leave(SupervisedApp& app, AppState state) {
    stopAwaiting(app);
    app.job.reset();
    app.state = state;
}

void ApplicationTable::signalAllToShutDown() {
    for (SupervisedApp& app : apps_) {
        app.active = false;
        if (!app.job)
            continue;
        signalShutdown(app);
        app.state = AppState::Stopping;
    }
}

bool ApplicationTable::anyStopping() {
    for (SupervisedApp& app : apps_) {
        try {
            if (app.state == AppState::Stopping && app.job && app.job->status() == JobRunning)
                return true;
        } catch (const Exception&) {
            // Not knowable: nothing to wait for.
        }
    }
    return false;
}

std::vector<intptr_t> ApplicationTable::waitables() const {
    std::vector<intptr_t> waitables;
    for (const SupervisedApp& app : apps_) {
        if ((app.state == AppState::Running || app.state == AppState::Stopping) && app.job &&
            !app.endReported && app.job->waitable() != JobInstance::kNoWaitable)
            waitables.push_back(app.job->waitable());
    }
    return waitables;
}

void ApplicationTable::noteEnded(const std::vector<intptr_t>& waitables) {
    if (waitables.empty())
        return;
    for (SupervisedApp& app : apps_)
        if (app.job && std::find(waitables.begin(), waitables.end(), app.job->waitable()) !=
                           waitables.end())
            app.endReported = true;
}

std::optional<uint64_t> ApplicationTable::millisecondsToNextDeadline() const {
    std::optional<uint64_t> soonest;
    const uint64_t now = clock_.monotonicMilliseconds();
    for (const SupervisedApp& app : apps_) {
        uint64_t due = 0;
        if (app.state == AppState::Asking)
            due = app.answerDeadline;
        else if (app.state == AppState::Restarting)
            due = app.restartDue;
        else
            continue;
        const uint64_t left = due > now ? due - now : 0;
        if (!soonest || left < *soonest)
            soonest = left;
    }
    return soonest;
}

bool ApplicationTable::storeProcessInfo(const std::string& text, const std::string& sender,
                                        const std::optional<SenderIdentity>& from) {
    std::lock_guard<std::mutex> guard(infoMutex_);
    // A late answer to an earlier question, or one from anybody but the application asked,
    // must not land in a record now waiting.
    const auto asked = std::find_if(awaiting_.begin(), awaiting_.end(), [&](SupervisedApp* app) {
        return sender == mailslotOf(*app);
    });
    if (asked == awaiting_.end())
        return false;
    if (from && decimalOf(text) != from->processId)
        return false;
    (*asked)->processInfo = text;
    return true;
}

void ApplicationTable::await(SupervisedApp& app) {
    std::lock_guard<std::mutex> guard(infoMutex_);
    app.processInfo.clear();
    if (std::find(awaiting_.begin(), awaiting_.end(), &app) == awaiting_.end())
        awaiting_.push_back(&app);
}

void ApplicationTable::stopAwaiting(SupervisedApp& app) {
    std::lock_guard<std::mutex> guard(infoMutex_);
    awaiting_.erase(std::remove(awaiting_.begin(), awaiting_.end(), &app), awaiting_.end());
}

std::string ApplicationTable::takenProcessInfo(SupervisedApp& app) {
    std::lock_guard<std::mutex> guard(infoMutex_);
    return app.processInfo;
}

ApplicationTable::Capture ApplicationTable::capture(SupervisedApp& app) {
    logger_->debug(3, "Trying to capture running application \"%s\"...", LogParams() << app.name);
    stopAwaiting(app);
    std::string threadText = takenProcessInfo(app);
    const std::string processText = cutField(threadText, ',');
    const uint32_t processId = decimalOf(processText);
    const uint32_t threadId = decimalOf(threadText);
    if (processId == 0 || threadId == 0) {
        logger_->debug(3, "   Failed to capture application.");
        logger_->error(kCaptureFailed, LogParams() << app.name << "UNUSABLE PROCESS INFO");
        return Capture::Unusable;
    }
    // The job is made first: it holds the process, so that the checks below cannot be about
    // another one that took its number.
    std::string refused;
    try {
        app.job = services_.attachProcess(processId, threadId);
    } catch (const std::bad_alloc&) {
        app.job.reset();
        logger_->error(kCaptureFailed, LogParams() << app.name << "OUT OF MEMORY");
        return Capture::Unusable;
    } catch (const JobException& failure) {
        logger_->debug(3, failure.report());
        refused = failure.describe();
        if (!failure.detail().empty())
            refused += " " + failure.detail();
    }
    std::string path;
    if (refused.empty() && !programPath(app, path))
        refused = "no program directory to check it against";
    if (refused.empty())
        refused = services_.processMismatch(processId, threadId, path);
    if (refused.empty() && app.job->status() != JobRunning)
        refused = "process " + processText + " ended while it was checked";
    if (!refused.empty()) {
        app.job.reset();
        logger_->error(kCaptureFailed, LogParams() << app.name << refused);
        return Capture::Refused;
    }
    logger_->debug(3, "   Captured running application.");
    app.endReported = false;
    app.state = AppState::Running;
    return Capture::Taken;
}
bool ApplicationTable::programPath(const SupervisedApp& app, std::string& path) {
    std::string directory;
    if (!services_.programDirectory(directory))
        return false;
    if (directory.empty() || (directory.back() != '\\' && directory.back() != '/'))
        directory += '\\';
    path = directory + app.name + services_.executableSuffix();
    return true;
}

bool ApplicationTable::startApplication(SupervisedApp& app, bool restart) {
    logger_->debug(2,
                   restart ? "Attempting to restart application \"%s\"..."
                           : "Attempting to start application \"%s\"...",
                   LogParams() << app.name);
    std::string path;
    if (!programPath(app, path)) {
        logger_->error(kMissingKey, LogParams() << "Kalvor.directories.bin");
        return false;
    }
    try {
        try {
            app.job = services_.makeProcess(path);
        } catch (const std::bad_alloc&) {
            app.job.reset();
        }
        if (!app.job) {
            logger_->error(kStartFailed, LogParams() << app.name << "OUT OF MEMORY");
            return false;
        }
        app.lastStartAttempt = clock_.monotonicMilliseconds();
        app.job->execute();
        if (app.job->status() != JobRunning) {
            logger_->error(kStartFailed, LogParams() << app.name << "WONT START");
            return false;
        }
    } catch (const JobException& failure) {
        logger_->error(kStartFailed, LogParams() << app.name << failure.report());
        return false;
    }
    logger_->debug(2, restart ? "   Successfully restarted application."
                              : "   Successfully started application.");
    app.lastStartTime = clock_.now();
    app.endReported = false;
    app.state = AppState::Running;
    return true;
}

void ApplicationTable::signalShutdown(SupervisedApp& app) {
    logger_->debug(2, "Application \"%s\" will be signaled to shut down.", LogParams() << app.name);
    try {
        services_.send(mailslotOf(app), "COMMAND", "", "DIE", ownMailslot());
    } catch (const Exception&) {
        // The result of the send is not used: the next pass sends again while it runs.
    }
}

} // namespace Kalvor
