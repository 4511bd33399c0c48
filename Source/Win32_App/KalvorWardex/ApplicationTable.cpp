#include "Win32_App/KalvorWardex/ApplicationTable.h"

#include "Win32_App/KalvorWardex/WardexMessages.h"

#include "Common/Exception.h"
#include "Common/StringUtils.h"
#include "Logger/LoggerUnit.h"
#include "Win32_App/KalvorWardex/AppServices.h"
#include "Win32_App/KalvorWardex/Clock.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <utility>

namespace Kalvor {

namespace {
using namespace WardexMessage;
// How long an application asked whether it runs has to answer.
constexpr uint64_t kAnswerMilliseconds = 5000;
// A run shorter than this is a crash loop: the restart after it waits, longer each time.
constexpr uint64_t kShortRunMilliseconds = 10000;
constexpr uint64_t kFirstBackoffMilliseconds = 500;
constexpr uint64_t kLongestBackoffMilliseconds = 30000;

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
    if (app.lastExit.known && app.lastExit.signal != 0)
        record.exitSignal = app.lastExit.signal;
    else if (app.lastExit.known)
        record.exitCode = app.lastExit.code;
    const bool why = app.state == AppState::Restarting || app.state == AppState::GivenUp ||
                     app.state == AppState::Dormant || app.state == AppState::Held;
    if (why && !app.reason.empty())
        record.reason = app.reason;
    return record;
}
} // namespace

std::string exitText(const ExitStatus& status) {
    if (!status.known)
        return "";
    if (status.signal == 0)
        return "exit code " + std::to_string(status.code);
    std::string text = "signal " + std::to_string(status.signal);
    if (const char* name = signalName(status.signal))
        text += " (" + std::string(name) + ")";
    return text;
}

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
    case AppState::Held:
        return "held";
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
        // Listed again before its stop was over: it stays.
        if (app->afterStop == AfterStop::Remove)
            app->afterStop = AfterStop::Decide;
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

void ApplicationTable::keepOnly(const std::vector<std::string>& names) {
    const uint64_t tick = clock_.monotonicMilliseconds();
    for (SupervisedApp& app : apps_) {
        if (std::find(names.begin(), names.end(), app.name) != names.end())
            continue;
        app.active = false;
        stopAwaiting(app);
        if (app.state == AppState::Running)
            beginStop(app, tick);
        if (app.state != AppState::Stopping)
            leave(app, AppState::Dormant);
        app.afterStop = AfterStop::Remove;
        logger_->debug(1, "Application \"%s\" is no longer listed: it is stopped and left out.",
                       LogParams() << app.name);
    }
    removeLeavers();
    // The file's order: each named one moved behind the one before.
    auto place = apps_.begin();
    for (const std::string& name : names) {
        const auto found = std::find_if(apps_.begin(), apps_.end(),
                                        [&](const SupervisedApp& app) { return app.name == name; });
        if (found == apps_.end())
            continue;
        if (found == place)
            ++place;
        else
            apps_.splice(place, apps_, found);
    }
}

// The ones no longer listed whose stop is over.
void ApplicationTable::removeLeavers() {
    for (auto app = apps_.begin(); app != apps_.end();) {
        if (app->afterStop != AfterStop::Remove || app->state == AppState::Stopping) {
            ++app;
            continue;
        }
        stopAwaiting(*app);
        byName_.erase(app->name);
        recordsChanged_ = true;
        app = apps_.erase(app);
    }
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
    services_.reapInherited();
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
    removeLeavers();
    writeRecords();
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
    case AppState::Held:
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
            return giveUp(app, "its answer named no usable process");
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
    if (adoptRecorded(app))
        return;
    if (!startApplication(app, false))
        return giveUp(app, "could not be started");
    app.restartCount = 0;
}

