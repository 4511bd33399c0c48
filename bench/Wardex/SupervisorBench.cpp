// Supervisor figures, run by hand (posix). Each section lays out an installation of its own, so
// any one of them can run alone; a table of every figure is printed at the end. Where runit's
// runsv is installed, it supervises the same programs beside wardex.
//
//   idle     time from start until all applications run; then, left idle for a while, the
//            supervisor's CPU (share of one core), wake-ups a second (voluntary and involuntary
//            context switches of all its threads, also per thread) and resident memory;
//            beside it, over the same period, one runsv per application
//   restart  kill of an application to its new process, over N kills each: the demo program,
//            and a python3 script (its "#!/usr/bin/env python3" line, so it counts once the
//            interpreter runs it, and again once the script sleeps in its wait), its output
//            once through the supervisor's pipe and once inherited; wardex and runsv take
//            turns, so that the machine's load weighs on both alike, each process killed once
//            it has run ten seconds (10.5 s a round)
//   sigterm  SIGTERM to the supervisor's exit while the applications run (they end on DIE),
//            and until the last of them has gone
//   startup  a configuration listing many inactive applications: start to the "Wardex started"
//            notice in the log
//   adopt    the supervisor killed while its applications run: the next one's start until it
//            reports each of them running under its old process id (wardexctl status --json)
//
//   build/<cfg>/bin/wardex-bench [SECTION...] [--kills=30] [--idle-seconds=30] [--apps=20]
//       [--sigterm-runs=5] [--startup-apps=10000,100000] [--startup-timeout=1200]
//       [--adopt-apps=40] [--python=/usr/bin/python3]
//   Two bare numbers are the number of kills and the idle seconds, as before.
#include "Installation.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <dirent.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <poll.h>
#include <set>
#include <sstream>
#include <string>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>
#include <unordered_set>
#include <vector>

using namespace Kalvor;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

namespace {

const char* const kSections[] = {"idle", "restart", "sigterm", "startup", "adopt"};

struct Options {
    std::set<std::string> sections;
    int kills = 30;
    int idleSeconds = 30;
    int apps = 20;
    int sigtermRuns = 5;
    std::vector<int> startupApps{10000, 100000};
    int startupTimeoutSeconds = 1200;
    int adoptApps = 40;
    std::string python;
};

// One line of the closing table.
struct Row {
    std::string section;
    std::string figure;
    std::string wardex;
    std::string runit;
};

std::vector<Row> summary;

void addRow(const std::string& section, const std::string& figure, const std::string& wardex,
            const std::string& runit = "-") {
    summary.push_back({section, figure, wardex, runit});
}

std::string fixed(const char* pattern, double value) {
    char text[64];
    std::snprintf(text, sizeof text, pattern, value);
    return text;
}

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// ---- The process table --------------------------------------------------------------------

std::string readSmallFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(file)), {});
}

std::vector<uint32_t> numberedEntries(const std::string& folder) {
    std::vector<uint32_t> numbers;
    DIR* directory = opendir(folder.c_str());
    if (!directory)
        return numbers;
    while (dirent* entry = readdir(directory)) {
        const uint32_t number = static_cast<uint32_t>(std::strtoul(entry->d_name, nullptr, 10));
        if (number != 0)
            numbers.push_back(number);
    }
    closedir(directory);
    return numbers;
}

std::vector<uint32_t> allProcesses() {
    return numberedEntries("/proc");
}

std::vector<std::string> argumentsOf(uint32_t pid) {
    const std::string text = readSmallFile("/proc/" + std::to_string(pid) + "/cmdline");
    std::vector<std::string> words;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\0', start)) != std::string::npos; start = end + 1)
        words.push_back(text.substr(start, end - start));
    return words;
}

struct StatFields {
    char state = '?';
    uint32_t parent = 0;
    double cpuSeconds = 0; // user and system time of all its threads, in clock ticks
};

std::optional<StatFields> statOf(const std::string& statPath) {
    const std::string text = readSmallFile(statPath);
    const std::size_t close = text.rfind(')');
    if (close == std::string::npos || close + 2 >= text.size())
        return std::nullopt;
    std::istringstream fields(text.substr(close + 2));
    StatFields stat;
    std::string field;
    unsigned long long utime = 0, stime = 0;
    for (int index = 3; fields >> field; ++index) {
        if (index == 3)
            stat.state = field[0];
        else if (index == 4)
            stat.parent = static_cast<uint32_t>(std::stoul(field));
        else if (index == 14)
            utime = std::stoull(field);
        else if (index == 15) {
            stime = std::stoull(field);
            break;
        }
    }
    stat.cpuSeconds =
        static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
    return stat;
}

std::optional<StatFields> statOf(uint32_t pid) {
    return statOf("/proc/" + std::to_string(pid) + "/stat");
}

long residentKilobytes(uint32_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::strtol(line.c_str() + 6, nullptr, 10);
    return -1;
}

// How a supervised program shows in the process table once it runs: a binary as its first
// word; a script as the second word of its interpreter's, once "env" has handed over to it.
struct Program {
    std::string file;
    bool script = false;

