#include "Win32_App/KalvorWardex/ApplicationTable.h"

#include "Win32_App/KalvorWardex/WardexMessages.h"

#include "Common/Exception.h"
#include "Common/StringUtils.h"
#include "Logger/LoggerUnit.h"
#include "Time/Timer.h"
#include "Win32_App/KalvorWardex/AppServices.h"
#include "Win32_App/KalvorWardex/Clock.h"

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
} // namespace

ApplicationTable::ApplicationTable(std::shared_ptr<LoggerUnit> logger, AppServices& services,
                                   const Clock& clock, std::string userTag)
    : logger_(std::move(logger)), services_(services), clock_(clock), userTag_(std::move(userTag)) {
}

ApplicationTable::~ApplicationTable() {
    setPending(nullptr);
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
    apps_.push_back(std::make_unique<SupervisedApp>(name));
    return *apps_.back();
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
}

ApplicationTable::Records::iterator
ApplicationTable::checkOne(Records::iterator position, const DateTime& now, bool statusPass) {
    SupervisedApp& app = **position;
    if (!app.job && !getApplication(app))
        return drop(position);
    const bool windowPassed = app.lastStartTime.plus(restartWindow_).before(now);
    if (app.job->status() == JobRunning) {
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
        return drop(position);
    }
    logger_->warning(kNotRunning, LogParams() << app.name);
    if (windowPassed && app.restartCount > kMaxRestarts) {
        logger_->error(kGivenUp, LogParams() << app.name);
        return drop(position);
    }
    ++app.restartCount;
    startApplication(app, true);
    return std::next(position);
}

ApplicationTable::Records::iterator ApplicationTable::drop(Records::iterator position) {
    {
        std::lock_guard<std::mutex> guard(infoMutex_);
        if (pendingInfoRecord_ == position->get())
            pendingInfoRecord_ = nullptr;
    }
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
    // must not land in the record now waiting.
    if (!pendingInfoRecord_ || sender != mailslotOf(*pendingInfoRecord_))
        return false;
    if (from && decimalOf(text) != from->processId)
        return false;
    pendingInfoRecord_->processInfo = text;
    return true;
}

void ApplicationTable::setPending(SupervisedApp* app) {
    std::lock_guard<std::mutex> guard(infoMutex_);
    pendingInfoRecord_ = app;
    if (app)
        app->processInfo.clear();
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
    if (app.active) {
        if (!startApplication(app, false))
            return false;
        app.restartCount = 0;
        return true;
    }
    logger_->debug(2, "Application \"%s\" is not to be activated.", LogParams() << app.name);
    return false;
}

bool ApplicationTable::isApplicationRunning(SupervisedApp& app) {
    logger_->debug(3, "   Trying to find out if \"%s\" is already running...",
                   LogParams() << app.name);
    setPending(&app);
    bool sent = false;
    try {
        sent = services_.send(mailslotOf(app), "COMMAND", "SEND_PROCESS_INFO", "SEND_PROCESS_INFO",
                              ownMailslot());
    } catch (const Exception& failure) {
        logger_->debug(3, failure.report());
    }
    if (sent) {
        for (int32_t poll = 0; poll < kAnswerPolls && takenProcessInfo(app).empty(); ++poll)
            sleepMilliseconds(kAnswerPollMilliseconds);
    }
    if (!sent || takenProcessInfo(app).empty()) {
        setPending(nullptr);
        return false;
    }
    return true;
}

bool ApplicationTable::captureApplication(SupervisedApp& app) {
    return capture(app) == Capture::Taken;
}

ApplicationTable::Capture ApplicationTable::capture(SupervisedApp& app) {
    logger_->debug(3, "Trying to capture running application \"%s\"...", LogParams() << app.name);
    setPending(nullptr);
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
