#include "Win32_App/KalvorWardex/ApplicationTable.h"

#include "Win32_App/KalvorWardex/WardexMessages.h"

#include "Common/Exception.h"
#include "Common/StringUtils.h"
#include "Logger/LoggerUnit.h"
#include "Time/Timer.h"
#include "Win32_App/KalvorWardex/AppServices.h"
#include "Win32_App/KalvorWardex/Clock.h"

#include <algorithm>
#include <cstdlib>
#include <new>

namespace Kalvor {

namespace {
using namespace WardexMessage;
constexpr int32_t kAnswerPolls = 50;
constexpr uint32_t kAnswerPollMilliseconds = 100;


uint32_t decimalOf(const std::string& text) {
    return static_cast<uint32_t>(std::strtoul(text.c_str(), nullptr, 10));
}

StatusRecord statusOf(const SupervisedApp& app) {
    StatusRecord record;
    record.name = app.name;
    record.id = app.id;
    record.state = appStateName(app.state);
    record.processId = app.state == AppState::Running && app.job ? app.job->processId() : 0;
    record.restarts = app.restartCount;
    if (app.lastStartTime.seconds() != 0)
        record.lastStart = app.lastStartTime.text();
    record.active = app.active;
    return record;
}
} // namespace

const char* appStateName(AppState state) {
    switch (state) {
    case AppState::Running:
        return "running";
    case AppState::Stopped:
        return "stopped";
    case AppState::GivenUp:
        return "given up";
    case AppState::NotStarted:
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
    for (auto& app : apps_)
        if (app->name == name)
            return app.get();
    return nullptr;
}

SupervisedApp& ApplicationTable::findOrAdd(const std::string& name) {
    if (SupervisedApp* app = find(name))
        return *app;
    // Listed again: it is supervised anew.
    dropped_.erase(std::remove_if(dropped_.begin(), dropped_.end(),
                                  [&](const StatusRecord& record) { return record.name == name; }),
                   dropped_.end());
    apps_.push_back(std::make_unique<SupervisedApp>(name));
    return *apps_.back();
}

std::vector<StatusRecord> ApplicationTable::statusRecords() const {
    std::lock_guard<std::mutex> guard(statusMutex_);
    return published_;
}

void ApplicationTable::publishStatus() {
    std::vector<StatusRecord> records;
    for (const auto& app : apps_)
        records.push_back(statusOf(*app));
    records.insert(records.end(), dropped_.begin(), dropped_.end());
    std::lock_guard<std::mutex> guard(statusMutex_);
    published_ = std::move(records);
}

void ApplicationTable::check(const DateTime& now, bool statusPass) {
    for (auto position = apps_.begin(); position != apps_.end();) {
        // What goes wrong with one application must not keep the others from being checked;
        // this one is checked again at the next pass.
        const std::string& name = (*position)->name;
        try {
            position = checkOne(position, now, statusPass);
            continue;
        } catch (Exception& failure) {
            failure.addLocation(KALVOR_HERE);
            logger_->debug(1, "Main loop: Checking application \"%s\" failed: %s",
                           LogParams() << name << failure.report());
        } catch (const std::exception& failure) {
            logger_->debug(1, "Main loop: Checking application \"%s\" failed: %s",
                           LogParams() << name << failure.what());
        }
        position = std::next(position);
    }
    publishStatus();
}

ApplicationTable::Records::iterator
ApplicationTable::checkOne(Records::iterator position, const DateTime& now, bool statusPass) {
    SupervisedApp& app = **position;
    const uint64_t tick = clock_.monotonicMilliseconds();
    if (!app.job) {
        const Answer answer = askOrCollect(app, tick);
        if (answer == Answer::Awaited)
            return std::next(position);
        const Capture captured = answer == Answer::Given ? capture(app) : Capture::Refused;
        // An answer whose process is not the application's counts as no answer.
        if (captured == Capture::Unusable || (captured == Capture::Refused && !startOrLetGo(app)))
            return drop(position, app.active ? AppState::GivenUp : AppState::NotStarted);
    }
    const bool windowPassed = app.lastStartTime.plus(restartWindow_).before(now);
    if (app.job->status() == JobRunning) {
        app.state = AppState::Running;
        signalShutdownIfInactive(app);
        if (windowPassed)
            app.restartCount = 0;
        if (statusPass)
            logger_->debug(5, "Main loop: Application \"%s\" is running normally.",
                           LogParams() << app.name);
        return std::next(position);
    }
    // One that was told to stop because it is no longer to run has done so: bringing it back
    // would only have it told to stop again.
    if (!app.active) {
        logger_->debug(2, "Application \"%s\" is not to be activated.", LogParams() << app.name);
        return drop(position, AppState::NotStarted);
    }
    app.state = AppState::Stopped;
    // A crash loop is restarted no faster than the passes used to come.
    if (restartGapMs_ > 0 && tick - app.lastStartAttempt < restartGapMs_)
        return std::next(position);
    logger_->warning(kNotRunning, LogParams() << app.name);
    if (windowPassed && app.restartCount > kMaxRestarts) {
        logger_->error(kGivenUp, LogParams() << app.name);
        return drop(position, AppState::GivenUp);
    }
    ++app.restartCount;
    startApplication(app, true);
    return std::next(position);
}

ApplicationTable::Records::iterator ApplicationTable::drop(Records::iterator position,
                                                          AppState state) {
    stopAwaiting(**position);
    (*position)->state = state;
    dropped_.push_back(statusOf(**position));
    return apps_.erase(position);
}

void ApplicationTable::signalAllToShutDown() {
    for (auto& app : apps_) {
        app->active = false;
        signalShutdownIfInactive(*app);
    }
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
    app.answerDeadline.reset();
}

std::vector<intptr_t> ApplicationTable::runningWaitables() const {
    std::vector<intptr_t> waitables;
    for (const auto& app : apps_) {
        if (app->state == AppState::Running && app->job &&
            app->job->waitable() != JobInstance::kNoWaitable)
            waitables.push_back(app->job->waitable());
    }
    return waitables;
}

std::optional<uint64_t> ApplicationTable::millisecondsToNextRestart() const {
    std::optional<uint64_t> soonest;
    const uint64_t now = clock_.monotonicMilliseconds();
    for (const auto& app : apps_) {
        if (app->state != AppState::Stopped || restartGapMs_ == 0)
            continue;
        const uint64_t due = app->lastStartAttempt + restartGapMs_;
        const uint64_t left = due > now ? due - now : 0;
        if (!soonest || left < *soonest)
            soonest = left;
    }
    return soonest;
}

// Asks at the first call, then reports whether the answer came (Given) or will not (None).
ApplicationTable::Answer ApplicationTable::askOrCollect(SupervisedApp& app, uint64_t now) {
    if (!app.answerDeadline) {
        logger_->debug(2, "Getting application \"%s\"...", LogParams() << app.name);
        if (!ask(app)) {
            logger_->debug(3, "   Application is not running.");
            return Answer::None;
        }
        app.answerDeadline = now + kAnswerPolls * kAnswerPollMilliseconds;
    }
    if (!takenProcessInfo(app).empty()) {
        logger_->debug(3, "   Application is running.");
        return Answer::Given;
    }
    if (now < *app.answerDeadline)
        return Answer::Awaited;
    stopAwaiting(app);
    logger_->debug(3, "   Application is not running.");
    return Answer::None;
}

// Sends the question; false (and nothing awaited) when it cannot be sent.
bool ApplicationTable::ask(SupervisedApp& app) {
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
    if (!sent)
        stopAwaiting(app);
    return sent;
}

// What is done with an application found not running: started when it is to be active.
bool ApplicationTable::startOrLetGo(SupervisedApp& app) {
    if (!app.active) {
        logger_->debug(2, "Application \"%s\" is not to be activated.", LogParams() << app.name);
        return false;
    }
    if (!startApplication(app, false))
        return false;
    app.restartCount = 0;
    return true;
}

std::string ApplicationTable::takenProcessInfo(SupervisedApp& app) {
    std::lock_guard<std::mutex> guard(infoMutex_);
    return app.processInfo;
}

bool ApplicationTable::getApplication(SupervisedApp& app) {
    logger_->debug(2, "Getting application \"%s\"...", LogParams() << app.name);
    if (isApplicationRunning(app)) {
        logger_->debug(3, "   Application is running.");
        // An answer whose process is not the application's counts as no answer.
        const Capture captured = capture(app);
        if (captured != Capture::Refused)
            return captured == Capture::Taken;
    }
    logger_->debug(3, "   Application is not running.");
    return startOrLetGo(app);
}

bool ApplicationTable::isApplicationRunning(SupervisedApp& app) {
    if (!ask(app))
        return false;
    for (int32_t poll = 0; poll < kAnswerPolls && takenProcessInfo(app).empty(); ++poll)
        sleepMilliseconds(kAnswerPollMilliseconds);
    if (takenProcessInfo(app).empty()) {
        stopAwaiting(app);
        return false;
    }
    return true;
}

bool ApplicationTable::captureApplication(SupervisedApp& app) {
    return capture(app) == Capture::Taken;
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
    app.state = AppState::Running;
    return true;
}

void ApplicationTable::signalShutdownIfInactive(SupervisedApp& app) {
    if (!app.job || app.active)
        return;
    logger_->debug(2, "Application \"%s\" will be signaled to shut down.", LogParams() << app.name);
    try {
        services_.send(mailslotOf(app), "COMMAND", "", "DIE", ownMailslot());
    } catch (const Exception&) {
        // The result of the send is not used: the next pass sends again while it runs.
    }
}

} // namespace Kalvor
