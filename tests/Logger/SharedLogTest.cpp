// Several processes writing one log file with rotation: every line is kept whole, once, and in
// its writer's order across the log and its rotated files, and a process whose file another one
// rotated away writes on in the live file.
#include "ChildProcess.h"
#include "Logger/LogFileWriter.h"
#include "Logger/LogRotation.h"
#include "LoggerTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <regex>

namespace Kalvor {
namespace {

constexpr int kWriters = 8;
constexpr int kLinesEach = 10000;
constexpr uint64_t kMegabyte = 1048576;

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// Starts the writer program with its arguments after the log's path and label; no writer
// outlives a failed test.
Kalvor::Test::ChildProcess startWriter(const Kalvor::Test::LoggerSandbox& sandbox,
                                       std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), {sandbox.logPath(), sandbox.writerLabel()});
    return Kalvor::Test::ChildProcess(Kalvor::Test::helperProgramPath("kalvor-log-writer"),
                                      arguments);
}

// Waits for the writers to end; true when each wrote every line.
bool allLinesWritten(std::vector<Kalvor::Test::ChildProcess>& writers) {
    const bool ended = Kalvor::Test::waitFor(
        [&] {
            return std::all_of(writers.begin(), writers.end(),
                               [](auto& writer) { return writer.exitCode().has_value(); });
        },
        std::chrono::seconds(110));
    EXPECT_TRUE(ended) << "writers still running";
    bool written = ended;
    for (auto& writer : writers) {
        EXPECT_EQ(writer.exitCode(), 0) << "lines that could not be written";
        written = written && writer.exitCode() == 0;
    }
    return written;
}

// The rotated files ("<label>_<time>_<counter>.log") by counter, then the log itself.
std::vector<std::string> filesInWritingOrder(const Kalvor::Test::LoggerSandbox& sandbox) {
    const std::regex rotated(sandbox.writerLabel() + "_\\d{8}T\\d{6}Z_(\\d+)\\.log");
    std::vector<std::pair<long, std::string>> numbered;
    for (const std::string& name : Kalvor::Test::fileNames(sandbox.path())) {
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
    std::vector<Kalvor::Test::ChildProcess> writers;
    for (int tag = 0; tag < kWriters; ++tag)
        writers.push_back(
            startWriter(sandbox, {std::to_string(tag), std::to_string(kLinesEach), "1"}));
    ASSERT_TRUE(allLinesWritten(writers));

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
    // 8 MB at 1 MB, renamed while the others hold the file open, on Windows too.
    EXPECT_GT(files.size(), 2u);
    EXPECT_EQ(failedRotations, 0);
    for (int tag = 0; tag < kWriters; ++tag)
        EXPECT_EQ(next[tag], kLinesEach) << "writer " << tag;
}

// This process holds the log open, opened under an old stored time, when a second writer
// process rotates it: a second supervisor starting with "init", or a writer whose size check
// falls due. This process's later lines go to the live file, and its own next rotation names
// the archive after the live file's opened time.
TEST(SharedLogTest, AfterAnotherProcessRotatedTheLogThisOneWritesOnInTheLiveFile) {
    struct Case {
        int32_t scheme;
        std::vector<std::string> writerArguments; // TAG COUNT SIZE_MB [init]
        uint64_t grownTo;                         // the log's size before the other process writes
    };
    const Case cases[] = {
        {LogRotation::kInit, {"1", "5", "0", "init"}, 0},
        {LogRotation::kSize, {"1", "5", "1"}, kMegabyte},
    };
    const std::string oldStamp = "_20071024T092329Z_";
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.writerArguments));
        Kalvor::Test::LoggerSandbox sandbox;
        const std::string path = sandbox.logPath();
        Kalvor::Test::writeFile(path, "from an earlier run\r\n");
        sandbox.setRegistryValue("LogOpened", "2007-10-24T09:23:29Z");
        LogRotation::setScheme(c.scheme);
        LogRotation::setSizeLimit(1);
        LogRotation::setInitRotationPending(false); // this process started first
        LogFileWriter writer(path);
        ASSERT_TRUE(writer.writeLine("mine before"));
        if (c.grownTo > 0)
            Kalvor::Test::resizeFile(path, c.grownTo);

        std::vector<Kalvor::Test::ChildProcess> other;
        other.push_back(startWriter(sandbox, c.writerArguments));
        ASSERT_TRUE(allLinesWritten(other));
        ASSERT_TRUE(writer.writeLine("mine after"));

        const std::string archive = sandbox.writerLabel() + oldStamp + "0.log";
        ASSERT_EQ(Kalvor::Test::fileNames(sandbox.path()),
                  (std::vector<std::string>{sandbox.writerLabel() + ".log", archive}));
        const std::string archived = Kalvor::Test::readFile(sandbox.file(archive));
        EXPECT_TRUE(contains(archived, "mine before\r\n"));
        EXPECT_FALSE(contains(archived, "mine after"));
        const std::string live = Kalvor::Test::readFile(path);
        EXPECT_TRUE(contains(live, "P1 L4 x"));
        EXPECT_TRUE(contains(live, "\r\nOpened log file \"" + path + "\". Time: ")) << live;
        EXPECT_TRUE(contains(live, "mine after\r\n")) << live;

        LogRotation::setScheme(LogRotation::kSize);
        Kalvor::Test::resizeFile(path, kMegabyte);
        ASSERT_TRUE(writer.writeLine("mine rotates"));
        const std::vector<std::string> names = Kalvor::Test::fileNames(sandbox.path());
        ASSERT_EQ(names.size(), 3u);
        EXPECT_FALSE(contains(names[2], oldStamp)) << names[2];
        EXPECT_EQ(Kalvor::Test::readFile(sandbox.file(archive)), archived) << "archive touched";
    }
}

} // namespace
} // namespace Kalvor
