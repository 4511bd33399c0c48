// Several processes writing one log file with size rotation: every line is kept whole, once,
// and in its writer's order across the log and its rotated files.
#include "JobInstance/ProcessInstance.h"
#include "LoggerTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <regex>

namespace Kalvor {
namespace {

constexpr int kWriters = 8;
constexpr int kLinesEach = 10000;

// The rotated files ("<label>_<time>_<counter>.log") by counter, then the log itself.
std::vector<std::string> filesInWritingOrder(const Kalvor::Test::LoggerSandbox& sandbox) {
    const std::regex rotated(sandbox.label() + "_\\d{8}T\\d{6}Z_(\\d+)\\.log");
    std::vector<std::pair<long, std::string>> numbered;
    for (const std::string& name : Kalvor::Test::fileNames(sandbox.folder())) {
        std::smatch match;
        if (std::regex_match(name, match, rotated))
            numbered.emplace_back(std::stol(match[1]), name);
    }
    std::sort(numbered.begin(), numbered.end());
    std::vector<std::string> files;
    for (const auto& [counter, name] : numbered)
        files.push_back(sandbox.file(name));
    files.push_back(sandbox.logPath());
    return files;
}

bool isWriterEvent(const std::string& line) {
    static const char* const prefixes[] = {"Opened log file ",    "Closing log file ",
                                           "\nRotate condition",  "\nRotation process",
                                           "Renaming file from ", "Log continued from "};
    if (line.empty())
        return true;
    for (const char* prefix : prefixes) {
        if (line.rfind(prefix, 0) == 0)
            return true;
    }
    return false;
}

TEST(SharedLogTest, EightProcessesRotatingOneFileKeepEveryLineOnceAndInOrder) {
    Kalvor::Test::LoggerSandbox sandbox;
    std::vector<std::unique_ptr<ProcessInstance>> writers;
    for (int tag = 0; tag < kWriters; ++tag) {
        const std::string arguments = "\"" + sandbox.logPath() + "\" " + sandbox.label() + " " +
                                      std::to_string(tag) + " " + std::to_string(kLinesEach) + " 1";
        writers.push_back(std::make_unique<ProcessInstance>(
            Kalvor::Test::helperProgramPath("kalvor-log-writer"), arguments, true));
        writers.back()->setStopWhenDestroyed(true); // no writer outlives a failed test
        writers.back()->execute();
    }
    ASSERT_TRUE(Kalvor::Test::waitFor(
        [&] {
            return std::none_of(writers.begin(), writers.end(),
                                [](const auto& job) { return job->status() == JobRunning; });
        },
        std::chrono::seconds(110)));
    for (const auto& job : writers) {
        int32_t exitCode = -1;
        ASSERT_EQ(job->exitCode(exitCode), 0);
        EXPECT_EQ(exitCode, 0) << "lines that could not be written";
    }

    const std::vector<std::string> files = filesInWritingOrder(sandbox);
    const std::regex written("P(\\d+) L(\\d+) x+");
    std::map<int, int> next;
    int foreign = 0;
    int failedRotations = 0;
    for (const std::string& file : files) {
        for (const std::string& line : Kalvor::Test::logLines(file)) {
            std::smatch match;
            if (std::regex_match(line, match, written) && line.size() % 100 == 0) {
                const int tag = std::stoi(match[1]);
                const int n = std::stoi(match[2]);
                EXPECT_EQ(n, next[tag]) << "writer " << tag << " in " << file;
                next[tag] = n + 1;
            } else if (line.rfind("Log file rotation error. (", 0) == 0) {
                ++failedRotations;
            } else if (!isWriterEvent(line)) {
                if (++foreign <= 5)
                    ADD_FAILURE() << "torn or foreign line in " << file << ": " << line;
            }
        }
    }
    EXPECT_EQ(foreign, 0);
    // 8 MB at 1 MB: posix renames a file that others hold open; Windows refuses while they do,
    // and every writer then records its failed attempt.
    EXPECT_TRUE(files.size() > 2 || failedRotations > 0) << files.size() << " files";
    for (int tag = 0; tag < kWriters; ++tag)
        EXPECT_EQ(next[tag], kLinesEach) << "writer " << tag;
}

} // namespace
} // namespace Kalvor
