#include "Installation.h"

#include "Common/SystemInfo.h"
#include "Common/UserName.h"
#include "IPC/IPCClient.h"
#include "IPC/IPCMessage.h"
#include "IPC/MailSlot.h"
#include "JobInstance/ProcessInstance.h"

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

} // namespace

Installation::Installation() {
    userTag_ = currentUserName();
    for (char& byte : userTag_)
        if (byte == ' ')
            byte = '_';
    for (const char* folder : {"bin", "conf", "log", "conf/LogMessages"})
        fs::create_directories(path(folder));
    for (const auto& entry : fs::directory_iterator(WARDEX_CATALOG_DIR))
        fs::copy_file(entry.path(), fs::path(path("conf/LogMessages")) / entry.path().filename());
    SystemInfo::writeResourceString("ConfigurationDir", withSeparator(path("conf")));
    SystemInfo::writeResourceString("StartupLogDir", withSeparator(path("log")));
    SystemInfo::writeValue(kResources, "StartupDebugLevel", 5);
    setMarker("WardexMarker", 1);
    setMarker(instanceMarker(), 3);
}

Installation::~Installation() {
    stopEverything();
    actAs(currentUserName());
}

void Installation::actAs(const std::string& userTag) {
    userTag_ = userTag;
    std::string why;
    MailSlot::useAccount(userTag, why);
}

void Installation::stopEverything() {
    for (ChildProcess& wardex : wardexes_) {
        if (wardex.exitCode())
            continue;
        sendToWardex("COMMAND", "DIE");
        if (!wardex.waitForExit(std::chrono::seconds(20)))
            wardex.kill();
    }
    for (const std::string& demo : demos_)
        if (const auto info = askProcessInfo(demo, std::chrono::milliseconds(500)))
            killApp(*info);
    wardexes_.clear();
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
         << "    conf(DirName) = " << confValue(path("conf")) << " { }\n"
         << "    bin(DirName) = " << confValue(binDirectory()) << " { }\n"
         << "    log(DirName) = " << confValue(path("log")) << " { }\n  }\n}\n"
         << "log() = '' { global() = '' { debug-level(Integer) = " << level << " { } } }\n"
         << "wardex() = '' {\n  log() = '' { debug-level(Integer) = " << level << " { } }\n"
         << "  monitor() = '' {\n";
    for (const ListedApp& app : apps) {
        text << "    " << app.name << "() = '' {\n      active(Bool) = '"
             << (app.active ? "true" : "false") << "' { }\n";
        if (app.withId)
            text << "      id(String) = '" << app.name << "' { }\n";
        for (const auto& [key, value] : app.keys)
            text << "      " << key << " = " << confValue(value) << " { }\n";
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

ChildProcess& Installation::startWardex(const std::vector<std::string>& arguments,
                                        const ChildProcess::Options& options) {
    return wardexes_.emplace_back(helperProgramPath("wardex"), arguments, options);
}

ChildProcess& Installation::startSupervising(const std::vector<ListedApp>& apps) {
    for (const ListedApp& app : apps)
        installDemo(app.name);
    writeConfig(apps);
    return startWardex();
}

bool Installation::waitUntilSupervising(std::chrono::milliseconds timeout) {
    return waitForLog("Finished configuring.", timeout) &&
           waitFor([&] { return marker(instanceMarker()) == 1; }, timeout);
}

std::string Installation::logText() const {
    return readFile(withSeparator(path("log")) + "WardexDebug(" + userTag_ + ").log");
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
    return withSeparator(path("conf")) + "wardex.conf";
}

std::optional<ProcessInfo> Installation::askProcessInfo(const std::string& appId,
                                                        std::chrono::milliseconds timeout) {
    try {
        // A fresh name for each question: a late answer to an earlier one cannot pass for this.
        const std::string own = sandbox_.uniqueName("EndToEnd" + std::to_string(++questions_));
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