    bool runsAs(const std::vector<std::string>& words) const {
        if (!script)
            return !words.empty() && words[0] == file;
        return words.size() >= 2 && words[1] == file &&
               fs::path(words[0]).filename().string().rfind("python", 0) == 0;
    }
};

// Running (not zombie) processes of the program, and when `parent` is given only its children.
std::vector<uint32_t> processesOf(const Program& program, uint32_t parent = 0) {
    std::vector<uint32_t> found;
    for (const uint32_t pid : allProcesses()) {
        const auto stat = statOf(pid);
        if (stat && stat->state != 'Z' && (parent == 0 || stat->parent == parent) &&
            program.runsAs(argumentsOf(pid)))
            found.push_back(pid);
    }
    return found;
}

// The first word of every running process, once per word: one pass over the table answers for
// many programs.
std::multiset<std::string> runningFirstWords() {
    std::multiset<std::string> words;
    for (const uint32_t pid : allProcesses()) {
        const auto stat = statOf(pid);
        if (!stat || stat->state == 'Z')
            continue;
        const auto arguments = argumentsOf(pid);
        if (!arguments.empty())
            words.insert(arguments[0]);
    }
    return words;
}

// Kills what still runs a program of the bench that no supervisor stops (a script does not hear
// DIE, so it outlives the wardex that started it). Declared before the installation, so that it
// acts once the supervisor is gone and cannot start the program again.
class LeftoverKiller {
public:
    LeftoverKiller() = default;
    ~LeftoverKiller() {
        for (const Program& program : programs_)
            for (const uint32_t pid : processesOf(program))
                ::kill(static_cast<pid_t>(pid), SIGKILL);
    }
    LeftoverKiller(const LeftoverKiller&) = delete;
    LeftoverKiller& operator=(const LeftoverKiller&) = delete;

    void watch(const Program& program) { programs_.push_back(program); }

private:
    std::vector<Program> programs_;
};

// ---- Per-thread figures -------------------------------------------------------------------

struct ThreadSample {
    std::string name;
    std::string waitsIn; // the kernel function it sleeps in, which tells the threads apart
    uint64_t cpuNanoseconds = 0;
    uint64_t voluntary = 0;
    uint64_t involuntary = 0;
};

struct ProcessSample {
    std::map<uint32_t, ThreadSample> threads;
    double tickCpuSeconds = 0;
    bool nanosecondCpu = true; // every thread's schedstat could be read
    Clock::time_point at;
};

uint64_t statusNumber(const std::string& text, const char* name) {
    const std::size_t at = text.find(name);
    return at == std::string::npos
               ? 0
               : std::strtoull(text.c_str() + at + std::strlen(name), nullptr, 10);
}

ProcessSample sampleProcess(uint32_t pid) {
    ProcessSample sample;
    sample.at = Clock::now();
    const std::string base = "/proc/" + std::to_string(pid);
    if (const auto stat = statOf(pid))
        sample.tickCpuSeconds = stat->cpuSeconds;
    for (const uint32_t tid : numberedEntries(base + "/task")) {
        const std::string task = base + "/task/" + std::to_string(tid);
        ThreadSample thread;
        thread.name = readSmallFile(task + "/comm");
        if (!thread.name.empty() && thread.name.back() == '\n')
            thread.name.pop_back();
        thread.waitsIn = readSmallFile(task + "/wchan");
        const std::string status = readSmallFile(task + "/status");
        thread.voluntary = statusNumber(status, "\nvoluntary_ctxt_switches:");
        thread.involuntary = statusNumber(status, "\nnonvoluntary_ctxt_switches:");
        // Nanoseconds on a CPU: clock ticks are too coarse for an idle process.
        const std::string schedstat = readSmallFile(task + "/schedstat");
        if (schedstat.empty())
            sample.nanosecondCpu = false;
        thread.cpuNanoseconds = std::strtoull(schedstat.c_str(), nullptr, 10);
        sample.threads[tid] = thread;
    }
    return sample;
}

struct IdleFigures {
    double seconds = 0;
    double cpuPercent = 0;
    double wakeups = 0; // a second
    long residentKilobytes = 0;
};

