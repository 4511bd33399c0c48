// The installation as a user gets it: `cmake --install` of this build into a temporary prefix,
// the package's postinst run over it, then the README's "Install" section as a fresh account
// would follow it, with the installed programs and files alone.
#include "ChildProcess.h"
#include "Common/UserName.h"
#include "Config/ConfReader.h"
#include "Sandbox.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <regex>
#include <set>
#include <sstream>
#include <unistd.h>

namespace fs = std::filesystem;

namespace Kalvor {
namespace {

using Kalvor::Test::ChildProcess;
using Kalvor::Test::readFile;
using Kalvor::Test::ScopedEnv;
using Kalvor::Test::waitFor;

constexpr auto kInstallTime = std::chrono::seconds(90);
constexpr auto kToolTime = std::chrono::seconds(10);
constexpr auto kSupervisionTime = std::chrono::seconds(20);
// wardex waits for the applications it told to DIE, and its IPC listener may need ten seconds.
constexpr auto kStopTime = std::chrono::seconds(30);

std::set<std::string> namesIn(const std::string& folder) {
    std::set<std::string> names;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder, error))
        names.insert(entry.path().filename().string());
    return names;
}

ChildProcess::Options toFiles(const std::string& output, const std::string& errors) {
    ChildProcess::Options options;
    options.outputFile = output;
    options.errorFile = errors;
    return options;
}

// Gone, or a zombie that nobody has reaped yet: either way it runs no more.
bool processEnded(pid_t pid) {
    const std::string stat = readFile("/proc/" + std::to_string(pid) + "/stat");
    const std::size_t close = stat.rfind(')');
    return close == std::string::npos || stat.compare(close, 4, ") Z ") == 0;
}

// As root: the machine's folders seen privately by this test and what it starts, so that the
// installed programs use their built-in defaults (/var/lib/kalvor/registry, /tmp/kalvor-mailslots,
// /tmp/kalvor-locks) as on a real machine, and leave nothing there. Empty when that worked.
std::string privateMachineFolders() {
    if (::unshare(CLONE_NEWNS) != 0)
        return "unshare(CLONE_NEWNS) failed";
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        return "the mounts cannot be made private";
    if (::mount("kalvor-test", "/var/lib", "tmpfs", 0, "mode=0755") != 0)
        return "no tmpfs on /var/lib";
    for (const char* folder : {"/tmp/kalvor-mailslots", "/tmp/kalvor-locks"}) {
        // What the package's tmpfiles.d makes at boot, on the real /tmp; empty and harmless.
        ::mkdir(folder, 01777);
        if (::mount("kalvor-test", folder, "tmpfs", 0, "mode=1777") != 0)
            return std::string("no tmpfs on ") + folder;
    }
    return "";
}

class InstallTest : public ::testing::Test {
protected:
    void SetUp() override {
        ChildProcess install(KALVOR_CMAKE_COMMAND,
                             {"--install", KALVOR_BUILD_DIR, "--prefix", prefix_},
                             ChildProcess::capturing(true));
        ASSERT_TRUE(install.started());
        const std::string log = install.readToEnd(kInstallTime);
        const std::optional<int> exit = install.waitForExit(kToolTime);
        ASSERT_TRUE(exit) << "cmake --install did not end within " << kInstallTime.count() << " s";
        ASSERT_EQ(exit, 0) << log;
    }

    std::string installed(const std::string& relative) const { return prefix_ + "/" + relative; }

    // `words` run to their end with no environment but `environment`; standard output in
    // `output`, standard error in lastErrors_. -1 when it did not end in time (it is then
    // killed).
    int run(const std::vector<std::string>& environment, const std::vector<std::string>& words,
            std::string& output) {
        const std::string outputFile = sandbox_.file("run.out");
        const std::string errorFile = sandbox_.file("run.err");
        ChildProcess tool("/usr/bin/env", withEnvironment(environment, words),
                          toFiles(outputFile, errorFile));
        const std::optional<int> exit = tool.waitForExit(kToolTime);
        if (!exit)
            return -1;
        output = readFile(outputFile);
        lastErrors_ = readFile(errorFile);
        return *exit;
    }

    static std::vector<std::string> withEnvironment(const std::vector<std::string>& environment,
                                                    const std::vector<std::string>& words) {
        std::vector<std::string> all{"-i"};
        all.insert(all.end(), environment.begin(), environment.end());
        all.insert(all.end(), words.begin(), words.end());
        return all;
    }

    Kalvor::Test::Sandbox sandbox_;
    const std::string prefix_ = sandbox_.file("prefix");
    std::string lastErrors_;
};

