// Stand-ins for what the supervisor's logic talks to: jobs whose status a test sets, a clock a
// test moves, mailslot sends that are recorded (and may be answered at once), and a
// configuration held in a map.
#pragma once

#include "CapturedLog.h"
#include "Common/Exception.h"
#include "JobInstance/JobInstance.h"
#include "Logger/LoggerUnit.h"
#include "Win32_App/KalvorWardex/AppServices.h"
#include "Win32_App/KalvorWardex/Clock.h"
#include "Win32_App/KalvorWardex/WardexServices.h"

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace Kalvor::Test {

class FakeJob : public JobInstance {
public:
    void execute() override {
        if (failToStart)
            throw JobException(JB_UNABLE_TO_START, "no such program", KALVOR_HERE);
        running = startsRunning;
    }
    void stop() override { running = false; }
    int32_t status() override {
        if (statusThrows)
            throw JobException(JB_UNKNOWN_ERROR, "status refused", KALVOR_HERE);
        return running ? JobRunning : JobFinished;
    }
    int32_t exitCode(int32_t& out) override {
        out = 0;
        return 0;
    }
    intptr_t waitable() const override { return waitableValue; }
    ExitStatus exitStatus() override { return running ? ExitStatus{} : endedWith; }
    bool askContainerToClose() override {
        ++closeRequests;
        return true;
    }
    void killContainer() override {
        ++kills;
        running = false;
    }
    bool signalContainer(int32_t signal) override {
        signals.push_back(signal);
        return running;
    }

    bool running = false;
    intptr_t waitableValue = kNoWaitable;
    ExitStatus endedWith{true, 0, 0};
    int closeRequests = 0;
    int kills = 0;
    std::vector<int32_t> signals;
    bool startsRunning = true;
    bool failToStart = false;
    bool statusThrows = false;
};

class FakeClock : public Clock {
public:
    FakeClock() { current_.setSeconds(1700000000); }
    DateTime now() const override { return current_; }
    uint64_t monotonicMilliseconds() const override { return ticks_; }
    void advance(int32_t seconds) {
        current_.setSeconds(current_.seconds() + seconds);
        ticks_ += static_cast<uint64_t>(seconds) * 1000;
    }
    void advanceMilliseconds(uint64_t milliseconds) { ticks_ += milliseconds; }

private:
    DateTime current_;
    uint64_t ticks_ = 1000000;
};

struct SentMessage {
    std::string target, type, id, text, sender;
};

class FakeAppServices : public AppServices {
public:
    bool send(const std::string& target, const std::string& type, const std::string& id,
              const std::string& text, const std::string& sender) override {
        sent.push_back({target, type, id, text, sender});
        if (onSend)
            onSend(sent.back());
        return receiverExists;
    }
    std::shared_ptr<JobInstance> makeProcess(const std::string& programPath,
                                             const ProcessLaunch& launch) override {
        startedPaths.push_back(programPath);
        launches.push_back(launch);
        auto job = std::make_shared<FakeJob>();
        job->startsRunning = nextStartRuns && !endedAtOnce;
        // Not running, and no end to tell of: a start that did not take.
        if (endedAtOnce)
            job->endedWith = *endedAtOnce;
        else if (!nextStartRuns)
            job->endedWith = ExitStatus{};
        job->failToStart = nextStartThrows;
        lastJob = job;
        return job;
    }
    std::shared_ptr<JobInstance> attachProcess(uint32_t processId, uint32_t threadId,
                                               const std::string& container) override {
        attached.push_back({processId, threadId});
        attachedContainers.push_back(container);
        if (attachRefused)
            throw JobException(JB_UNABLE_TO_START, "process gone", KALVOR_HERE);
        auto job = std::make_shared<FakeJob>();
        job->running = true;
        lastJob = job;
        return job;
    }
    std::string processMismatch(uint32_t processId, uint32_t, const std::string& path) override {
        checkedPaths.push_back(path);
        return mismatchingProcess == processId ? "not the application" : "";
    }
    bool programDirectory(std::string& directory) override {
        directory = binDirectory;
        return hasBinDirectory;
    }
    std::string executableSuffix() const override { return ".exe"; }

    std::size_t count(const std::string& text) const {
        std::size_t found = 0;
        for (const auto& message : sent)
            found += message.text == text ? 1 : 0;
        return found;
    }

    std::vector<SentMessage> sent;
    std::function<void(const SentMessage&)> onSend;
    bool receiverExists = false;
    uint64_t processStartTime(uint32_t processId) override {
        const auto found = startTimes.find(processId);
        return found == startTimes.end() ? 0 : found->second;
    }

    std::map<uint32_t, uint64_t> startTimes;
    std::vector<std::string> startedPaths;
    std::vector<ProcessLaunch> launches;
    std::vector<std::pair<uint32_t, uint32_t>> attached;
    std::vector<std::string> attachedContainers;
    std::shared_ptr<FakeJob> lastJob;
    bool nextStartRuns = true;
    // Each start runs and has ended with this by the time it is checked.
    std::optional<ExitStatus> endedAtOnce;
    bool nextStartThrows = false;
    bool attachRefused = false;
    uint32_t mismatchingProcess = 0;
    std::vector<std::string> checkedPaths;
    std::string binDirectory = "C:\\Kalvor\\bin";
    bool hasBinDirectory = true;
};

// A configuration of typed values: each key maps to (type, value).
class MapConfig : public ConfigSource {
public:
    // What load() says went wrong; empty: it read the file whole.
    std::string loadFailure;
    std::string load(const std::string& file) override {
        loadedFiles.push_back(file);
        if (onLoad)
            onLoad();
        return loadFailure;
    }
    int32_t getSubObjects(const std::string& key, std::vector<std::string>& names) override {
        const auto found = lists.find(key);
        if (found == lists.end())
            return 2;
        names.insert(names.end(), found->second.begin(), found->second.end());
        return 0;
    }
    int32_t getBool(const std::string& key, bool& value) override {
        std::string text;
        if (const int32_t result = lookup(key, "Bool", text))
            return result;
        if (text != "true" && text != "false")
            return 4;
        value = text == "true";
        return 0;
    }
    int32_t getString(const std::string& key, std::string& value) override {
        return lookup(key, "String", value);
    }
    int32_t getInteger(const std::string& key, int32_t& value) override {
        std::string text;
        if (const int32_t result = lookup(key, "Integer", text))
            return result;
        value = std::stoi(text);
        return 0;
    }
    int32_t getDirName(const std::string& key, std::string& value) override {
        return lookup(key, "DirName", value);
    }

    void set(const std::string& key, const std::string& type, const std::string& value) {
        values[key] = {type, value};
    }
    void listApp(const std::string& name, bool active, const std::string& id) {
        lists["wardex.monitor"].push_back(name);
        set("wardex.monitor." + name + ".active", "Bool", active ? "true" : "false");
        set("wardex.monitor." + name + ".id", "String", id);
    }

    std::map<std::string, std::pair<std::string, std::string>> values;
    std::map<std::string, std::vector<std::string>> lists;
    std::vector<std::string> loadedFiles;
    std::function<void()> onLoad;

private:
    int32_t lookup(const std::string& key, const std::string& type, std::string& value) const {
        const auto found = values.find(key);
        if (found == values.end())
            return 2;
        if (found->second.first != type)
            return 3;
        value = found->second.second;
        return 0;
    }
};

class FakeWardexServices : public WardexServices {
public:
    bool startLogging(const std::string& debugLogName, int32_t moduleNumber) override {
        logName = debugLogName;
        logger_ = std::make_shared<LoggerUnit>(log.dispatcher(), moduleNumber);
        return true;
    }
    void applyLogConfiguration() override { ++logConfigurations; }
    std::shared_ptr<LoggerUnit> logger() override { return logger_; }
    std::shared_ptr<LogDispatcher> dispatcher() override { return log.dispatcher(); }
    bool createConfig() override { return true; }
    ConfigSource& config() override { return configuration; }
    AppServices& apps() override { return applications; }
    const Clock& clock() override { return time; }

    CapturedLog log;
    MapConfig configuration;
    FakeAppServices applications;
    FakeClock time;
    std::string logName;
    int32_t logConfigurations = 0;

private:
    std::shared_ptr<LoggerUnit> logger_;
};

} // namespace Kalvor::Test
