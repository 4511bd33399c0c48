// The supervised applications, in configuration order, and what the supervisor does to them:
// find or start each one, restart those that stopped, give up on those that keep failing, and
// tell them to shut down.
//
// Every application is in one state (SupervisedApp.h), and checkOne() is the one place that moves
// it to another: the main loop only waits and calls check(). check() never waits for an answer:
// an application not known yet is asked in one pass and captured, or started, in a later one when
// its answer came or five seconds passed; so all new applications are asked at once, and one's
// silence delays nobody else. Only a record whose answer is awaited can take one, and only from
// the application asked: the answer's sender must be that application's mailslot and, where the
// platform names the sending process, that process must be the one answered. A stopped
// application is restarted as soon as it is found, but no sooner than `restartGapMs` after its
// previous start. Given-up and dormant applications stay in the table in that state until a
// reconfiguration lists them again.
//
// Runs on the main thread, except storeProcessInfo() and statusRecords(), which the IPC listener
// calls. An answer is adopted only when the process it names passes the identity check
// (ProcessIdentity.h); one that fails counts as no answer, and the application is started.
#pragma once

#include "IPC/Datagram.h"
#include "IPC/StatusReport.h"
#include "Time/TimeSpan.h"
#include "Win32_App/KalvorWardex/AppRecords.h"
#include "Win32_App/KalvorWardex/SupervisedApp.h"

#include <cstdint>
#include <list>
#include <unordered_map>
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

    // The record of that name, appended when there is none. A listed record that was given up
    // on or left dormant is supervised anew.
    SupervisedApp& findOrAdd(const std::string& name);
    SupervisedApp* find(const std::string& name);
    // After a reconfiguration: the applications not named are stopped (the stop sequence) and
    // then leave the table; those named take the order given.
    void keepOnly(const std::vector<std::string>& names);
    std::size_t count() const { return apps_.size(); }
    bool empty() const { return apps_.empty(); }

    // One check of every record against `now`; `statusPass` adds the per-application status
    // line.
    void check(const DateTime& now, bool statusPass);
    // Shutdown: every record loses its active flag, and each that has a job begins its stop
    // sequence; nothing is started after this.
    void signalAllToShutDown();
    // Takes the next step of each stop that is due; true while an application is stopping.
    bool advanceStops();
    int32_t longestStopTimeoutSeconds() const;
    // What to wait on: the applications' output pipes, whatever their state, and with
    // `processes` the ends of the processes that run and were not reported yet.
    std::vector<intptr_t> waitables(bool processes) const;
    // The wait reported these: output is carried to the files, and ended processes are checked
    // at the next pass and not watched again. Returns how many processes ended.
    std::size_t noteReported(const std::vector<intptr_t>& reported);
    // How long until an awaited answer times out, a paced restart or a step of a stop falls
    // due; nullopt when nothing is due.
    std::optional<uint64_t> millisecondsToNextDeadline() const;

    // An operator's command for one application (wardexctl start, stop, restart, signal); the
    // answer for the operator: empty when done or under way, else why not. A stop holds the
    // application stopped until a start or restart; a start of a held, given-up or waiting
    // application starts it now.
    std::string startByOperator(const std::string& name);
    std::string stopByOperator(const std::string& name);
    std::string restartByOperator(const std::string& name);
    std::string signalByOperator(const std::string& name, int32_t signal);
    // Where its output goes: its file, or empty with `why` (inherited, or no such application).
    std::string outputFileOf(const std::string& name, std::string& why);

    // The records as the last pass (or reconfiguration) left them; any thread may ask.
    std::vector<StatusRecord> statusRecords() const;
    // Makes the records as they are now the ones statusRecords() gives.
    void publishStatus();

    // From now on the applications that run are recorded in `file`, whose records (as the last
    // supervisor left them) are read now: an active application that does not answer is
    // adopted from its record when the recorded process still runs, as the same process.
    void keepRecords(std::unique_ptr<AppRecordFile> file);

    // The IPC listener's hand-over of an answer; false when none is awaited from that sender.
    bool storeProcessInfo(const std::string& text, const std::string& sender,
                          const std::optional<SenderIdentity>& from);

    std::string mailslotOf(const SupervisedApp& app) const { return app.id + "_" + userTag_; }
    std::string ownMailslot() const { return "Wardex_" + userTag_; }

private:
    enum class Capture { Taken, Unusable, Refused };
    Capture capture(SupervisedApp& app);
    void checkOne(SupervisedApp& app, const DateTime& now, bool statusPass);
    void ask(SupervisedApp& app, uint64_t tick);
    void collectAnswer(SupervisedApp& app, uint64_t tick);
    void startOrLetGo(SupervisedApp& app);
    void checkRunning(SupervisedApp& app, const DateTime& now, bool statusPass);
    void restartWhenDue(SupervisedApp& app, const DateTime& now, uint64_t tick);
    void checkStopping(SupervisedApp& app);
    void beginStop(SupervisedApp& app, uint64_t tick);
    static uint64_t stopStepMilliseconds(const SupervisedApp& app);
    void noteEnd(SupervisedApp& app);
    void scheduleRestart(SupervisedApp& app, uint64_t tick, bool afterLongRun);
    void giveUp(SupervisedApp& app, const std::string& why);
    bool adoptRecorded(SupervisedApp& app);
    void writeRecords();
    void carryOutput(const std::vector<intptr_t>& reported);
    bool startApplication(SupervisedApp& app, bool restart);
    void launch(SupervisedApp& app, const std::string& path);
    void signalShutdown(SupervisedApp& app);
    void hold(SupervisedApp& app);
    SupervisedApp* operatorTarget(const std::string& name, std::string& why);
    bool stopThen(SupervisedApp& app, AfterStop after);
    void removeLeavers();
    std::string startNow(SupervisedApp& app);
    void leave(SupervisedApp& app, AppState state);
    bool programPath(const SupervisedApp& app, std::string& path);
    std::string containerOf(const SupervisedApp& app) const;
    std::string takenProcessInfo(SupervisedApp& app);
    void await(SupervisedApp& app);
    void stopAwaiting(SupervisedApp& app);

    std::shared_ptr<LoggerUnit> logger_;
    AppServices& services_;
    const Clock& clock_;
    std::string userTag_;
    uint32_t restartGapMs_;
    bool shuttingDown_ = false;
    std::unique_ptr<AppRecordFile> records_;
    std::unordered_map<std::string, AppRecord> recorded_;
    bool recordsChanged_ = false;
    std::string recordsFailure_;
    TimeSpan restartWindow_{kRestartWindowSeconds};
    std::list<SupervisedApp> apps_;
    std::unordered_map<std::string, SupervisedApp*> byName_;

    std::mutex infoMutex_;
    std::vector<SupervisedApp*> awaiting_;

    mutable std::mutex statusMutex_;
    std::vector<StatusRecord> published_;
};

} // namespace Kalvor
