#include "Win32_App/KalvorWardex/AppServices.h"

#include "IPC/IPCClient.h"
#include "JobInstance/ChildReaper.h"
#include "JobInstance/CommandLine.h"
#include "JobInstance/ProcessIdentity.h"
#include "JobInstance/ProcessInstance.h"
#include "Win32_App/KalvorWardex/Platform.h"

namespace Kalvor {

namespace {

class SystemAppServices : public AppServices {
public:
    explicit SystemAppServices(std::function<bool(std::string&)> programDirectory)
        : programDirectory_(std::move(programDirectory)) {}

    bool send(const std::string& target, const std::string& type, const std::string& id,
              const std::string& text, const std::string& sender) override {
        IPCClient client(target);
        return client.send(type, id, text, sender);
    }
    std::shared_ptr<JobInstance> makeProcess(const std::string& programPath,
                                             const ProcessLaunch& launch) override {
        ProcessLaunch started = launch;
        if (started.commandLine.empty())
            started.commandLine = buildCommandLine(programPath, "");
        return std::make_shared<ProcessInstance>(started);
    }
    std::shared_ptr<JobInstance> attachProcess(uint32_t processId, uint32_t threadId,
                                               const std::string& container) override {
        auto job = std::make_shared<ProcessInstance>(processId, threadId);
        job->attachContainer(container);
        return job;
    }
    std::string processMismatch(uint32_t processId, uint32_t threadId,
                                const std::string& programPath) override {
        return Kalvor::processMismatch(processId, threadId, programPath);
    }
    bool programDirectory(std::string& directory) override { return programDirectory_(directory); }
    std::string executableSuffix() const override { return Kalvor::executableSuffix(); }
    void reapInherited() override { ChildReaper::reapInherited(); }
    uint64_t processStartTime(uint32_t processId) override {
        return Kalvor::processStartTime(processId);
    }

private:
    std::function<bool(std::string&)> programDirectory_;
};

} // namespace

std::unique_ptr<AppServices>
makeSystemAppServices(std::function<bool(std::string&)> programDirectory) {
    return std::make_unique<SystemAppServices>(std::move(programDirectory));
}

} // namespace Kalvor
