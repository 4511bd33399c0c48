// The product's services: the suite's logger, fed from the registry and then the
// configuration; the configuration reader; IPC clients and process jobs for the applications.
#include "Config/ConfReader.h"
#include "Logger/LogCommons.h"
#include "Logger/LogDispatcher.h"
#include "Logger/LogMessengerIPC.h"
#include "Logger/LogSettings.h"
#include "Logger/LoggerUnit.h"
#include "Win32_App/KalvorWardex/AppServices.h"
#include "Win32_App/KalvorWardex/Clock.h"
#include "Win32_App/KalvorWardex/WardexServices.h"

namespace Kalvor {

namespace {

class ConfReaderSource : public ConfigSource {
public:
    explicit ConfReaderSource(std::shared_ptr<const LoggerUnit> logger)
        : reader_(std::make_shared<ConfReader>(std::move(logger))) {}

    std::string load(const std::string& file) override { return reader_->buildDOM(file); }
    int32_t getSubObjects(const std::string& key, std::vector<std::string>& names) override {
        return reader_->getSubObjects(key, names);
    }
    int32_t getBool(const std::string& key, bool& value) override {
        return reader_->getBool(key, value);
    }
    int32_t getString(const std::string& key, std::string& value) override {
        return reader_->getString(key, value);
    }
    int32_t getInteger(const std::string& key, int32_t& value) override {
        return reader_->getInteger(key, value);
    }
    int32_t getDirName(const std::string& key, std::string& value) override {
        return reader_->getDirName(key, value);
    }
    std::shared_ptr<const ConfReader> reader() const { return reader_; }

private:
    std::shared_ptr<ConfReader> reader_;
};

class SystemServices : public WardexServices {
public:
    SystemServices()
        : apps_(makeSystemAppServices([this](std::string& directory) {
              return config_ && config_->getDirName("Kalvor.directories.bin", directory) == 0;
          })) {}

    bool startLogging(const std::string& debugLogName, int32_t moduleNumber) override {
        logging_.logFileName = debugLogName;
        logging_.applicationNumber = LogCommons::kWardexApplication;
        logging_.moduleNumber = moduleNumber;
        return logging_.startLogging();
    }
    void applyLogConfiguration() override { logging_.applyConfiguration(); }
    std::shared_ptr<LoggerUnit> logger() override { return logging_.loggerUnit; }
    std::shared_ptr<LogDispatcher> dispatcher() override { return logging_.dispatcher; }
    std::string loggingProblem() override { return logging_.startupProblem; }
    std::string logFilePath() override {
        return logging_.messenger ? logging_.messenger->writer().path() : "";
    }

    bool createConfig() override {
        try {
            configLogger_ =
                std::make_shared<LoggerUnit>(logging_.dispatcher, LogCommons::kConfigurationModule);
            config_ = std::make_unique<ConfReaderSource>(configLogger_);
            logging_.configuration = config_->reader();
            return true;
        } catch (...) {
            return false;
        }
    }
    ConfigSource& config() override { return *config_; }
    AppServices& apps() override { return *apps_; }
    const Clock& clock() override { return clock_; }

private:
    LogSettings logging_;
    std::shared_ptr<LoggerUnit> configLogger_;
    std::unique_ptr<ConfReaderSource> config_;
    std::unique_ptr<AppServices> apps_;
    SystemClockSource clock_;
};

} // namespace

std::unique_ptr<WardexServices> makeSystemServices() {
    return std::make_unique<SystemServices>();
}

} // namespace Kalvor