void ApplicationTable::checkRunning(SupervisedApp& app, const DateTime& now, bool statusPass) {
    const bool windowPassed = app.lastStartTime.plus(restartWindow_).before(now);
    const uint64_t tick = clock_.monotonicMilliseconds();
    // A process whose end the wait watches and has not reported still runs: asking the
    // system each pass would cost more than everything else an idle pass does.
    const bool watched = app.job->waitable() != JobInstance::kNoWaitable && !app.endReported;
    if (watched || app.job->status() == JobRunning) {
        if (!app.active)
            return beginStop(app, tick);
        if (windowPassed)
            app.restartCount = 0;
        if (statusPass)
            logger_->debug(5, "Main loop: Application \"%s\" is running normally.",
                           LogParams() << app.name);
        return;
    }
    noteEnd(app);
    // One that was told to stop because it is no longer to run has done so: bringing it back
    // would only have it told to stop again.
    if (!app.active) {
        logger_->debug(2, "Application \"%s\" is not to be activated.", LogParams() << app.name);
        return leave(app, AppState::Dormant);
    }
    app.state = AppState::Restarting;
    const uint64_t ran = app.lastStartAttempt == 0 ? kShortRunMilliseconds
                                                   : tick - app.lastStartAttempt;
    scheduleRestart(app, tick, ran >= kShortRunMilliseconds);
}

// Says how its process ended, once, and keeps it for the status. What the process left in its
// container goes with it, so that a restart never runs beside the last run's children.
void ApplicationTable::noteEnd(SupervisedApp& app) {
    app.job->killContainer();
    app.lastExit = app.job->exitStatus();
    app.reason = exitText(app.lastExit);
    if (!app.reason.empty())
        logger_->debug(1, "Application \"%s\" ended: %s.", LogParams() << app.name << app.reason);
}

// A run of ten seconds or more is restarted at once; a shorter one after a delay that doubles
// from half a second up to thirty. Never sooner than the gap after the last start.
void ApplicationTable::scheduleRestart(SupervisedApp& app, uint64_t tick, bool afterLongRun) {
    if (afterLongRun)
        app.backoffMs = 0;
    else
        app.backoffMs = app.backoffMs == 0
                            ? kFirstBackoffMilliseconds
                            : std::min(app.backoffMs * 2, kLongestBackoffMilliseconds);
    app.restartDue = std::max(tick + app.backoffMs, app.lastStartAttempt + restartGapMs_);
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
        const std::string last = app.reason;
        return giveUp(app, "failed too often" + (last.empty() ? "" : " (last: " + last + ")"));
    }
    ++app.restartCount;
    if (!startApplication(app, true))
        scheduleRestart(app, tick, false);
}

// The stop sequence: DIE, then the polite signal to its container, then the kill, each after
// the application's stop time-out when the step before has not ended it.
void ApplicationTable::beginStop(SupervisedApp& app, uint64_t tick) {
    signalShutdown(app);
    app.state = AppState::Stopping;
    app.stopStage = StopStage::Die;
    app.stopDeadline = tick + stopStepMilliseconds(app);
}

uint64_t ApplicationTable::stopStepMilliseconds(const SupervisedApp& app) {
    return static_cast<uint64_t>(std::max(app.stopTimeoutSeconds, 0)) * 1000;
}

// Told to stop, at shutdown or because it is no longer to be active: told again each pass
// until it has ended, unless it is to run again, and pressed harder when it does not.
void ApplicationTable::checkStopping(SupervisedApp& app) {
    if (app.job && app.job->status() == JobRunning) {
        if (app.active && !shuttingDown_ && app.afterStop == AfterStop::Decide) {
            app.state = AppState::Running;
            return;
        }
        const uint64_t tick = clock_.monotonicMilliseconds();
        if (tick < app.stopDeadline) {
            if (app.stopStage == StopStage::Die)
                signalShutdown(app);
            return;
        }
        if (app.stopStage == StopStage::Die) {
            logger_->debug(1, "Application \"%s\" did not end on DIE; it is asked to close.",
                           LogParams() << app.name);
            app.job->askContainerToClose();
            app.stopStage = StopStage::Polite;
            app.stopDeadline = tick + stopStepMilliseconds(app);
        } else if (app.stopStage == StopStage::Polite) {
            logger_->debug(1, "Application \"%s\" did not close; it is killed.",
                           LogParams() << app.name);
            app.job->killContainer();
            app.stopStage = StopStage::Kill;
            app.stopDeadline = tick + stopStepMilliseconds(app);
        }
        return;
    }
    if (app.job)
        noteEnd(app);
    if (app.afterStop == AfterStop::Remove) {
        leave(app, AppState::Dormant);
        app.reason = "no longer listed";
        return;
    }
    const AfterStop after = std::exchange(app.afterStop, AfterStop::Decide);
    if (after == AfterStop::Restart && !shuttingDown_ && app.active) {
        leave(app, AppState::NotStarted);
        startNow(app);
        return;
    }
    if (after != AfterStop::Decide && !shuttingDown_)
        return hold(app);
    logger_->debug(2, "Application \"%s\" is not to be activated.", LogParams() << app.name);
    leave(app, AppState::Dormant);
    app.reason = shuttingDown_ ? "stopped at shutdown" : "stopped: no longer active";
}