// The change between two samples of each of the processes, summed; per-thread lines are
// printed when `perThread`.
IdleFigures idleDifference(const std::vector<ProcessSample>& before,
                           const std::vector<ProcessSample>& after, bool perThread) {
    IdleFigures figures;
    figures.seconds = std::chrono::duration<double>(after.front().at - before.front().at).count();
    double cpuSeconds = 0;
    uint64_t switches = 0;
    if (perThread)
        std::printf("  %-8s %-16s %10s %10s %10s %10s  %s\n", "TID", "THREAD", "CPU ms",
                    "voluntary", "involunt.", "wake-ups/s", "WAITS IN");
    for (std::size_t index = 0; index < before.size(); ++index) {
        const ProcessSample& first = before[index];
        const ProcessSample& last = after[index];
        const bool precise = first.nanosecondCpu && last.nanosecondCpu;
        double processCpu = last.tickCpuSeconds - first.tickCpuSeconds;
        double threadCpu = 0;
        for (const auto& [tid, end] : last.threads) {
            const auto start = first.threads.find(tid);
            // A thread that came during the period counts from zero.
            const ThreadSample origin =
                start != first.threads.end() ? start->second : ThreadSample{};
            const double cpu =
                static_cast<double>(end.cpuNanoseconds - origin.cpuNanoseconds) / 1e9;
            const uint64_t voluntary = end.voluntary - origin.voluntary;
            const uint64_t involuntary = end.involuntary - origin.involuntary;
            threadCpu += cpu;
            switches += voluntary + involuntary;
            if (perThread)
                std::printf("  %-8u %-16s %10.2f %10llu %10llu %10.2f  %s%s\n", tid,
                            end.name.c_str(), 1000 * cpu,
                            static_cast<unsigned long long>(voluntary),
                            static_cast<unsigned long long>(involuntary),
                            static_cast<double>(voluntary + involuntary) / figures.seconds,
                            end.waitsIn.c_str(),
                            start == first.threads.end() ? " (started during the period)" : "");
        }
        if (perThread)
            for (const auto& [tid, start] : first.threads)
                if (!last.threads.count(tid))
                    std::printf("  %-8u %-16s ended during the period: not counted\n", tid,
                                start.name.c_str());
        cpuSeconds += precise ? threadCpu : processCpu;
    }
    figures.cpuPercent = 100.0 * cpuSeconds / figures.seconds;
    figures.wakeups = static_cast<double>(switches) / figures.seconds;
    return figures;
}

// Samples of each process, taken `seconds` apart.
std::pair<std::vector<ProcessSample>, std::vector<ProcessSample>>
sampleAcross(const std::vector<uint32_t>& pids, int seconds) {
    std::vector<ProcessSample> before, after;
    for (const uint32_t pid : pids)
        before.push_back(sampleProcess(pid));
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    for (const uint32_t pid : pids)
        after.push_back(sampleProcess(pid));
    return {before, after};
}

// ---- Helpers for the installations --------------------------------------------------------

std::string findOnPath(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::istringstream folders(path ? path : "");
    std::string folder;
    while (std::getline(folders, folder, ':'))
        if (!folder.empty() && ::access((folder + "/" + name).c_str(), X_OK) == 0)
            return folder + "/" + name;
    return "";
}

const std::string& runsvProgram() {
    static const std::string program = findOnPath("runsv");
    return program;
}

void writeExecutable(const std::string& path, const std::string& text) {
    Test::writeFile(path, text);
    fs::permissions(path, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                              fs::perms::others_read | fs::perms::others_exec);
}

// A supervised application that does nothing: it waits for signals until one ends it.
const char* const kPythonScript = "#!/usr/bin/env python3\n"
                                  "import signal\n"
                                  "while True:\n"
                                  "    signal.pause()\n";

// The interpreter that the script's "env python3" finds: a folder of its own first on PATH,
// so that a version manager's shim (a shell script starting another program) is not timed.
class PythonOnPath {
public:
    PythonOnPath(const Test::Installation& site, const std::string& interpreter)
        : folder_(site.path("python-on-path")),
          path_("PATH",
                folder_ + ":" + std::string(std::getenv("PATH") ? std::getenv("PATH") : "")) {
        fs::create_directories(folder_);
        fs::create_symlink(interpreter, folder_ + "/python3");
    }

private:
    std::string folder_;
    Test::ScopedEnv path_;
};

std::string chooseInterpreter(const Options& options) {
    if (!options.python.empty())
        return options.python;
    if (::access("/usr/bin/python3", X_OK) == 0)
        return "/usr/bin/python3";
    return findOnPath("python3");
}

bool allAnswering(Test::Installation& site, const std::vector<Test::ListedApp>& apps) {
    for (const auto& app : apps)
        if (!site.waitUntilAnswering(app.name, std::chrono::seconds(60)))
            return false;
    return true;
}

std::vector<Test::ListedApp> demoApps(Test::Installation& site, const std::string& stem,
                                      int count) {
    std::vector<Test::ListedApp> apps;
    for (int index = 0; index < count; ++index) {
        apps.push_back({stem + std::to_string(index)});
        site.installDemo(apps.back().name);
    }
    return apps;
}

// The supervisor, with what it and its applications write kept out of the bench's output.
Test::ChildProcess& startWardex(Test::Installation& site) {
    Test::ChildProcess::Options options;
    options.outputFile = site.path("wardex-output.txt");
    options.errorFile = site.path("wardex-errors.txt");
    return site.startWardex({}, options);
}

// The supervisor measures itself, not its debug log.
void quietLog(Test::Installation& site, const std::vector<Test::ListedApp>& apps) {
    site.writeConfig(apps, 0);
    site.setMarker("StartupDebugLevel", 0);
}

// runsv on a service folder whose run file is the script `run`, or a copy of `program`.
std::unique_ptr<Test::ChildProcess> startRunsv(const std::string& service, const std::string& run,
                                               const std::string& program = "") {
    fs::create_directories(service);
    if (program.empty())
        writeExecutable(service + "/run", run);
    else
        fs::copy_file(program, service + "/run");
    Test::ChildProcess::Options options;
    options.outputFile = service + "-output.txt";
    options.errorFile = service + "-errors.txt";
    return std::make_unique<Test::ChildProcess>(runsvProgram(), std::vector<std::string>{service},
                                                options);
}

