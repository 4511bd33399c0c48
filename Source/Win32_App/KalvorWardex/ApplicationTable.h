// The supervised applications, in configuration order, and what the supervisor does to them:
// find or start each one, restart those that stopped, give up on those that keep failing, and
// tell them to shut down.
//
// Runs on the main thread, except storeProcessInfo(), which the IPC listener calls with an
// application's answer. Only the record whose answer is awaited can take one, and only from the
// application asked: the answer's sender must be that application's mailslot and, where the
// platform names the sending process, that process must be the one answered. The wait ends
// (answered or not) with no record awaiting, and a destroyed record is never awaited, so a late
// answer is dropped rather than written into a freed record.
//
// An answer is adopted only when the process it names passes the identity check
// (ProcessIdentity.h); one that fails counts as no answer, and the application is started.
#pragma once

#include "IPC/Datagram.h"
#include "Time/TimeSpan.h"
#include "Win32_App/KalvorWardex/SupervisedApp.h"

#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace Kalvor {

class AppServices;
class Clock;
class LoggerUnit;

class ApplicationTable {
public:
    // Fixed in the product: a good start older than this no longer protects an application
    // from being given up on, and lets a running one's restart count reset.
    static constexpr int32_t kRestartWindowSeconds = 10800;
    static constexpr int32_t kMaxRestarts = 3;

    ApplicationTable(std::shared_ptr<LoggerUnit> logger, AppServices& services, const Clock& clock,
                     std::string userTag);
    ~ApplicationTable();
    ApplicationTable(const ApplicationTable&) = delete;
    ApplicationTable& operator=(const ApplicationTable&) = delete;

    // The record of that name, appended when there is none.
    SupervisedApp& findOrAdd(const std::string& name);
    SupervisedApp* find(const std::string& name);
    std::size_t count() const { return apps_.size(); }
    bool empty() const { return apps_.empty(); }

    // One check of every record against `now`; `statusPass` adds the per-application status
    // line.
    void check(const DateTime& now, bool statusPass);
    // Shutdown: every record loses its active flag and is told to stop when it has a job.
    void signalAllToShutDown();

    // The IPC listener's hand-over of an answer; false when none is awaited from that sender.
    bool storeProcessInfo(const std::string& text, const std::string& sender,
                          const std::optional<SenderIdentity>& from);

    bool getApplication(SupervisedApp& app);
    bool startApplication(SupervisedApp& app, bool restart);
    bool isApplicationRunning(SupervisedApp& app);
    bool captureApplication(SupervisedApp& app);
    void signalShutdownIfInactive(SupervisedApp& app);

    std::string mailslotOf(const SupervisedApp& app) const { return app.id + "_" + userTag_; }
    std::string ownMailslot() const { return "Wardex_" + userTag_; }

private:
    using Records = std::list<std::unique_ptr<SupervisedApp>>;
    enum class Capture { Taken, Unusable, Refused };
    Capture capture(SupervisedApp& app);
    bool programPath(const SupervisedApp& app, std::string& path);
    // Returns the position after the record, which is erased when it is given up on or lost.
    Records::iterator checkOne(Records::iterator position, const DateTime& now, bool statusPass);
    Records::iterator drop(Records::iterator position);
    std::string takenProcessInfo(SupervisedApp& app);
    void setPending(SupervisedApp* app);

    std::shared_ptr<LoggerUnit> logger_;
    AppServices& services_;
    const Clock& clock_;
    std::string userTag_;
    TimeSpan restartWindow_{kRestartWindowSeconds};
    Records apps_;

    std::mutex infoMutex_;
    SupervisedApp* pendingInfoRecord_ = nullptr;
};

} // namespace Kalvor