void ApplicationTable::hold(SupervisedApp& app) {
    logger_->debug(1, "Application \"%s\" is held stopped by wardexctl.", LogParams() << app.name);
    leave(app, AppState::Held);
    app.reason = "stopped by wardexctl";
}

// Now, whatever its back-off or count of failures: an operator asked.
std::string ApplicationTable::startNow(SupervisedApp& app) {
    app.restartCount = 0;
    app.backoffMs = 0;
    if (!startApplication(app, false)) {
        giveUp(app, "could not be started");
        return "it could not be started";
    }
    return "";
}

// An operator steers only a listed application, and nothing once the shutdown has begun.
SupervisedApp* ApplicationTable::operatorTarget(const std::string& name, std::string& why) {
    SupervisedApp* app = find(name);
    why = !app ? "no such application" : shuttingDown_ ? "the supervisor is shutting down" : "";
    return why.empty() ? app : nullptr;
}

// The stop sequence begun, or the one under way left to run on, with `after` to follow it;
// false when no process runs to be stopped.
bool ApplicationTable::stopThen(SupervisedApp& app, AfterStop after) {
    if (app.state == AppState::Running)
        beginStop(app, clock_.monotonicMilliseconds());
    if (app.state != AppState::Stopping)
        return false;
    app.afterStop = after;
    publishStatus();
    return true;
}

std::string ApplicationTable::startByOperator(const std::string& name) {
    std::string why;
    SupervisedApp* app = operatorTarget(name, why);
    if (!app)
        return why;
    if (app->state == AppState::Running || app->state == AppState::Asking)
        return "";
    if (!app->active)
        return "it is not active in the configuration";
    if (stopThen(*app, AfterStop::Restart)) // stopping: started again once it has ended
        return "";
    logger_->debug(1, "Application \"%s\" is started by wardexctl.", LogParams() << name);
    stopAwaiting(*app);
    return startNow(*app);
}

std::string ApplicationTable::stopByOperator(const std::string& name) {
    std::string why;
    SupervisedApp* app = operatorTarget(name, why);
    if (!app)
        return why;
    if (!stopThen(*app, AfterStop::Hold) && app->state != AppState::Held)
        hold(*app);
    publishStatus();
    return "";
}

std::string ApplicationTable::restartByOperator(const std::string& name) {
    std::string why;
    SupervisedApp* app = operatorTarget(name, why);
    if (!app)
        return why;
    if (!app->active)
        return "it is not active in the configuration";
    return stopThen(*app, AfterStop::Restart) ? "" : startByOperator(name);
}

std::string ApplicationTable::outputFileOf(const std::string& name, std::string& why) {
    const SupervisedApp* app = find(name);
    if (!app)
        why = "no such application";
    else if (app->outputPath.empty())
        why = "its output is the supervisor's (output inherit)";
    return app ? app->outputPath : "";
}

std::string ApplicationTable::signalByOperator(const std::string& name, int32_t signal) {
    SupervisedApp* app = find(name);
    if (!app)
        return "no such application";
    if ((app->state != AppState::Running && app->state != AppState::Stopping) || !app->job)
        return "it is not running";
    return app->job->signalContainer(signal) ? "" : "the signal could not be sent";
}

// Into a state the application leaves only by a reconfiguration.
void ApplicationTable::leave(SupervisedApp& app, AppState state) {
    stopAwaiting(app);
    recordsChanged_ = recordsChanged_ || app.job != nullptr;
    app.job.reset();
    app.state = state;
}