// SIGTERM, as "sv exit": runsv stops the service and ends.
void stopRunsv(Test::ChildProcess& runsv) {
    runsv.askToClose();
    if (!runsv.waitForExit(std::chrono::seconds(20)))
        runsv.kill();
}

// ---- idle ---------------------------------------------------------------------------------

void printIdle(const char* who, int apps, const IdleFigures& figures) {
    std::printf("%s idle with %d applications for %.1f s: CPU %.3f %% of a core, %.2f wake-ups/s, "
                "RSS %ld kB\n",
                who, apps, figures.seconds, figures.cpuPercent, figures.wakeups,
                figures.residentKilobytes);
}

// wardex and one runsv per application side by side over the same period, so that what else
// the machine does weighs on both alike.
bool idleSection(const Options& options) {
    std::printf("\n== idle: %d applications, %d s ==\n", options.apps, options.idleSeconds);
    std::optional<IdleFigures> wardexIdle, runitIdle;
    Test::Installation site;
    const auto apps = demoApps(site, "IdleApp", options.apps);
    quietLog(site, apps);
    const auto started = Clock::now();
    Test::ChildProcess& wardex = startWardex(site);
    const auto allRunning = [&] {
        const auto running = runningFirstWords();
        for (const auto& app : apps)
            if (!running.count(site.binDirectory() + "/" + app.name))
                return false;
        return true;
    };
    if (!Test::waitFor(allRunning, std::chrono::seconds(120))) {
        std::printf("not all applications came up under wardex\n");
        return false;
    }
    const double startSeconds = secondsSince(started);
    std::printf("wardex: start to all %d running: %.3f s\n", options.apps, startSeconds);
    addRow("idle", "start to all " + std::to_string(options.apps) + " running",
           fixed("%.3f s", startSeconds));

    std::vector<std::unique_ptr<Test::ChildProcess>> services;
    std::vector<uint32_t> pids{wardex.processId()};
    std::vector<Test::ListedApp> runitApps;
    if (runsvProgram().empty()) {
        std::printf("runit: runsv is not installed (apt-get install runit)\n");
    } else {
        runitApps = demoApps(site, "RunitApp", options.apps);
        // runsv always runs "./run": a one-line script hands over to the program by its own
        // name, which is the demo's id, so that they do not all take one mailslot.
        for (const auto& app : runitApps) {
            services.push_back(
                startRunsv(site.path("runit/" + app.name),
                           "#!/bin/sh\nexec '" + site.binDirectory() + "/" + app.name + "'\n"));
            pids.push_back(services.back()->processId());
        }
    }
    if (!allAnswering(site, apps) || !allAnswering(site, runitApps)) {
        std::printf("not all applications answer\n");
    } else {
        const auto [before, after] = sampleAcross(pids, options.idleSeconds);
        std::printf("wardex threads over the idle period:\n");
        wardexIdle = idleDifference({before.front()}, {after.front()}, true);
        wardexIdle->residentKilobytes = residentKilobytes(pids.front());
        printIdle("wardex", options.apps, *wardexIdle);
        if (!services.empty()) {
            runitIdle = idleDifference({before.begin() + 1, before.end()},
                                       {after.begin() + 1, after.end()}, false);
            for (std::size_t index = 1; index < pids.size(); ++index)
                runitIdle->residentKilobytes += residentKilobytes(pids[index]);
            printIdle("runsv (all of them)", options.apps, *runitIdle);
        }
    }
    for (auto& runsv : services)
        stopRunsv(*runsv);

    const auto column = [](const std::optional<IdleFigures>& figures, auto pick) {
        return figures ? pick(*figures) : std::string("-");
    };
    const std::string period = " (" + std::to_string(options.apps) + " apps, " +
                               std::to_string(options.idleSeconds) + " s)";
    const auto cpu = [](const IdleFigures& f) { return fixed("%.3f %% of a core", f.cpuPercent); };
    const auto wakeups = [](const IdleFigures& f) { return fixed("%.2f /s", f.wakeups); };
    const auto memory = [](const IdleFigures& f) {
        return fixed("%.0f kB", static_cast<double>(f.residentKilobytes));
    };
    addRow("idle", "CPU while idle" + period, column(wardexIdle, cpu), column(runitIdle, cpu));
    addRow("idle", "wake-ups while idle" + period, column(wardexIdle, wakeups),
           column(runitIdle, wakeups));
    addRow("idle", "resident memory (runsv: all of them)", column(wardexIdle, memory),
           column(runitIdle, memory));
    return wardexIdle.has_value();
}

// ---- restart ------------------------------------------------------------------------------

double percentile(std::vector<double> values, double share) {
    std::sort(values.begin(), values.end());
    const std::size_t index =
        std::min(values.size() - 1, static_cast<std::size_t>(share * (values.size() - 1) + 0.5));
    return values[index];
}

std::string latencyText(const std::vector<double>& seconds) {
    if (seconds.empty())
        return "no restart measured";
    char text[160];
    std::snprintf(text, sizeof text, "median %.2f, p90 %.2f, min %.2f, max %.2f ms (n=%zu)",
                  1000 * percentile(seconds, 0.5), 1000 * percentile(seconds, 0.9),
                  1000 * *std::min_element(seconds.begin(), seconds.end()),
                  1000 * *std::max_element(seconds.begin(), seconds.end()), seconds.size());
    return text;
}

