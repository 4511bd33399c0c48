// Supervisor figures, run by hand (posix): crash-to-restart latency beside runit's (runsv, when
// it is installed, supervising the same demo program), the supervisor's CPU and memory while it
// watches 20 idle demo applications, the time until all 20 run, and the time to adopt 40
// running applications after the supervisor was restarted.
//
//   build/<cfg>/bin/wardex-bench [kills=30] [idle-seconds=60]
#include "Installation.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace Kalvor;
using Clock = std::chrono::steady_clock;

namespace {

// Processes whose command line begins with the program path.
std::set<uint32_t> processesOf(const std::string& program) {
    std::set<uint32_t> found;
    DIR* proc = opendir("/proc");
    if (!proc)
        return found;
    while (dirent* entry = readdir(proc)) {
        const uint32_t pid = static_cast<uint32_t>(std::strtoul(entry->d_name, nullptr, 10));
        if (pid == 0)
            continue;
        std::ifstream cmdline("/proc/" + std::string(entry->d_name) + "/cmdline");
        std::string first;
        std::getline(cmdline, first, '\0');
        if (first == program) {
            std::ifstream stat("/proc/" + std::string(entry->d_name) + "/stat");
            std::string text((std::istreambuf_iterator<char>(stat)), {});
            // A zombie is not running.
            const std::size_t close = text.rfind(')');
            if (close != std::string::npos && close + 2 < text.size() && text[close + 2] != 'Z')
                found.insert(pid);
        }
    }
    closedir(proc);
    return found;
}

double cpuSeconds(uint32_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), {});
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    unsigned long long utime = 0, stime = 0;
    for (int index = 3; fields >> field; ++index) {
        if (index == 14)
            utime = std::stoull(field);
        if (index == 15) {
            stime = std::stoull(field);
            break;
        }
    }
    return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

long residentKilobytes(uint32_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::strtol(line.c_str() + 6, nullptr, 10);
    return -1;
}

double percentile(std::vector<double> values, double share) {
    std::sort(values.begin(), values.end());
    const std::size_t index =
        std::min(values.size() - 1, static_cast<std::size_t>(share * (values.size() - 1) + 0.5));
    return values[index];
}

// Kills the one process of `program` that runs, `kills` times, and times until a new one runs.
std::vector<double> restartLatencies(const std::string& program, int kills) {
    std::vector<double> latencies;
    for (int kill = 0; kill < kills; ++kill) {
        const std::set<uint32_t> before = processesOf(program);
        if (before.size() != 1)
            break;
        const uint32_t old = *before.begin();
        ::kill(static_cast<pid_t>(old), SIGKILL);
        const auto killed = Clock::now();
        const bool back = Test::waitFor(
            [&] {
                const auto now = processesOf(program);
                return now.size() == 1 && *now.begin() != old;
            },
            std::chrono::seconds(10));
        if (!back)
            break;
        latencies.push_back(std::chrono::duration<double>(Clock::now() - killed).count());
        // Let the new one settle before the next kill, as a crash would not come at once: past
        // runsv's one second for a service that ended quickly, and wardex's half-second gap.
        std::this_thread::sleep_for(std::chrono::milliseconds(1200));
    }
    return latencies;
}

void report(const char* who, const std::vector<double>& latencies) {
    if (latencies.empty()) {
        std::printf("%s: no restart measured\n", who);
        return;
    }
    std::printf("%s: crash to restart over %zu kills: median %.1f ms, 95th percentile %.1f ms\n",
                who, latencies.size(), 1000 * percentile(latencies, 0.5),
                1000 * percentile(latencies, 0.95));
}

// runsv on a service folder of its own whose run file is the demo program itself.
std::vector<double> runitLatencies(const Test::Installation& site, int kills) {
    const std::string service = site.path("runit-service");
    std::filesystem::create_directories(service);
    std::filesystem::copy_file(Test::helperProgramPath("kalvor-demo"), service + "/run");
    Test::ChildProcess runsv("/usr/bin/runsv", {service});
    if (!runsv.started()) {
        std::printf("runit: runsv is not installed (apt-get install runit)\n");
        return {};
    }
    if (!Test::waitFor([] { return processesOf("./run").size() == 1; }))
        return {};
    std::vector<double> latencies = restartLatencies("./run", kills);
    runsv.askToClose(); // SIGTERM, as "sv exit": stops the service
    runsv.waitForExit();
    return latencies;
}

// Starts `count` applications under one supervisor, kills it (they run on), and times the next
// supervisor until it has taken them all over.
void adoptionSeconds(int count) {
    Test::Installation site;
    std::vector<Test::ListedApp> apps;
    for (int index = 0; index < count; ++index) {
        apps.push_back({"Adopted" + std::to_string(index)});
        site.installDemo(apps.back().name);
    }
    site.writeConfig(apps, 3);
    Test::ChildProcess& first = site.startWardex();
    for (const auto& app : apps)
        if (!site.waitUntilAnswering(app.name, std::chrono::seconds(60)))
            return;
    first.kill();
    const auto restarted = Clock::now();
    site.startWardex();
    const bool all = Test::waitFor(
        [&] {
            return site.logCount("   Captured running application.") ==
                   static_cast<std::size_t>(count);
        },
        std::chrono::seconds(120));
    std::printf("%d running applications adopted after a restart: %s in %.3f s\n", count,
                all ? "all" : "NOT all",
                std::chrono::duration<double>(Clock::now() - restarted).count());
}

} // namespace

int main(int argc, char** argv) {
    const int kills = argc > 1 ? std::atoi(argv[1]) : 30;
    const int idleSeconds = argc > 2 ? std::atoi(argv[2]) : 60;
    constexpr int kApps = 20;

    Test::Installation site;
    std::vector<Test::ListedApp> apps;
    for (int index = 0; index < kApps; ++index) {
        apps.push_back({"BenchApp" + std::to_string(index)});
        site.installDemo(apps.back().name);
    }
    site.writeConfig(apps, 0);
    // The benchmark measures the supervisor, not its debug log.
    site.setMarker("StartupDebugLevel", 0);

    const auto started = Clock::now();
    Test::ChildProcess& wardex = site.startWardex();
    const auto allRunning = [&] {
        for (const auto& app : apps)
            if (processesOf(site.binDirectory() + "/" + app.name).empty())
                return false;
        return true;
    };
    if (!Test::waitFor(allRunning, std::chrono::seconds(120))) {
        std::fprintf(stderr, "not all applications came up\n");
        return 1;
    }
    const double startSeconds = std::chrono::duration<double>(Clock::now() - started).count();
    std::printf("start to all %d running: %.3f s\n", kApps, startSeconds);

    const uint32_t pid = wardex.processId();
    const double cpuBefore = cpuSeconds(pid);
    const auto idleStart = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(idleSeconds));
    const double wall = std::chrono::duration<double>(Clock::now() - idleStart).count();
    const double cpu = cpuSeconds(pid) - cpuBefore;
    std::printf("idle with %d applications for %.0f s: CPU %.3f %% of a core, RSS %ld kB\n", kApps,
                wall, 100.0 * cpu / wall, residentKilobytes(pid));

    const std::vector<double> latencies =
        restartLatencies(site.binDirectory() + "/" + apps.front().name, kills);
    report("wardex", latencies);
    const std::vector<double> runit = runitLatencies(site, kills);
    report("runit (runsv)", runit);
    adoptionSeconds(40);
    return latencies.size() == static_cast<std::size_t>(kills) ? 0 : 1;
}
