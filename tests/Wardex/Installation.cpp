#include "Installation.h"

#include "Common/SystemInfo.h"
#include "Common/UserName.h"
#include "IPC/IPCClient.h"
#include "IPC/IPCMessage.h"
#include "IPC/MailSlot.h"
#include "JobInstance/JobInstance.h"

#include <atomic>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace Kalvor::Test {

namespace {

const std::string kResources = "SOFTWARE\\Kalvor\\Resources";

// The configuration reader takes a backslash as an escape: every one is doubled.
std::string confValue(const std::string& text) {
    std::string escaped;
    for (char byte : text) {
        escaped += byte;
        if (byte == '\\')
            escaped += '\\';
    }
    return "'" + escaped + "'";
}

std::string withSeparator(const std::string& directory) {
    return directory + (directory.find('\\') != std::string::npos ? "\\" : "/");
}

std::string readWhole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string uniqueName(const std::string& base) {
    static std::atomic<unsigned> counter{0};
    return base + "_" + std::to_string(counter++) + "_" +
           std::to_string(std::chrono::steady_clock::now().time_since_epoch().count());
}

} // namespace

Installation::Installation()
    : registry_("KALVOR_REGISTRY_DIR", root_.file("registry")),
      mailslots_("KALVOR_MAILSLOT_DIR", root_.file("mailslots")),
      locks_("KALVOR_LOCK_DIR", root_.file("locks")) {
    userTag_ = currentUserName();
    for (char& byte : userTag_)
        if (byte == ' ')
            byte = '_';
    for (const char* folder : {"bin", "conf", "log", "conf/LogMessages"})
        fs::create_directories(root_.file(folder));
    for (const auto& entry : fs::directory_iterator(WARDEX_CATALOG_DIR))
        fs::copy_file(entry.path(),
                      fs::path(root_.file("conf/LogMessages")) / entry.path().filename());
    SystemInfo::writeResourceString("ConfigurationDir", withSeparator(root_.file("conf")));
    SystemInfo::writeResourceString("StartupLogDir", withSeparator(root_.file("log")));
    SystemInfo::writeValue(kResources, "StartupDebugLevel", 5);
    setMarker("WardexMarker", 1);
    setMarker(instanceMarker(), 3);
}

Installation::~Installation() {
    stopEverything();
}

void Installation::stopEverything() {
    for (auto& wardex : wardexes_) {
        if (wardex->status() != JobRunning)
            continue;
        sendToWardex("COMMAND", "DIE");
        if (!waitForExit(*wardex, std::chrono::seconds(20)))
            wardex->terminate(true, 1, 0);
    }
    for (const std::string& demo : demos_)
        if (const auto info = askProcessInfo(demo, std::chrono::milliseconds(500)))
            killApp(*info);
    for (auto& other : others_)
        if (other->status() == JobRunning)
            other->terminate(true, 1, 0);
    wardexes_.clear();
    others_.clear();
}

void Installation::installDemo(const std::string& name) {
    fs::copy_file(helperProgramPath("kalvor-demo"), fs::path(binDirectory()) / demoFileName(name),
                  fs::copy_options::overwrite_existing);
    demos_.push_back(name);
}

void Installation::writeConfig(const std::vector<ListedApp>& apps, int32_t debugLevel) {
    const std::string level = "'" + std::to_string(debugLevel) + "'";
    std::ostringstream text;
    text << "Kalvor() = '' {\n  directories() = '' {\n"
         << "    conf(DirName) = " << confValue(root_.file("conf")) << " { }\n"
         << "    bin(DirName) = " << confValue(binDirectory()) << " { }\n"
         << "    log(DirName) = " << confValue(root_.file("log")) << " { }\n  }\n}\n"
         << "log() = '' { global() = '' { debug-level(Integer) = " << level << " { } } }\n"
         << "wardex() = '' {\n  log() = '' { debug-level(Integer) = " << level << " { } }\n"
         << "  monitor() = '' {\n";
    for (const ListedApp& app : apps) {
        text << "    " << app.name << "() = '' {\n      active(Bool) = '"
             << (app.active ? "true" : "false") << "' { }\n";
        if (app.withId)
            text << "      id(String) = '" << app.name << "' { }\n";
        text << "    }\n";
    }
    text << "  }\n}\n";
    writeRawConfig(text.str());
}

void Installation::writeRawConfig(const std::string& text) {
    const std::string temporary = configFile() + ".new";
    std::ofstream(temporary, std::ios::binary) << text;
    fs::rename(temporary, configFile());
}