void ApplicationTable::giveUp(SupervisedApp& app, const std::string& why) {
    leave(app, AppState::GivenUp);
    app.reason = why;
}

void ApplicationTable::signalAllToShutDown() {
    shuttingDown_ = true;
    const uint64_t tick = clock_.monotonicMilliseconds();
    for (SupervisedApp& app : apps_) {
        app.active = false;
        stopAwaiting(app);
        if (app.job)
            beginStop(app, tick);
    }
}

bool ApplicationTable::advanceStops() {
    bool stopping = false;
    for (SupervisedApp& app : apps_) {
        if (app.state != AppState::Stopping)
            continue;
        try {
            checkStopping(app);
        } catch (const Exception&) {
            // Not knowable: nothing to wait for.
            leave(app, AppState::Dormant);
        }
        stopping = stopping || app.state == AppState::Stopping;
    }
    removeLeavers();
    writeRecords();
    publishStatus();
    return stopping;
}

int32_t ApplicationTable::longestStopTimeoutSeconds() const {
    int32_t longest = 0;
    for (const SupervisedApp& app : apps_)
        longest = std::max(longest, app.stopTimeoutSeconds);
    return longest;
}

std::vector<intptr_t> ApplicationTable::waitables(bool processes) const {
    std::vector<intptr_t> waitables;
    for (const SupervisedApp& app : apps_) {
        if (app.output)
            app.output->addWaitables(waitables);
        if (processes && (app.state == AppState::Running || app.state == AppState::Stopping) &&
            app.job && !app.endReported && app.job->waitable() != JobInstance::kNoWaitable)
            waitables.push_back(app.job->waitable());
    }
    return waitables;
}

std::size_t ApplicationTable::noteReported(const std::vector<intptr_t>& reported) {
    std::size_t ended = 0;
    if (reported.empty())
        return ended;
    carryOutput(reported);
    for (SupervisedApp& app : apps_)
        if (app.job && std::find(reported.begin(), reported.end(), app.job->waitable()) !=
                           reported.end()) {
            app.endReported = true;
            ++ended;
        }
    return ended;
}

void ApplicationTable::carryOutput(const std::vector<intptr_t>& reported) {
    for (SupervisedApp& app : apps_) {
        if (!app.output)
            continue;
        app.output->carry(reported);
        const std::string failure = app.output->untoldFailure();
        if (!failure.empty())
            logger_->debug(1, "The output of application \"%s\" is lost until \"%s\" can be "
                              "written: %s",
                           LogParams() << app.name << app.output->path() << failure);
    }
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
        else if (app.state == AppState::Stopping)
            due = app.stopDeadline;
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
        app.job = services_.attachProcess(processId, threadId, containerOf(app));
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
    recordsChanged_ = true;
    app.endReported = false;
    app.state = AppState::Running;
    return Capture::Taken;
}
void ApplicationTable::keepRecords(std::unique_ptr<AppRecordFile> file) {
    records_ = std::move(file);
    recorded_.clear();
    if (!records_)
        return;
    for (AppRecord& record : records_->read())
        recorded_[record.name] = std::move(record);
}

// After a crash of the supervisor: an ordinary program does not answer the question, but its
// record names it. Each record is used once, at the application's first check.
bool ApplicationTable::adoptRecorded(SupervisedApp& app) {
    const auto found = recorded_.find(app.name);
    if (found == recorded_.end())
        return false;
    const AppRecord record = found->second;
    recorded_.erase(found);
    // A process id with its start time names one process: a number taken over since is refused.
    if (record.startTime == 0 || services_.processStartTime(record.processId) != record.startTime)
        return false;
    std::shared_ptr<JobInstance> job;
    try {
        job = services_.attachProcess(record.processId, record.threadId, containerOf(app));
    } catch (const Exception& failure) {
        logger_->debug(3, failure.report());
        return false;
    }
    std::string path;
    // The suite's own applications are checked as an answer is; an ordinary program's command
    // names no program file to check against, and its record is the account's own.
    const std::string refused =
        !app.command.empty()          ? std::string()
        : !programPath(app, path)     ? "no program directory to check it against"
                                      : services_.processMismatch(record.processId,
                                                                  record.threadId, path);
    if (!refused.empty() || job->status() != JobRunning) {
        logger_->error(kCaptureFailed, LogParams() << app.name
                                                   << (refused.empty() ? "it ended" : refused));
        return false;
    }
    logger_->debug(2, "Application \"%s\" is adopted from the record: process %i.",
                   LogParams() << app.name << static_cast<int32_t>(record.processId));
    app.job = std::move(job);
    app.endReported = false;
    app.state = AppState::Running;
    recordsChanged_ = true;
    return true;
}