// The first word of /proc/PID/syscall: the number of the call it is blocked in, "running", or
// "" when it cannot be read.
std::string blockedIn(uint32_t pid) {
    std::istringstream text(readSmallFile("/proc/" + std::to_string(pid) + "/syscall"));
    std::string word;
    text >> word;
    return word;
}

bool isNumber(const std::string& word) {
    return !word.empty() && std::all_of(word.begin(), word.end(),
                                        [](char byte) { return byte >= '0' && byte <= '9'; });
}

// The call the script's process waits in once it is through its start-up; "" when the kernel
// does not tell.
std::string settledCall(uint32_t pid) {
    std::string call;
    Test::waitFor(
        [&] {
            const std::string first = blockedIn(pid);
            if (!isNumber(first))
                return first.empty();
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            if (blockedIn(pid) == first)
                call = first;
            return !call.empty();
        },
        std::chrono::seconds(20));
    return call;
}

struct Latencies {
    std::vector<double> running;  // kill to the new process running the program
    std::vector<double> sleeping; // scripts: kill to the new process waiting in the script
};

// One supervised program whose process is killed again and again.
struct Subject {
    Subject(std::string name, uint32_t supervisorId, Program file)
        : label(std::move(name)), supervisor(supervisorId), program(std::move(file)) {}

    std::string label;
    uint32_t supervisor = 0;
    Program program;
    uint32_t current = 0; // its running process
    std::string waitCall; // scripts: the call it waits in once started
    bool failed = false;
    Latencies latencies;
};

// Finds the subject's one process, and for a script the call it settles in.
void prepare(Subject& subject) {
    std::vector<uint32_t> found;
    if (!Test::waitFor(
            [&] { return (found = processesOf(subject.program, subject.supervisor)).size() == 1; },
            std::chrono::seconds(30))) {
        std::printf("%s: no single process of the program\n", subject.label.c_str());
        subject.failed = true;
        return;
    }
    subject.current = found.front();
    if (subject.program.script)
        subject.waitCall = settledCall(subject.current);
}

