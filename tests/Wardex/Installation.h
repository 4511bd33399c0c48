// A temporary installation of the supervisor for end-to-end tests: a sandbox (its registry,
// mailslot and lock directories) holding a configuration directory and catalogs, a program
// directory with demo applications, and the real `wardex` binary started in it.
//
// Every process it knows of is ended on destruction, also when a test fails: the supervisor is
// asked to stop and then killed, and each listed demo application that still answers is ended.
#pragma once

#include "ChildProcess.h"
#include "Sandbox.h"

#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

namespace Kalvor::Test {

struct ListedApp {
    std::string name;
    bool active = true;
    bool withId = true;
    // Further keys of its entry, as "key(Type)" and value: command, directory, stop-timeout.
    std::vector<std::pair<std::string, std::string>> keys = {};
};

struct ProcessInfo {
    uint32_t processId = 0;
    uint32_t threadId = 0;
};

class Installation {
public:
    Installation();
    ~Installation();
    Installation(const Installation&) = delete;
    Installation& operator=(const Installation&) = delete;

    const std::string& userTag() const { return userTag_; }
    // From now on the helpers below address the supervisor of that user tag (its log, its
    // markers, its applications' mailslots), e.g. one run under another account: as root, the
    // process then makes and reaches mailslots in that account's folder (MailSlot::useAccount).
    void actAs(const std::string& userTag);
    // A file or folder of the installation, by its path relative to the installation's root.
    std::string path(const std::string& relative) const { return sandbox_.file(relative); }
    std::string binDirectory() const { return sandbox_.file("bin"); }
    // As the supervisor forms it from "ConfigurationDir".
    std::string configFile() const;
    std::string instanceMarker() const { return "WardexMarker:" + userTag_; }

    // Copies the demo application into the program directory under that name.
    void installDemo(const std::string& name);
    // Writes the configuration listing the applications (each one's id is its name).
    void writeConfig(const std::vector<ListedApp>& apps, int32_t debugLevel = 5);
    void writeRawConfig(const std::string& text);

    // Integer values under the resource key: the markers and other settings.
    void setMarker(const std::string& name, int32_t value);
    // -1 when missing.
    int32_t marker(const std::string& name) const;
    void deleteMarker(const std::string& name);
    void removeConfigurationDir();

    // Starts `wardex` with the arguments; the process is kept by the installation.
    ChildProcess& startWardex(const std::vector<std::string>& arguments = {},
                              const ChildProcess::Options& options = {});
    // Installs the applications, lists them and starts `wardex`.
    ChildProcess& startSupervising(const std::vector<ListedApp>& apps);
    // Whether the supervisor got configured and took its instance marker within the time-out.
    bool waitUntilSupervising(std::chrono::milliseconds timeout = std::chrono::seconds(20));

    std::string logText() const;
    bool waitForLog(const std::string& text,
                    std::chrono::milliseconds timeout = std::chrono::seconds(20)) const;
    std::size_t logCount(const std::string& text) const;

    // Sends a message line's fields to the supervisor's mailslot; false when it is not there
    // within a few seconds.
    bool sendToWardex(const std::string& type, const std::string& text);
    // Asks an application for its process and thread ids, as the supervisor does.
    std::optional<ProcessInfo>
    askProcessInfo(const std::string& appId,
                   std::chrono::milliseconds timeout = std::chrono::seconds(2));
    bool waitUntilAnswering(const std::string& appId,
                            std::chrono::milliseconds timeout = std::chrono::seconds(20));
    bool waitUntilGone(const std::string& appId,
                       std::chrono::milliseconds timeout = std::chrono::seconds(20));
    // Ends an application by its ids, as the supervisor ends one it took over.
    void killApp(const ProcessInfo& info);

private:
    void stopEverything();

    Sandbox sandbox_;
    std::string userTag_;
    std::vector<std::string> demos_;
    // A deque: the references handed out stay valid as more are started.
    std::deque<ChildProcess> wardexes_;
    unsigned questions_ = 0;
};

// Platform parts.
std::string demoFileName(const std::string& name);
void deleteRegistryValue(const std::string& key, const std::string& name);

} // namespace Kalvor::Test