TEST_F(InstallTest, PutsTheProgramsCatalogsExamplesAndUnitBelowThePrefix) {
    // The operators' programs and nothing of the tests or the demo.
    EXPECT_EQ(namesIn(installed("bin")),
              (std::set<std::string>{"kalvor-ipc", "kalvor-reg", "wardex", "wardexctl"}));
    for (const std::string& name : namesIn(installed("bin")))
        EXPECT_EQ(::access(installed("bin/" + name).c_str(), X_OK), 0) << name;
    EXPECT_EQ(namesIn(installed("share/kalvor/LogMessages")),
              namesIn(KALVOR_SOURCE_DIR "/LogMessages"));
    for (const char* document : {"README.md", "copyright", "changelog.gz", "examples/wardex.conf"})
        EXPECT_TRUE(fs::is_regular_file(installed("share/doc/kalvor-wardex/") + document))
            << document;
    // The example reads as the supervisor reads it, and shows an ordinary program's entry.
    ConfReader example(nullptr);
    EXPECT_EQ(example.buildDOM(installed("share/doc/kalvor-wardex/examples/wardex.conf")), "");
    std::string command;
    EXPECT_EQ(example.getString("wardex.monitor.web.command", command), CONF_FOUND);
    EXPECT_EQ(command, "python3 -m http.server 8765");

    const std::string unit = readFile(installed("lib/systemd/user/wardex.service"));
    EXPECT_EQ(unit.find('@'), std::string::npos) << "a placeholder was left:\n" << unit;
    for (const char* line : {"ExecStart=" KALVOR_INSTALL_BINDIR "/wardex", "KillSignal=SIGTERM",
                             "KillMode=mixed", "Restart=on-abnormal", "WantedBy=default.target"})
        EXPECT_NE(unit.find("\n" + std::string(line) + "\n"), std::string::npos) << line << " in\n"
                                                                                 << unit;
    // Every program finds its folders by itself: a folder set here would be one that a shell's
    // wardexctl does not know of.
    EXPECT_EQ(unit.find("\nEnvironment"), std::string::npos) << unit;

    const std::string tmpfiles = readFile(installed("lib/tmpfiles.d/kalvor.conf"));
    for (const char* folder : {"/tmp/kalvor-mailslots", "/tmp/kalvor-locks"})
        EXPECT_TRUE(std::regex_search(
            tmpfiles, std::regex("\nd " + std::string(folder) + " +1777 root root -\n")))
            << folder << " in\n"
            << tmpfiles;
}