// Kills the subject's process and times until a new one runs. Only processes that appear
// after the kill are read, so that the table is scanned quickly while the supervisor works.
void killOnce(Subject& subject) {
    const auto known = allProcesses();
    const std::unordered_set<uint32_t> before(known.begin(), known.end());
    ::kill(static_cast<pid_t>(subject.current), SIGKILL);
    const auto killed = Clock::now();
    const auto deadline = killed + std::chrono::seconds(10);
    uint32_t fresh = 0;
    while (fresh == 0 && Clock::now() < deadline) {
        for (const uint32_t pid : allProcesses()) {
            if (before.count(pid))
                continue;
            const auto stat = statOf(pid);
            if (stat && stat->parent == subject.supervisor && stat->state != 'Z' &&
                subject.program.runsAs(argumentsOf(pid))) {
                fresh = pid;
                break;
            }
        }
        if (fresh == 0)
            std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
    if (fresh == 0) {
        std::printf("%s: not restarted within 10 s\n", subject.label.c_str());
        subject.failed = true;
        return;
    }
    subject.latencies.running.push_back(secondsSince(killed));
    if (!subject.waitCall.empty()) {
        while (blockedIn(fresh) != subject.waitCall && Clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::microseconds(100));
        if (blockedIn(fresh) == subject.waitCall)
            subject.latencies.sleeping.push_back(secondsSince(killed));
    }
    subject.current = fresh;
}

// Takes turns over the subjects, so that a change in the machine's load weighs on all alike.
// Each one's kills come well apart: past runsv's one second for a service that ended quickly,
// and wardex's pacing gap, as crashes do not come at once either.
void killInTurns(std::vector<Subject>& subjects, int kills) {
    for (Subject& subject : subjects)
        prepare(subject);
    // Between two kills of one subject come the kills of all the others, and each process has
    // run past ten seconds when it is killed: a shorter run's restart is backed off on purpose
    // (as runsv waits out a second), which is not what this measures.
    const auto cycle = std::chrono::milliseconds(10500);
    const auto gap = cycle / std::max<long>(1, static_cast<long>(subjects.size()));
    std::this_thread::sleep_for(cycle);
    for (int kill = 0; kill < kills; ++kill)
        for (Subject& subject : subjects) {
            if (subject.failed)
                continue;
            killOnce(subject);
            std::this_thread::sleep_for(gap);
        }
}

void printLatencies(const Subject& subject) {
    std::printf("%s: kill to %s: %s\n", subject.label.c_str(),
                subject.program.script ? "interpreter running it" : "running",
                latencyText(subject.latencies.running).c_str());
    if (subject.program.script)
        std::printf("%s: kill to script waiting: %s\n", subject.label.c_str(),
                    latencyText(subject.latencies.sleeping).c_str());
}

bool restartSection(const Options& options) {
    std::printf("\n== restart: %d kills each ==\n", options.kills);
    const std::string interpreter = chooseInterpreter(options);
    if (interpreter.empty())
        std::printf("no python3 found: the script child is left out\n");
    else
        std::printf("python3 for the script: %s\n", fs::canonical(interpreter).c_str());
    LeftoverKiller leftovers;
    Test::Installation site;
    std::optional<PythonOnPath> python;
    if (!interpreter.empty())
        python.emplace(site, interpreter);
    // The killed application is one of several, as in an installation.
    auto apps = demoApps(site, "RestartApp", options.apps);
    const Program demo{site.binDirectory() + "/" + apps.front().name};
    // The script twice: its output through the supervisor's pipe into its file, and inherited.
    const Program script{site.binDirectory() + "/RestartScript", true};
    const Program inheriting{site.binDirectory() + "/RestartScriptInherit", true};
    leftovers.watch(script);
    leftovers.watch(inheriting);
    if (python) {
        writeExecutable(script.file, kPythonScript);
        writeExecutable(inheriting.file, kPythonScript);
        apps.push_back({"RestartScript", true, true, {{"output(String)", "file"}}});
        apps.push_back({"RestartScriptInherit", true, true, {{"output(String)", "inherit"}}});
    }
    quietLog(site, apps);
    const uint32_t wardex = startWardex(site).processId();

    // runsv beside it, on the same programs: its run file is a copy of each.
    std::unique_ptr<Test::ChildProcess> runitDemo, runitScript;
    const bool runit = !runsvProgram().empty();
    if (!runit) {
        std::printf("runit: runsv is not installed (apt-get install runit)\n");
    } else {
        runitDemo = startRunsv(site.path("runit-demo"), "", Test::helperProgramPath("kalvor-demo"));
        if (python)
            runitScript = startRunsv(site.path("runit-script"), kPythonScript);
    }
    std::vector<Subject> subjects;
    subjects.emplace_back("wardex, demo", wardex, demo);
    if (runitDemo)
        subjects.emplace_back("runsv, demo", runitDemo->processId(), Program{"./run"});
    if (python) {
        subjects.emplace_back("wardex, python3 script", wardex, script);
        subjects.emplace_back("wardex, python3 script, output inherited", wardex, inheriting);
    }
    if (runitScript)
        subjects.emplace_back("runsv, python3 script", runitScript->processId(),
                              Program{"./run", true});
    killInTurns(subjects, options.kills);
    for (const Subject& subject : subjects)
        printLatencies(subject);
    for (auto* runsv : {runitDemo.get(), runitScript.get()})
        if (runsv)
            stopRunsv(*runsv);

    const auto find = [&](const std::string& label) -> const Subject* {
        for (const Subject& subject : subjects)
            if (subject.label == label)
                return &subject;
        return nullptr;
    };
    const auto column = [&](const std::string& label, bool sleeping) {
        const Subject* subject = find(label);
        if (!subject)
            return std::string("-");
        return latencyText(sleeping ? subject->latencies.sleeping : subject->latencies.running);
    };
    addRow("restart", "demo: kill to running", column("wardex, demo", false),
           column("runsv, demo", false));
    if (python) {
        addRow("restart", "python3 script: kill to interpreter running it",
               column("wardex, python3 script", false), column("runsv, python3 script", false));
        addRow("restart", "  the same, output inherited (wardex)",
               column("wardex, python3 script, output inherited", false), "-");
        addRow("restart", "python3 script: kill to script waiting",
               column("wardex, python3 script", true), column("runsv, python3 script", true));
    }
    bool complete = true;
    for (const Subject& subject : subjects)
        complete =
            complete && subject.latencies.running.size() == static_cast<std::size_t>(options.kills);
    return complete;
}

// ---- sigterm ------------------------------------------------------------------------------

// Seconds until the process ends, watched through a pidfd so that the moment is exact; the
// child is reaped afterwards.
std::optional<double> secondsToExit(Test::ChildProcess& child, int signal,
                                    std::chrono::seconds timeout) {
    const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, child.processId(), 0));
    const auto sent = Clock::now();
    ::kill(static_cast<pid_t>(child.processId()), signal);
    std::optional<double> seconds;
    if (pidfd >= 0) {
        pollfd ended{pidfd, POLLIN, 0};
        int ready;
        do {
            ready = ::poll(&ended, 1, static_cast<int>(timeout.count() * 1000));
        } while (ready < 0 && errno == EINTR);
        if (ready > 0)
            seconds = secondsSince(sent);
        ::close(pidfd);
        child.waitForExit(std::chrono::seconds(1));
    } else if (child.waitForExit(timeout)) {
        seconds = secondsSince(sent); // to within the polling step
    }
    return seconds;
}