// The applications that run now, for the next supervisor; written when that changed, and again
// at the next pass when a write failed (a supervisor killed while writing leaves its lock).
void ApplicationTable::writeRecords() {
    if (!records_ || !recordsChanged_)
        return;
    std::vector<AppRecord> records;
    for (const SupervisedApp& app : apps_) {
        if (!app.job || (app.state != AppState::Running && app.state != AppState::Stopping))
            continue;
        AppRecord record;
        record.name = app.name;
        record.processId = app.job->processId();
        record.threadId = app.job->threadId();
        record.startTime = services_.processStartTime(record.processId);
        record.program = app.command;
        records.push_back(std::move(record));
    }
    std::string why;
    const bool written = records_->write(records, why);
    if (written) {
        recordsChanged_ = false;
        logger_->debug(3, "Recorded %i running application(s).",
                       LogParams() << static_cast<int32_t>(records.size()));
    }
    // Said once, not at every pass that tries again.
    if (!why.empty() && why != recordsFailure_)
        logger_->debug(1, "The record of the running applications \"%s\" was not written whole: %s",
                       LogParams() << records_->path() << why);
    recordsFailure_ = why;
}

// Per account, installation and application: a new supervisor of the same installation finds
// it again, and one of another installation of the account (a demo beside the real one) never
// reaches it. The installation is told by a stable hash of its program folder; a backslash
// would make a Windows object name a path.
std::string ApplicationTable::containerOf(const SupervisedApp& app) const {
    std::string directory;
    services_.programDirectory(directory);
    uint32_t hash = 2166136261u; // FNV-1a: the same in every build, so it outlives upgrades
    for (const char byte : directory) {
        hash ^= static_cast<unsigned char>(byte);
        hash *= 16777619u;
    }
    char installation[9];
    std::snprintf(installation, sizeof installation, "%08x", static_cast<unsigned>(hash));
    std::string name = "Wardex_" + userTag_ + "_" + installation + "_" + app.name;
    std::replace(name.begin(), name.end(), '\\', '_');
    return name;
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
    // An ordinary program's command names its program itself: no program folder is needed.
    std::string path;
    if (app.command.empty() && !programPath(app, path)) {
        logger_->error(kMissingKey, LogParams() << "Kalvor.directories.bin");
        return false;
    }
    try {
        try {
            launch(app, path);
        } catch (const std::bad_alloc&) {
            app.job.reset();
        }
        if (!app.job) {
            logger_->error(kStartFailed, LogParams() << app.name << "OUT OF MEMORY");
            return false;
        }
        // One that has already ended did start: its end is noted and its restart backed off
        // like any other, rather than the application given up on for a quick program.
        if (app.job->status() != JobRunning && !app.job->exitStatus().known) {
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
    recordsChanged_ = true;
    app.endReported = false;
    app.reason.clear();
    app.state = AppState::Running;
    return true;
}

// Made and executed; with an output file, through a new pipe whose write end only the
// program keeps.
void ApplicationTable::launch(SupervisedApp& app, const std::string& path) {
    ProcessLaunch launch;
    launch.commandLine = app.command;
    launch.directory = app.directory;
    launch.container = containerOf(app);
    if (app.outputPath.empty()) {
        app.output.reset();
    } else {
        if (!app.output)
            app.output = std::make_unique<AppOutput>(app.outputPath);
        app.output->moveTo(app.outputPath);
        launch.output = &app.output->newPipe();
    }
    struct WriteEndRelease {
        AppOutput* output;
        ~WriteEndRelease() {
            if (output)
                output->started();
        }
    } release{launch.output ? app.output.get() : nullptr};
    app.job = services_.makeProcess(path, launch);
    app.lastStartAttempt = clock_.monotonicMilliseconds();
    app.job->execute();
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
