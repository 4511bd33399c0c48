// The installation as a user gets it: `cmake --install` of this build into a temporary prefix,
// then the first run that the README's "Install" section describes, with the installed programs
// and files alone. The demo application, which is not installed, stands in for the user's one.
#include "ChildProcess.h"
#include "Sandbox.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
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

// Into a folder made as needed.
void writeInstalledFile(const std::string& path, const std::string& text) {
    fs::create_directories(fs::path(path).parent_path());
    ASSERT_TRUE(Kalvor::Test::writeFile(path, text)) << path;
}

// Every `from` replaced; the number of replacements in `count`.
std::string replaced(std::string text, const std::string& from, const std::string& to, int& count) {
    count = 0;
    for (std::size_t at = text.find(from); at != std::string::npos;
         at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
        ++count;
    }
    return text;
}

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

    // An installed program run to its end; its standard output in `output`. -1 when it did not
    // end in time (it is then killed).
    int runInstalled(const std::string& name, const std::vector<std::string>& arguments,
                     std::string& output) {
        const std::string outputFile = sandbox_.file(name + ".out");
        const std::string errorFile = sandbox_.file(name + ".err");
        ChildProcess tool(installed("bin/" + name), arguments, toFiles(outputFile, errorFile));
        const std::optional<int> exit = tool.waitForExit(kToolTime);
        if (!exit)
            return -1;
        output = readFile(outputFile);
        lastErrors_ = readFile(errorFile);
        return *exit;
    }

    // The installed example with the README's replacement of %HOME% made; false when the
    // example has no such placeholder.
    bool personalExample(const std::string& name, std::string& text) {
        int count = 0;
        text =
            replaced(readFile(installed("share/kalvor/examples/" + name)), "%HOME%", home_, count);
        return count > 0;
    }

    // Its mailslot and lock folders stand in for the installed unit's runtime ones.
    Kalvor::Test::Sandbox sandbox_;
    const std::string prefix_ = sandbox_.file("prefix");
    const std::string home_ = sandbox_.file("home");
    ScopedEnv homeVariable_{"HOME", home_};
    // Where the installed unit puts the registry: below the user's home.
    ScopedEnv registry_{"KALVOR_REGISTRY_DIR", home_ + "/.local/share/kalvor/registry"};
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
    EXPECT_EQ(namesIn(installed("share/kalvor/examples")),
              (std::set<std::string>{"wardex-first-run.reg", "wardex.conf"}));

    const std::string unit = readFile(installed("lib/systemd/user/wardex.service"));
    EXPECT_EQ(unit.find('@'), std::string::npos) << "a placeholder was left:\n" << unit;
    for (const char* line : {"ExecStart=" KALVOR_INSTALL_BINDIR "/wardex", "KillSignal=SIGTERM",
                             "KillMode=mixed", "Restart=on-abnormal", "WantedBy=default.target",
                             // Below the user's home: the user owns it and writes its machine file.
                             "Environment=KALVOR_REGISTRY_DIR=%h/.local/share/kalvor/registry",
                             "Environment=KALVOR_MAILSLOT_DIR=%t/kalvor/mailslots",
                             "Environment=KALVOR_LOCK_DIR=%t/kalvor/locks"})
        EXPECT_NE(unit.find("\n" + std::string(line) + "\n"), std::string::npos) << line << " in\n"
                                                                                 << unit;

    const std::string tmpfiles = readFile(installed("lib/tmpfiles.d/kalvor.conf"));
    for (const char* folder : {"/tmp/kalvor-mailslots", "/tmp/kalvor-locks"})
        EXPECT_TRUE(std::regex_search(
            tmpfiles, std::regex("\nd " + std::string(folder) + " +1777 root root -\n")))
            << folder << " in\n"
            << tmpfiles;
}