bool sigtermSection(const Options& options) {
    std::printf("\n== sigterm: %d applications, %d runs ==\n", options.apps, options.sigtermRuns);
    std::vector<double> exits, gone;
    for (int run = 0; run < options.sigtermRuns; ++run) {
        Test::Installation site;
        const auto apps = demoApps(site, "TermApp", options.apps);
        quietLog(site, apps);
        Test::ChildProcess& wardex = startWardex(site);
        if (!allAnswering(site, apps)) {
            std::printf("run %d: not all applications answer\n", run + 1);
            continue;
        }
        const auto sent = Clock::now();
        const auto exit = secondsToExit(wardex, SIGTERM, std::chrono::seconds(60));
        const auto anyLeft = [&] {
            const auto running = runningFirstWords();
            std::size_t left = 0;
            for (const auto& app : apps)
                left += running.count(site.binDirectory() + "/" + app.name);
            return left;
        };
        const bool allGone =
            Test::waitFor([&] { return anyLeft() == 0; }, std::chrono::seconds(20));
        const double goneSeconds = secondsSince(sent);
        if (!exit) {
            std::printf("run %d: wardex did not exit within 60 s\n", run + 1);
            continue;
        }
        exits.push_back(*exit);
        std::printf("run %d: SIGTERM to exit %.3f s; ", run + 1, *exit);
        if (allGone) {
            gone.push_back(goneSeconds);
            std::printf("all %d applications gone after %.3f s\n", options.apps, goneSeconds);
        } else {
            std::printf("%zu applications still running after 20 s\n", anyLeft());
        }
    }
    const auto median = [](const std::vector<double>& values) {
        return values.empty() ? std::string("-")
                              : fixed("%.3f s", percentile(values, 0.5)) +
                                    " (n=" + std::to_string(values.size()) + ")";
    };
    std::printf("SIGTERM to exit: median %s; to all applications gone: median %s\n",
                median(exits).c_str(), median(gone).c_str());
    const std::string apps = " (" + std::to_string(options.apps) + " apps)";
    addRow("sigterm", "SIGTERM to supervisor exit" + apps, median(exits));
    addRow("sigterm", "SIGTERM to all apps gone" + apps, median(gone));
    return exits.size() == static_cast<std::size_t>(options.sigtermRuns);
}

// ---- startup ------------------------------------------------------------------------------

bool startupSection(const Options& options) {
    std::printf("\n== startup: inactive applications listed ==\n");
    bool all = true;
    for (const int count : options.startupApps) {
        Test::Installation site;
        std::vector<Test::ListedApp> apps;
        apps.reserve(static_cast<std::size_t>(count));
        for (int index = 0; index < count; ++index)
            apps.push_back({"Listed" + std::to_string(index), false});
        quietLog(site, apps);
        const auto bytes = fs::file_size(site.configFile());
        const auto started = Clock::now();
        Test::ChildProcess& wardex = startWardex(site);
        bool ended = false;
        const bool noticed =
            Test::waitFor(
                [&] {
                    ended = wardex.exitCode().has_value();
                    return ended || site.logText().find("Wardex started") != std::string::npos;
                },
                std::chrono::seconds(options.startupTimeoutSeconds)) &&
            !ended;
        const double seconds = secondsSince(started);
        std::string figure;
        if (noticed) {
            const auto stat = statOf(wardex.processId());
            std::printf("%d listed (%.1f MB of configuration): start to \"Wardex started\" "
                        "%.3f s, CPU %.3f s, RSS %ld kB\n",
                        count, static_cast<double>(bytes) / 1e6, seconds,
                        stat ? stat->cpuSeconds : 0.0, residentKilobytes(wardex.processId()));
            figure = fixed("%.3f s", seconds) +
                     (stat ? fixed(" (CPU %.3f s)", stat->cpuSeconds) : std::string());
        } else {
            std::printf("%d listed: %s after %.1f s\n", count,
                        ended ? "wardex ended without the notice" : "no notice", seconds);
            figure = ended ? "ended early" : fixed("> %.0f s", seconds);
            all = false;
        }
        addRow("startup", std::to_string(count) + " inactive listed: start to notice", figure);
        // Nothing was started: there is nothing to stop in order.
        wardex.kill();
    }
    return all;
}

// ---- adopt --------------------------------------------------------------------------------

// Applications the supervisor reports running, by name, with their process ids.
std::map<std::string, uint32_t> reportedRunning() {
    std::map<std::string, uint32_t> running;
    Test::ChildProcess status(Test::helperProgramPath("wardexctl"), {"status", "--json"},
                              Test::ChildProcess::capturing(true));
    std::istringstream lines(status.readToEnd(std::chrono::seconds(10)));
    status.waitForExit(std::chrono::seconds(5));
    const std::string nameField = "\"name\": \"", pidField = "\"pid\": ";
    for (std::string line; std::getline(lines, line);) {
        const std::size_t name = line.find(nameField);
        const std::size_t pid = line.find(pidField);
        if (name == std::string::npos || pid == std::string::npos ||
            line.find("\"state\": \"running\"") == std::string::npos)
            continue;
        const std::size_t start = name + nameField.size();
        running[line.substr(start, line.find('"', start) - start)] =
            static_cast<uint32_t>(std::strtoul(line.c_str() + pid + pidField.size(), nullptr, 10));
    }
    return running;
}