// The README's three commands, as a fresh account with no environment beyond HOME, USER and
// PATH: the package's postinst, the unit's command, then `wardexctl add` of an ordinary
// program, which `wardexctl status` then shows running. As root the account is a number
// without a passwd entry and the machine's folders are the built-in ones, seen privately;
// otherwise it is this account, and the sandbox's folders stand in for the machine's.
TEST_F(InstallTest, AFreshAccountSupervisesItsProgramAfterTheThreeCommands) {
    constexpr int kAccount = 61725;
    const bool asRoot = Kalvor::Test::canActAsOtherAccounts();
    if (asRoot) {
        const std::string why = privateMachineFolders();
        if (!why.empty())
            GTEST_SKIP() << "no private machine folders: " << why;
    }
    const std::string path = installed("bin") + ":/usr/bin:/bin";
    std::vector<std::string> machine{"PATH=" + path};
    if (!asRoot)
        for (const char* name : {"KALVOR_REGISTRY_DIR", "KALVOR_MAILSLOT_DIR", "KALVOR_LOCK_DIR"})
            machine.push_back(std::string(name) + "=" + std::getenv(name));

    // sudo apt install ./kalvor-wardex_..._amd64.deb: the files are in place; the postinst
    // writes the machine's values, and a second run changes none that is set.
    std::string output;
    ASSERT_EQ(run(machine, {"/bin/sh", KALVOR_SOURCE_DIR "/contrib/debian/postinst", "configure"},
                  output),
              0)
        << lastErrors_;
    ASSERT_EQ(run(machine, {"kalvor-reg", "add", "HKLM\\SOFTWARE\\Kalvor\\Resources", "/v",
                            "StartupDebugLevel", "/t", "REG_DWORD", "/d", "0", "/f"},
                  output),
              0)
        << lastErrors_;
    ASSERT_EQ(run(machine, {"/bin/sh", KALVOR_SOURCE_DIR "/contrib/debian/postinst", "configure"},
                  output),
              0)
        << lastErrors_;
    ASSERT_EQ(run(machine, {"kalvor-reg", "query", "HKLM\\SOFTWARE\\Kalvor\\Resources"}, output),
              0)
        << lastErrors_;
    for (const char* value : {"WardexMarker    REG_DWORD    0x1",
                              "ConfigurationDir    REG_EXPAND_SZ    %HOME%/.config/kalvor/",
                              "StartupDebugLevel    REG_DWORD    0x0"})
        EXPECT_NE(output.find(value), std::string::npos) << value << " in\n" << output;

    // The account: its home and nothing else.
    const std::string home = sandbox_.file("home");
    fs::create_directories(home);
    std::vector<std::string> account{"HOME=" + home, "PATH=" + path};
    std::vector<std::string> words;
    if (asRoot) {
        ::chmod(sandbox_.path().c_str(), 0755);
        ASSERT_EQ(::chown(home.c_str(), kAccount, kAccount), 0);
        account.push_back("USER=" + std::to_string(kAccount));
        const std::string id = std::to_string(kAccount);
        words = {"/usr/bin/setpriv", "--reuid=" + id, "--regid=" + id, "--clear-groups"};
    } else {
        account.push_back("USER=" + std::string(std::getenv("USER") ? std::getenv("USER") : ""));
        account.insert(account.end(), machine.begin() + 1, machine.end());
    }
    const auto as = [&](std::vector<std::string> command) {
        command.insert(command.begin(), words.begin(), words.end());
        return command;
    };

    // systemctl --user enable --now wardex: the unit's command as it stands.
    const std::string unit = readFile(installed("lib/systemd/user/wardex.service"));
    std::smatch exec;
    ASSERT_TRUE(std::regex_search(unit, exec, std::regex("\nExecStart=" KALVOR_INSTALL_BINDIR
                                                         "/([^ \n]+)\n")))
        << unit;
    ChildProcess::Options options =
        toFiles(sandbox_.file("wardex.out"), sandbox_.file("wardex.err"));
    options.ownProcessGroup = true;
    ChildProcess wardex("/usr/bin/env",
                        withEnvironment(account, as({installed("bin/" + exec[1].str())})),
                        options);
    ASSERT_TRUE(wardex.started());
    // wardexctl add web -- <an ordinary program>
    const bool added = waitFor(
        [&] {
            return !wardex.exitCode() &&
                   run(account, as({"wardexctl", "add", "web", "--", "sleep", "600"}), output) ==
                       0;
        },
        kSupervisionTime);
    ASSERT_TRUE(added) << output << lastErrors_ << "wardex:\n"
                       << readFile(sandbox_.file("wardex.err"));
    const std::regex running(R"((^|\n)web +running +[0-9]+ )");
    const bool supervised = waitFor(
        [&] {
            return run(account, as({"wardexctl", "status"}), output) == 0 &&
                   std::regex_search(output, running);
        },
        kSupervisionTime);
    const std::string logs = home + "/.local/state/kalvor/log";
    const std::string logFile =
        logs + "/WardexDebug(" + (asRoot ? std::to_string(kAccount) : currentUserName()) + ").log";
    ASSERT_TRUE(supervised) << "wardexctl status:\n"
                            << output << lastErrors_ << "log:\n"
                            << readFile(logFile);
    ASSERT_EQ(run(account, as({"wardexctl", "status", "--json"}), output), 0);
    std::smatch pid;
    ASSERT_TRUE(std::regex_search(output, pid, std::regex(R"("pid": ([0-9]+))"))) << output;
    const pid_t web = static_cast<pid_t>(std::stol(pid[1]));

    // The account's own files, where a user looks for them; the log with the installed
    // catalogs' texts.
    const std::string config = home + "/.config/kalvor/wardex.conf";
    EXPECT_NE(readFile(config).find("command(String) = 'sleep 600'"), std::string::npos)
        << readFile(config);
    const std::string log = readFile(logFile);
    EXPECT_NE(log.find("Wardex started: the supervisor is now watching the applications"),
              std::string::npos)
        << log;
    EXPECT_EQ(log.find("(Message not found.)"), std::string::npos) << log;
    EXPECT_EQ(log.find("were rejected"), std::string::npos) << log;

    ASSERT_EQ(run(account, as({"wardexctl", "shutdown"}), output), 0) << lastErrors_;
    const std::optional<int> exit = wardex.waitForExit(kStopTime);
    ASSERT_TRUE(exit);
    EXPECT_EQ(exit, 0) << readFile(sandbox_.file("wardex.err"));
    EXPECT_TRUE(waitFor([&] { return processEnded(web); }, kToolTime));

    // dpkg -r: the package's files go (it has no script that runs at removal); the account's
    // configuration and log stay.
    fs::remove_all(prefix_);
    EXPECT_TRUE(fs::is_regular_file(config));
    EXPECT_FALSE(namesIn(logs).empty());
}

} // namespace
} // namespace Kalvor