TEST_F(InstallTest, TheReadmesFirstRunSupervisesTheUsersApplicationUntilStopped) {
    // The README's folders: the logger makes no log folder of its own before the configuration
    // has been read.
    for (const char* folder :
         {"/.config/kalvor", "/.local/state/kalvor/log", "/.local/lib/kalvor/bin"})
        fs::create_directories(home_ + folder);
    // The first-run values, imported with the installed kalvor-reg.
    std::string firstRun;
    ASSERT_TRUE(personalExample("wardex-first-run.reg", firstRun));
    writeInstalledFile(home_ + "/first-run.reg", firstRun);
    std::string output;
    ASSERT_EQ(runInstalled("kalvor-reg", {"import", home_ + "/first-run.reg"}, output), 0)
        << lastErrors_;
    ASSERT_EQ(runInstalled("kalvor-reg",
                           {"query", "HKLM\\SOFTWARE\\Kalvor\\Resources", "/v", "ConfigurationDir"},
                           output),
              0);
    EXPECT_NE(output.find("REG_SZ    " + home_ + "/.config/kalvor/\n"), std::string::npos)
        << output;

    // The example configuration with its application made active, the catalogs where this
    // prefix has them, and the demo application as that application's program.
    std::string config;
    ASSERT_TRUE(personalExample("wardex.conf", config));
    int count = 0;
    config = replaced(config, "'" KALVOR_INSTALL_DATADIR "/kalvor/'",
                      "'" + installed("share/kalvor/'"), count);
    ASSERT_EQ(count, 1) << "the catalogs' folder in\n" << config;
    config = replaced(config, "active(Bool) = 'false'", "active(Bool) = 'true'", count);
    ASSERT_EQ(count, 1) << config;
    writeInstalledFile(home_ + "/.config/kalvor/wardex.conf", config);
    const std::string program = home_ + "/.local/lib/kalvor/bin/ExampleApp";
    fs::copy_file(Kalvor::Test::helperProgramPath("kalvor-demo"), program);

    // In a process group of its own, so that whatever is left running goes with it.
    ChildProcess::Options options =
        toFiles(sandbox_.file("wardex.out"), sandbox_.file("wardex.err"));
    options.ownProcessGroup = true;
    ChildProcess wardex(installed("bin/wardex"), {}, options);
    ASSERT_TRUE(wardex.started());
    const std::regex running(R"((^|\n)ExampleApp +running +[0-9]+ )");
    const bool supervised = waitFor(
        [&] {
            return !wardex.exitCode() && runInstalled("wardexctl", {"status"}, output) == 0 &&
                   std::regex_search(output, running);
        },
        kSupervisionTime);
    ASSERT_TRUE(supervised) << "wardexctl status:\n"
                            << output << lastErrors_ << "wardex:\n"
                            << readFile(sandbox_.file("wardex.err"));
    ASSERT_EQ(runInstalled("wardexctl", {"status", "--json"}, output), 0);
    std::smatch pid;
    ASSERT_TRUE(std::regex_search(output, pid, std::regex(R"("pid": ([0-9]+))"))) << output;
    const pid_t application = static_cast<pid_t>(std::stol(pid[1]));

    // The log went where the example configuration puts it, with the installed catalogs' texts.
    const std::string logs = home_ + "/.local/state/kalvor/log";
    std::string log;
    for (const std::string& name : namesIn(logs))
        if (name.rfind("WardexDebug(", 0) == 0)
            log = readFile(logs + "/" + name);
    EXPECT_NE(log.find("Wardex started: the supervisor is now watching the applications"),
              std::string::npos)
        << log;

    ASSERT_EQ(runInstalled("wardexctl", {"shutdown"}, output), 0) << lastErrors_;
    const std::optional<int> exit = wardex.waitForExit(kStopTime);
    ASSERT_TRUE(exit);
    EXPECT_EQ(exit, 0) << readFile(sandbox_.file("wardex.err"));
    EXPECT_TRUE(waitFor([&] { return processEnded(application); }, kToolTime));
    EXPECT_EQ(runInstalled("wardexctl", {"status"}, output), 3) << "no supervisor is left";
}

} // namespace
} // namespace Kalvor