bool adoptSection(const Options& options) {
    std::printf("\n== adopt: %d running applications ==\n", options.adoptApps);
    Test::Installation site;
    const auto apps = demoApps(site, "Adopted", options.adoptApps);
    quietLog(site, apps);
    Test::ChildProcess& first = startWardex(site);
    std::map<std::string, uint32_t> pids;
    for (const auto& app : apps) {
        std::optional<Test::ProcessInfo> info;
        Test::waitFor([&] { return (info = site.askProcessInfo(app.name)).has_value(); },
                      std::chrono::seconds(60));
        if (!info) {
            std::printf("%s does not answer\n", app.name.c_str());
            return false;
        }
        pids[app.name] = info->processId;
    }
    first.kill();
    const auto restarted = Clock::now();
    startWardex(site);
    const bool all = Test::waitFor(
        [&] {
            if (reportedRunning() == pids)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            return false;
        },
        std::chrono::seconds(120));
    const double seconds = secondsSince(restarted);
    std::printf("%d running applications adopted after a restart: %s in %.3f s\n",
                options.adoptApps, all ? "all" : "NOT all", seconds);
    addRow("adopt", std::to_string(options.adoptApps) + " running adopted after a restart",
           all ? fixed("%.3f s", seconds) : "not all");
    return all;
}

// ---- main ---------------------------------------------------------------------------------

// The machine's load: figures taken beside other work are not the supervisor's alone.
std::string loadAverage() {
    std::istringstream text(readSmallFile("/proc/loadavg"));
    std::string one, five, fifteen;
    text >> one >> five >> fifteen;
    return one + " " + five + " " + fifteen;
}

void printSummary(const std::string& loadAtStart) {
    std::size_t widths[3] = {7, 6, 6};
    for (const Row& row : summary) {
        widths[0] = std::max(widths[0], row.section.size());
        widths[1] = std::max(widths[1], row.figure.size());
        widths[2] = std::max(widths[2], row.wardex.size());
    }
    const auto line = [&](const std::string& a, const std::string& b, const std::string& c,
                          const std::string& d) {
        std::printf("%-*s  %-*s  %-*s  %s\n", static_cast<int>(widths[0]), a.c_str(),
                    static_cast<int>(widths[1]), b.c_str(), static_cast<int>(widths[2]), c.c_str(),
                    d.c_str());
    };
    std::printf("\n== summary ==\n");
    line("SECTION", "FIGURE", "WARDEX", runsvProgram().empty() ? "RUNSV (not installed)" : "RUNSV");
    for (const Row& row : summary)
        line(row.section, row.figure, row.wardex, row.runit);
    std::printf("load average (1, 5, 15 min) at start: %s, at end: %s; %ld cores\n",
                loadAtStart.c_str(), loadAverage().c_str(), sysconf(_SC_NPROCESSORS_ONLN));
}

const char* const kUsage =
    "usage: wardex-bench [SECTION...] [--kills=N] [--idle-seconds=S] [--apps=N]\n"
    "                    [--sigterm-runs=N] [--startup-apps=N[,N...]] [--startup-timeout=S]\n"
    "                    [--adopt-apps=N] [--python=PATH]\n"
    "sections: idle restart sigterm startup adopt (all when none is named)\n"
    "two bare numbers are the kills and the idle seconds\n";

std::optional<Options> parseOptions(int argc, char** argv) {
    Options options;
    int bareNumbers = 0;
    for (int index = 1; index < argc; ++index) {
        const std::string word = argv[index];
        const std::size_t equals = word.find('=');
        const std::string name = word.substr(0, equals);
        const std::string value = equals == std::string::npos ? "" : word.substr(equals + 1);
        const int number = std::atoi(value.c_str());
        if (std::find(std::begin(kSections), std::end(kSections), word) != std::end(kSections))
            options.sections.insert(word);
        else if (isNumber(word) && bareNumbers < 2)
            (bareNumbers++ == 0 ? options.kills : options.idleSeconds) = std::atoi(word.c_str());
        else if (name == "--kills" && number > 0)
            options.kills = number;
        else if (name == "--idle-seconds" && number > 0)
            options.idleSeconds = number;
        else if (name == "--apps" && number > 0)
            options.apps = number;
        else if (name == "--sigterm-runs" && number > 0)
            options.sigtermRuns = number;
        else if (name == "--startup-timeout" && number > 0)
            options.startupTimeoutSeconds = number;
        else if (name == "--adopt-apps" && number > 0)
            options.adoptApps = number;
        else if (name == "--python" && !value.empty())
            options.python = value;
        else if (name == "--startup-apps" && !value.empty()) {
            options.startupApps.clear();
            std::istringstream counts(value);
            for (std::string count; std::getline(counts, count, ',');)
                if (std::atoi(count.c_str()) > 0)
                    options.startupApps.push_back(std::atoi(count.c_str()));
        } else {
            return std::nullopt;
        }
    }
    if (options.sections.empty())
        options.sections.insert(std::begin(kSections), std::end(kSections));
    return options;
}

} // namespace

int main(int argc, char** argv) {
    const auto options = parseOptions(argc, argv);
    if (!options) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    // Lines as they come: a long run is watched while it goes.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const std::string loadAtStart = loadAverage();
    bool complete = true;
    const auto run = [&](const char* section, bool (*measure)(const Options&)) {
        if (options->sections.count(section))
            complete = measure(*options) && complete;
    };
    run("idle", idleSection);
    run("restart", restartSection);
    run("sigterm", sigtermSection);
    run("startup", startupSection);
    run("adopt", adoptSection);
    printSummary(loadAtStart);
    return complete ? 0 : 1;
}
