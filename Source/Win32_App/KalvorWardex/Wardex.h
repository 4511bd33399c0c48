// The supervisor: reads its configuration, keeps the listed applications running for one user,
// answers the suite's IPC commands, and stops them all when it stops.
//
// Life: construct from "dummy" followed by the command line; initialise() (false: the program
// ends with -1, the markers untouched); run() until a stop is requested (false when the IPC
// server could not be made); shutDown(), which destruction also runs. The main loop waits in one
// place (WaitSet) for everything it acts on; every source of a stop sets the one StopFlag, which
// ends that wait at once. runSupervisor() (Supervisor.h) is that life for an entry point.
#pragma once

#include "IPC/Datagram.h"
#include "JobInstance/StopFlag.h"
#include "JobInstance/WaitSet.h"
#include "Win32_App/KalvorWardex/ArgumentList.h"
#include "Win32_App/KalvorWardex/CommandHandler.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace Kalvor {

class ApplicationTable;
class CommandHandler;
class IPCServer;
class LoggerUnit;
class Markers;
class Monopoly;
class WardexServices;

class Wardex {
public:
    static constexpr const char* kModuleName = "Wardex";
    static constexpr int32_t kStatusIntervalSeconds = 10;

    Wardex(const std::string& commandLine, std::unique_ptr<WardexServices> services,
           const std::string& optionMarkers);
    ~Wardex();
    Wardex(const Wardex&) = delete;
    Wardex& operator=(const Wardex&) = delete;

    bool initialise();
    bool reconfigure(bool initial);
    void loadLogMessages();
    bool run();
    // The shutdown sequence; runs once, whoever calls it first (the destructor does).
    void shutDown();

    // The IPC command handler's entry, on the listener thread; `from` is the sending process
    // where the platform tells it.
    void handleMessage(const std::string& type, const std::string& id, const std::string& text,
                       const std::string& sender,
                       const std::optional<SenderIdentity>& from = std::nullopt);

    // Set by every source of a stop: session end, close request, DIE, the global marker.
    StopFlag& stopFlag() { return stop_; }
    bool reconfigureRequested() const { return reconfigureRequested_.load(); }

    // Why initialise() or run() returned false, in one line for the operator; empty otherwise.
    const std::string& failure() const { return failure_; }
    const std::string& userTag() const { return userTag_; }
    const std::vector<Argument>& arguments() const { return arguments_; }
    int32_t productVersionTenths() const { return productVersionTenths_; }
    ApplicationTable& applications() { return *table_; }
    // Formed from the registry setting "WardexDebugLog" (or the default) and the user tag.
    static std::string debugLogName(const std::string& configured, const std::string& userTag);
    static std::string makeUserTag(const std::string& userName, int64_t nowSeconds);

private:
    bool takeWindowMessage();
    bool stopNoticed();
    bool readMarkers(int32_t passCounter);
    void waitForEvents(uint64_t nextPass, bool checking);
    void answerOperators();
    void awaitStoppingApplications();
    bool fail(const std::string& why);
    void loadEarlyCatalogs();
    void loadCatalogsFrom(const std::string& directory, bool report);
    void readVersionFile(const std::string& directory);

    std::vector<Argument> arguments_;
    std::string userTag_;
    std::unique_ptr<WardexServices> services_;
    std::shared_ptr<LoggerUnit> logger_;
    std::unique_ptr<ApplicationTable> table_;
    std::unique_ptr<CommandHandler> handler_;
    std::unique_ptr<Markers> markers_;
    std::shared_ptr<IPCServer> server_;
    std::unique_ptr<Monopoly> instanceLock_;
    int32_t moduleNumber_ = 0;
    int32_t productVersionTenths_ = 0;
    std::string failure_;

    WaitSet events_;
    StopFlag stop_{events_};
    std::atomic<bool> reconfigureRequested_{false};
    // Operators' commands, handed over by the IPC listener, carried out by the main loop.
    std::mutex operatorMutex_;
    std::vector<OperatorRequest> operatorRequests_;
    // Why the last reconfiguration failed ("<file>, line N: why"); empty after one that worked.
    std::string lastReconfiguration_;
    // The configuration file last read, for wardexctl add and remove.
    std::string configFile_;
    bool shutDown_ = false;
};

} // namespace Kalvor