void Installation::setMarker(const std::string& name, int32_t value) {
    SystemInfo::writeValue(kResources, name, value);
}

int32_t Installation::marker(const std::string& name) const {
    int32_t value = -1;
    return SystemInfo::readInteger(kResources, name, value) == SI_OK ? value : -1;
}

void Installation::deleteMarker(const std::string& name) {
    deleteRegistryValue(kResources, name);
}

void Installation::removeConfigurationDir() {
    deleteRegistryValue(kResources, "ConfigurationDir");
}

ProcessInstance& Installation::startWardex(const std::string& arguments) {
    auto job = std::make_unique<ProcessInstance>(helperProgramPath("wardex"), arguments);
    job->setStopWhenDestroyed(true);
    job->execute();
    wardexes_.push_back(std::move(job));
    return *wardexes_.back();
}

ProcessInstance& Installation::startSupervising(const std::vector<ListedApp>& apps) {
    for (const ListedApp& app : apps)
        installDemo(app.name);
    writeConfig(apps);
    return startWardex();
}

bool Installation::waitUntilSupervising(std::chrono::milliseconds timeout) {
    return waitForLog("Finished configuring.", timeout) &&
           waitFor([&] { return marker(instanceMarker()) == 1; }, timeout);
}

std::unique_ptr<ProcessInstance> Installation::startProgram(const std::string& path) {
    auto job = std::make_unique<ProcessInstance>(path, "");
    job->execute();
    return job;
}

std::optional<int32_t> Installation::waitForExit(ProcessInstance& job,
                                                 std::chrono::milliseconds timeout) {
    if (!waitFor([&] { return job.status() != JobRunning; }, timeout))
        return std::nullopt;
    int32_t code = 0;
    if (job.exitCode(code) != 0)
        return std::nullopt;
    return code;
}

std::string Installation::logText() const {
    return readWhole(withSeparator(root_.file("log")) + "WardexDebug(" + userTag_ + ").log");
}

bool Installation::waitForLog(const std::string& text, std::chrono::milliseconds timeout) const {
    return waitFor([&] { return logText().find(text) != std::string::npos; }, timeout);
}

std::size_t Installation::logCount(const std::string& text) const {
    const std::string log = logText();
    std::size_t count = 0;
    for (std::size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1))
        ++count;
    return count;
}

// The supervisor's listener makes its mailslot shortly after start-up: a send is retried until
// the slot is there.
bool Installation::sendToWardex(const std::string& type, const std::string& text) {
    return waitFor([&] {
        try {
            IPCClient client("Wardex_" + userTag_);
            return client.send(type, "", text, "EndToEnd");
        } catch (...) {
            return false;
        }
    });
}

std::string Installation::configFile() const {
    return withSeparator(root_.file("conf")) + "wardex.conf";
}

std::optional<ProcessInfo> Installation::askProcessInfo(const std::string& appId,
                                                        std::chrono::milliseconds timeout) {
    try {
        const std::string own = uniqueName("EndToEnd");
        MailSlot answers(MailSlot::kReceiver, own);
        IPCClient client(appId + "_" + userTag_);
        if (!client.send("COMMAND", "SEND_PROCESS_INFO", "SEND_PROCESS_INFO", own))
            return std::nullopt;
        std::optional<ProcessInfo> info;
        waitFor(
            [&] {
                std::vector<std::string> lines;
                answers.receive(lines);
                for (const std::string& line : lines) {
                    IPCMessage message;
                    if (parseMessageLine(line, message) && message.type == "REPLY") {
                        const std::size_t comma = message.text.find(',');
                        info = ProcessInfo{
                            static_cast<uint32_t>(std::stoul(message.text.substr(0, comma))),
                            static_cast<uint32_t>(std::stoul(message.text.substr(comma + 1)))};
                    }
                }
                return info.has_value();
            },
            timeout);
        return info;
    } catch (...) {
        return std::nullopt;
    }
}

bool Installation::waitUntilAnswering(const std::string& appId, std::chrono::milliseconds timeout) {
    return waitFor([&] { return askProcessInfo(appId).has_value(); }, timeout);
}

bool Installation::waitUntilGone(const std::string& appId, std::chrono::milliseconds timeout) {
    return waitFor([&] { return !askProcessInfo(appId, std::chrono::milliseconds(300)); }, timeout);
}

void Installation::killApp(const ProcessInfo& info) {
    try {
        ProcessInstance job(info.processId, info.threadId);
        job.terminate(true, 9, 0);
    } catch (...) {
        // Already gone.
    }
}

} // namespace Kalvor::Test
