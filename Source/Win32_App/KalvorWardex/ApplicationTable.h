// The supervised applications, in configuration order, and what the supervisor does to them:
// find or start each one, restart those that stopped, give up on those that keep failing, and
// tell them to shut down.
//
// Runs on the main thread, except storeProcessInfo() and statusRecords(), which the IPC listener
// calls. check() never waits for an answer: an application not known yet is asked in one pass
// and captured, or started, in a later one when its answer came or five seconds passed; so all
// new applications are asked at once, and one's silence delays nobody else. Only a record whose
// answer is awaited can take one, and only from the application asked: the answer's sender must
// be that application's mailslot and, where the platform names the sending process, that
// process must be the one answered. A destroyed record is never awaited, so a late answer is
// dropped rather than written into a freed record. A stopped application is restarted at the
// first pass after its end, but no sooner than `restartGapMs` after its previous start.
//
// An answer is adopted only when the process it names passes the identity check
// (ProcessIdentity.h); one that fails counts as no answer, and the application is started.
#pragma once

#include "IPC/Datagram.h"
#include "IPC/StatusReport.h"
#include "Time/TimeSpan.h"
#include "Win32_App/KalvorWardex/SupervisedApp.h"

#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

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
                     std::string userTag, uint32_t restartGapMs = 0);
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
    // What to wait on for the end of the applications that ran at the last check.
    std::vector<intptr_t> runningWaitables() const;
    // How long until a restart held back by the gap falls due; nullopt when none is.
    std::optional<uint64_t> millisecondsToNextRestart() const;

    // The records as the last pass (or reconfiguration) left them, with the applications that
    // were dropped since; any thread may ask.
    std::vector<StatusRecord> statusRecords() const;
    // Makes the records as they are now the ones statusRecords() gives.
    void publishStatus();

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
    enum class Answer { Awaited, Given, None };
    Answer askOrCollect(SupervisedApp& app, uint64_t now);
    bool ask(SupervisedApp& app);
    bool startOrLetGo(SupervisedApp& app);
    bool programPath(const SupervisedApp& app, std::string& path);
    // Returns the position after the record, which is erased when it is given up on or lost.
    Records::iterator checkOne(Records::iterator position, const DateTime& now, bool statusPass);
    Records::iterator drop(Records::iterator position, AppState state);
    std::string takenProcessInfo(SupervisedApp& app);
    void await(SupervisedApp& app);
    void stopAwaiting(SupervisedApp& app);

    std::shared_ptr<LoggerUnit> logger_;
    AppServices& services_;
    const Clock& clock_;
    std::string userTag_;
    uint32_t restartGapMs_;
    TimeSpan restartWindow_{kRestartWindowSeconds};
    Records apps_;

    std::mutex infoMutex_;
    std::vector<SupervisedApp*> awaiting_;

    // Dropped applications stay in the status until they are listed again.
    std::vector<StatusRecord> dropped_;
    mutable std::mutex statusMutex_;
    std::vector<StatusRecord> published_;
};

} // namespace Kalvor
