#include "Logger/LogFileWriter.h"

#include "Common/SystemError.h"
#include "Config/ConfReader.h"
#include "JobInstance/SharedLock.h"
#include "Logger/LogDispatcher.h"
#include "Logger/LogMessenger.h"
#include "Logger/LogRotation.h"
#include "Logger/LogSettings.h"
#include "Logger/LoggerUnit.h"
#include "LoggerTestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <future>
#include <regex>
#include <thread>

namespace Kalvor {
namespace {

using Kalvor::Test::fileNames;
using Kalvor::Test::logLines;
using Kalvor::Test::readFile;

constexpr uint64_t kMegabyte = 1048576;

bool startsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

class LogFileWriterTest : public testing::Test {
protected:
    Kalvor::Test::LoggerSandbox sandbox;
    const std::string path = sandbox.logPath();
    const std::string name = sandbox.writerLabel() + ".log";

    // The rotated files beside the log, in name order.
    std::vector<std::string> rotatedFiles() const {
        std::vector<std::string> rotated;
        for (const std::string& file : fileNames(sandbox.path())) {
            if (file != name && startsWith(file, sandbox.writerLabel() + "_"))
                rotated.push_back(file);
        }
        return rotated;
    }

    // An existing log with a known opened time and counter, so rotated names are known.
    void existingLog(const std::string& contents, const char* counter = nullptr) {
        Kalvor::Test::writeFile(path, contents);
        sandbox.setRegistryValue("LogOpened", "2007-10-24T09:23:29Z");
        if (counter != nullptr)
            sandbox.setRegistryValue("LogCounter", counter);
    }

    std::string rotatedName(int32_t counter) const {
        return sandbox.writerLabel() + "_20071024T092329Z_" + std::to_string(counter) + ".log";
    }
};

TEST_F(LogFileWriterTest, FirstLineOpensTheFileWithAnEventLine) {
    {
        LogFileWriter writer(path);
        EXPECT_FALSE(std::filesystem::exists(path)); // nothing is opened before the first line
        ASSERT_TRUE(writer.writeLine("first"));
        ASSERT_TRUE(writer.writeLine("second"));
    }
    const auto lines = logLines(path);
    ASSERT_EQ(lines.size(), 6u) << readFile(path);
    EXPECT_EQ(lines[0], "");
    EXPECT_TRUE(startsWith(lines[1], "Opened log file \"" + path + "\". Time: ")) << lines[1];
    EXPECT_EQ(lines[2], "first");
    EXPECT_EQ(lines[3], "second");
    EXPECT_EQ(lines[4], "");
    EXPECT_TRUE(startsWith(lines[5], "Closing log file \"" + path + "\". Time: ")) << lines[5];
    EXPECT_TRUE(contains(lines[5], ". Reason: Quitting Logger Agent.")) << lines[5];
    // A new file's opened time is kept for the next run, in the stored text form.
    const std::string opened = sandbox.registryValue("LogOpened");
    EXPECT_NO_THROW(DateTime(opened, IsoMode::DateAndTime)) << opened;
}

TEST_F(LogFileWriterTest, AnExistingFileKeepsItsStoredOpenedTime) {
    existingLog("old line\r\n");
    {
        LogFileWriter writer(path);
        ASSERT_TRUE(writer.writeLine("new line"));
    }
    EXPECT_TRUE(startsWith(readFile(path), "old line\r\n\r\nOpened log file"));
    EXPECT_EQ(sandbox.registryValue("LogOpened"), "2007-10-24T09:23:29Z");
}

TEST_F(LogFileWriterTest, SamePathTwiceWritesNothing) {
    LogFileWriter writer(path);
    ASSERT_TRUE(writer.writeLine("line"));
    const std::string before = readFile(path);
    EXPECT_TRUE(writer.setPath(path));
    EXPECT_EQ(readFile(path), before);
    EXPECT_EQ(fileNames(sandbox.path()), std::vector<std::string>{name});
}

TEST_F(LogFileWriterTest, NewPathClosesTheOldFileAndNamesItInTheNewOne) {
    const std::string moved = sandbox.file(sandbox.writerLabel() + "-moved.log");
    {
        LogFileWriter writer(path);
        ASSERT_TRUE(writer.writeLine("before"));
        ASSERT_TRUE(writer.setPath(moved));
        EXPECT_EQ(writer.path(), moved);
        ASSERT_TRUE(writer.writeLine("after"));
    }
    const std::string old = readFile(path);
    EXPECT_TRUE(contains(old, "before\r\n\r\nClosing log file \"" + path + "\". Time: ")) << old;
    EXPECT_TRUE(contains(old, ". Reason: Log file moved to \"" + moved + "\".\r\n")) << old;
    EXPECT_FALSE(contains(old, "after"));
    const auto lines = logLines(moved);
    ASSERT_GE(lines.size(), 5u) << readFile(moved);
    EXPECT_TRUE(startsWith(lines[1], "Opened log file \"" + moved + "\"")) << lines[1];
    EXPECT_EQ(lines[2], "Log continued from \"" + path + "\".");
    EXPECT_EQ(lines[3], "");
    EXPECT_EQ(lines[4], "after");
}

TEST_F(LogFileWriterTest, SizeRotationAtTenMegabytesNotOneByteBelow) {
    LogRotation::setScheme(LogRotation::kSize);
    LogRotation::setSizeLimit(10);
    existingLog("", "0");
    LogFileWriter writer(path);
    ASSERT_TRUE(writer.writeLine("opens the file"));

    Kalvor::Test::resizeFile(path, 10 * kMegabyte - 1);
    ASSERT_TRUE(writer.writeLine("below the limit"));
    EXPECT_TRUE(rotatedFiles().empty());

    Kalvor::Test::resizeFile(path, 10 * kMegabyte);
    ASSERT_TRUE(writer.writeLine("at the limit"));
    ASSERT_EQ(rotatedFiles(), std::vector<std::string>{rotatedName(0)});
    const std::string rotated = readFile(sandbox.file(rotatedName(0)));
    EXPECT_TRUE(contains(rotated, "\nRotate condition: Size10 >= 10\r\n\nRotation process started"
                                  "...\r\nRenaming file from \"" +
                                      path + "\" to \"" + sandbox.file(rotatedName(0)) +
                                      "\".\r\n\r\nClosing log file"));
    EXPECT_TRUE(contains(rotated, "Reason: Rotating log file.\r\n"));
    EXPECT_FALSE(contains(rotated, "at the limit"));
    // The new file starts with the rotated file's name and then the line that was waiting.
    EXPECT_EQ(readFile(path), "Log continued from \"" + rotatedName(0) + "\".\r\nat the limit\r\n");
    EXPECT_EQ(sandbox.registryValue("LogCounter"), "1");
}

TEST_F(LogFileWriterTest, CounterSevenNamesTheFileAndStoresEight) {
    LogRotation::setScheme(LogRotation::kSize);
    LogRotation::setSizeLimit(1);
    existingLog("", "7");
    Kalvor::Test::resizeFile(path, kMegabyte);
    LogFileWriter writer(path);
    ASSERT_TRUE(writer.writeLine("line"));
    EXPECT_EQ(rotatedFiles(), std::vector<std::string>{rotatedName(7)});
    EXPECT_EQ(sandbox.registryValue("LogCounter"), "8");
}

// Every name a rotation looks at is taken, twice over: the first try fails and says why in one
// line, the next line tries again without a word, and the one after finds a free name. Names
// taken by files move the counter on; a failed try takes no value of its own.
TEST_F(LogFileWriterTest, AFailedRotationIsTriedAgainOnTheNextLineAndReportedOnce) {
    LogRotation::setScheme(LogRotation::kSize);
    LogRotation::setSizeLimit(1);
    existingLog("", "7");
    const int32_t firstFree = 7 + 2 * LogFileWriter::kArchiveNameTries;
    for (int32_t counter = 7; counter < firstFree; ++counter)
        Kalvor::Test::writeFile(sandbox.file(rotatedName(counter)), "taken");
    LogFileWriter writer(path);
    ASSERT_TRUE(writer.writeLine("opens the file"));
    Kalvor::Test::resizeFile(path, kMegabyte);

    ASSERT_TRUE(writer.writeLine("first try fails"));
    std::smatch error;
    const std::string log = readFile(path).substr(kMegabyte);
    const std::regex errorLine("\\r\\nLog file rotation error\\. \\((\\d+): ([^\\r]+)\\)\\r\\n");
    ASSERT_TRUE(std::regex_search(log, error, errorLine)) << log;
    const int32_t number = std::stoi(error[1]);
    EXPECT_EQ(systemError(number), std::errc::file_exists) << number;
    EXPECT_EQ(error[2].str(), systemErrorText(number));
    EXPECT_TRUE(contains(log, "\r\nfirst try fails\r\n")) << log;

    ASSERT_TRUE(writer.writeLine("second try fails"));
    EXPECT_EQ(readFile(path).substr(kMegabyte), log + "second try fails\r\n");
    ASSERT_TRUE(writer.writeLine("rotates"));
    ASSERT_EQ(rotatedFiles().size(), firstFree - 7 + 1u);
    const std::string archive = readFile(sandbox.file(rotatedName(firstFree)));
    EXPECT_TRUE(contains(archive, "second try fails\r\n\nRotate condition: Size1 >= 1\r\n"));
    EXPECT_EQ(readFile(path),
              "Log continued from \"" + rotatedName(firstFree) + "\".\r\nrotates\r\n");
    EXPECT_EQ(sandbox.registryValue("LogCounter"), std::to_string(firstFree + 1));
    EXPECT_EQ(readFile(sandbox.file(rotatedName(firstFree - 1))), "taken");

    // The limit is the limit again: no failure raised it.
    Kalvor::Test::resizeFile(path, kMegabyte);
    ASSERT_TRUE(writer.writeLine("rotates again"));
    EXPECT_EQ(sandbox.registryValue("LogCounter"), std::to_string(firstFree + 2));
}

// A file with the next archive's name (left by another run, or named again because the counter
// could not be stored) is never replaced: the counter moves on.
TEST_F(LogFileWriterTest, RotationNeverReplacesAFileWithTheArchiveName) {
    LogRotation::setScheme(LogRotation::kSize);
    LogRotation::setSizeLimit(1);
    existingLog("", "3");
    Kalvor::Test::resizeFile(path, kMegabyte);
    Kalvor::Test::writeFile(sandbox.file(rotatedName(3)), "an earlier archive");
    LogFileWriter writer(path);
    ASSERT_TRUE(writer.writeLine("rotates"));
    EXPECT_EQ(readFile(sandbox.file(rotatedName(3))), "an earlier archive");
    EXPECT_GE(Kalvor::Test::fileSize(sandbox.file(rotatedName(4))), kMegabyte);
    EXPECT_EQ(sandbox.registryValue("LogCounter"), "5");
    EXPECT_TRUE(startsWith(readFile(path), "Log continued from \"" + rotatedName(4) + "\"."));
}

// "log.rotation.keep": the newest archives by the time and counter in their names stay; files
// that only share the log's name start are no archives.
TEST(LogFileWriterArchives, RotationKeepsTheNewestArchivesAsConfigured) {
    struct Case {
        int32_t keep;
        std::size_t archivesLeft;
    };
    for (const Case& c : {Case{0, 10}, Case{-1, 10}, Case{3, 3}}) {
        Kalvor::Test::LoggerSandbox own; // a folder and registry values of its own
        LogRotation::setScheme(LogRotation::kSize);
        LogRotation::setSizeLimit(1);
        LogRotation::setKeptArchives(c.keep);
        const std::string log = own.logPath();
        const std::string notes = own.file(own.writerLabel() + "_notes.log");
        Kalvor::Test::writeFile(notes, "not an archive");
        Kalvor::Test::writeFile(log, "");
        own.setRegistryValue("LogOpened", "2007-10-24T09:23:29Z");
        LogFileWriter writer(log);
        for (int rotation = 0; rotation < 10; ++rotation) {
            Kalvor::Test::resizeFile(log, kMegabyte);
            ASSERT_TRUE(writer.writeLine("rotation " + std::to_string(rotation)));
        }
        std::vector<std::string> archives;
        for (const std::string& file : fileNames(own.path())) {
            if (startsWith(file, own.writerLabel() + "_2"))
                archives.push_back(file);
        }
        ASSERT_EQ(archives.size(), c.archivesLeft) << "keep " << c.keep;
        EXPECT_TRUE(std::filesystem::exists(notes));
        // The newest three are those of the last three rotations, counters 7 to 9.
        if (c.keep == 3) {
            for (const std::string& archive : archives)
                EXPECT_TRUE(contains(archive, "_7.log") || contains(archive, "_8.log") ||
                            contains(archive, "_9.log"))
                    << archive;
        }
    }
}

// Whoever rotates or deletes the file, the next line goes to the file at the path.
TEST_F(LogFileWriterTest, ADeletedLogComesBackOnTheNextLine) {
    LogFileWriter writer(path);
    ASSERT_TRUE(writer.writeLine("before"));
    ASSERT_TRUE(std::filesystem::remove(path));
    if (std::filesystem::exists(path))
        GTEST_SKIP() << "a deleted file keeps its name while it is open here (Wine)";
    ASSERT_TRUE(writer.writeLine("after"));
    const auto lines = logLines(path);
    ASSERT_EQ(lines.size(), 3u) << readFile(path);
    EXPECT_TRUE(startsWith(lines[1], "Opened log file \"" + path + "\". Time: ")) << lines[1];
    EXPECT_EQ(lines[2], "after");
}

// Nothing tells a writer of a rename by another program (no writer's count moves, the file is
// not deleted): it looks at the path within about a second, and no line is lost meanwhile.
TEST_F(LogFileWriterTest, ALogRenamedByAnotherProgramIsLeftWithinASecond) {
    LogFileWriter writer(path);
    ASSERT_TRUE(writer.writeLine("first"));
    const std::string moved = path + ".moved";
    std::filesystem::rename(path, moved);
    int written = 0;
    EXPECT_TRUE(Kalvor::Test::waitFor(
        [&] {
            EXPECT_TRUE(writer.writeLine("line " + std::to_string(++written)));
            return std::filesystem::exists(path);
        },
        std::chrono::seconds(3)));
    const auto lines = logLines(path);
    ASSERT_GE(lines.size(), 3u) << readFile(path);
    EXPECT_TRUE(startsWith(lines[1], "Opened log file \"" + path + "\". Time: ")) << lines[1];
    EXPECT_EQ(lines.back(), "line " + std::to_string(written));
    const std::string before = readFile(moved);
    EXPECT_NE(before.find("first\r\n"), std::string::npos);
    for (int line = 1; line < written; ++line)
        EXPECT_NE(before.find("line " + std::to_string(line) + "\r\n"), std::string::npos)
            << "line " << line << " is in neither file";
}

// The old file is closed only once the new one is open. A path whose parent is a regular file
// cannot be opened, not even by root.
TEST_F(LogFileWriterTest, MovingWhereTheLogCannotBeOpenedKeepsTheLinesInTheOldFile) {
    const std::string blocker = sandbox.file("blocker");
    Kalvor::Test::writeFile(blocker, "a file, not a folder");
    const std::string unusable = blocker + "/" + name;
    LogFileWriter writer(path);
    ASSERT_TRUE(writer.writeLine("before"));
    EXPECT_FALSE(writer.setPath(unusable));
    EXPECT_EQ(writer.path(), path);
    ASSERT_TRUE(writer.writeLine("after"));
    const auto lines = logLines(path);
    ASSERT_EQ(lines.size(), 5u) << readFile(path);
    EXPECT_EQ(lines[2], "before");
    EXPECT_TRUE(startsWith(lines[3], "Log file not moved to \"" + unusable + "\" (")) << lines[3];
    EXPECT_TRUE(contains(lines[3], "); its lines stay in this file.")) << lines[3];
    EXPECT_EQ(lines[4], "after");
    EXPECT_EQ(readFile(blocker), "a file, not a folder");
}

// The rotation keys as the configuration sets them: "size" without a size keeps the default
// limit; only an explicit 0 or less switches the size condition off.
TEST_F(LogFileWriterTest, RotationKeysFromTheConfiguration) {
    // Takes the logger unit's own lines without writing them anywhere.
    class Discarding : public LogMessenger {
    public:
        bool write(const std::string&) override { return true; }
    };
    struct Case {
        const char* keys;
        int32_t sizeLimit;
        int32_t kept;
    };
    const Case cases[] = {
        {"", LogRotation::kDefaultSizeLimit, 0},
        {"size(Integer)=3{} keep(Integer)=5{}", 3, 5},
        {"size(Integer)=0{}", 0, 0},
        {"size(Integer)=-2{} keep(Integer)=-1{}", -2, -1},
    };
    LogSettings settings;
    settings.loggerUnit = std::make_shared<LoggerUnit>(
        std::make_shared<LogDispatcher>(0, std::make_shared<Discarding>()), 0);
    const std::string confPath = sandbox.file("log.conf");
    for (const Case& c : cases) {
        LogRotation::setSizeLimit(7);
        LogRotation::setKeptArchives(7);
        Kalvor::Test::writeFile(confPath, std::string("log()=''{ rotation()=''{ scheme(String)="
                                                      "'size'{} ") +
                                              c.keys + " } }");
        auto reader = std::make_shared<ConfReader>(nullptr);
        reader->buildDOM(confPath);
        settings.configuration = reader;
        ASSERT_TRUE(settings.applyConfiguration());
        EXPECT_EQ(LogRotation::scheme(), LogRotation::kSize) << c.keys;
        EXPECT_EQ(LogRotation::sizeLimit(), c.sizeLimit) << c.keys;
        EXPECT_EQ(LogRotation::keptArchives(), c.kept) << c.keys;
    }
    EXPECT_EQ(LogRotation::kDefaultSizeLimit, 10);
}

TEST_F(LogFileWriterTest, SizeLimitOfZeroNeverRotates) {
    LogRotation::setScheme(LogRotation::kSize);
    for (int32_t limit : {0, -1}) {
        LogRotation::setSizeLimit(limit);
        LogFileWriter writer(path);
        ASSERT_TRUE(writer.writeLine("a"));
        ASSERT_TRUE(writer.writeLine("b"));
    }
    EXPECT_TRUE(rotatedFiles().empty());
}

TEST_F(LogFileWriterTest, InitRotatesAnExistingFileOncePerStart) {
    LogRotation::setScheme(LogRotation::kInit);
    existingLog("from the last run\r\n", "3");
    {
        LogFileWriter writer(path);
        ASSERT_TRUE(writer.writeLine("first"));
        ASSERT_TRUE(writer.writeLine("second"));
    }
    {
        LogFileWriter sameStart(path); // the process has not restarted: no second init rotation
        ASSERT_TRUE(sameStart.writeLine("third"));
    }
    ASSERT_EQ(rotatedFiles(), std::vector<std::string>{rotatedName(3)});
    const std::string rotated = readFile(sandbox.file(rotatedName(3)));
    EXPECT_TRUE(startsWith(rotated, "from the last run\r\n"));
    EXPECT_TRUE(contains(rotated, "\nRotate condition(s): Init\r\n"));
    const std::string log = readFile(path);
    EXPECT_TRUE(startsWith(log, "Log continued from \"" + rotatedName(3) + "\".\r\nfirst\r\n"));
    EXPECT_TRUE(contains(log, "second\r\n"));
    EXPECT_TRUE(contains(log, "third\r\n"));
}

TEST_F(LogFileWriterTest, InitDoesNotRotateAFileThatDidNotExist) {
    LogRotation::setScheme(LogRotation::kInit);
    LogFileWriter writer(path);
    ASSERT_TRUE(writer.writeLine("new file"));
    ASSERT_TRUE(writer.writeLine("still new"));
    EXPECT_TRUE(rotatedFiles().empty());
    EXPECT_FALSE(LogRotation::initRotationPending());
}

TEST_F(LogFileWriterTest, InitWithSizeNeedsBoth) {
    LogRotation::setScheme(LogRotation::kInit | LogRotation::kSize);
    LogRotation::setSizeLimit(1);
    existingLog("small\r\n", "0");
    {
        LogFileWriter writer(path);
        ASSERT_TRUE(writer.writeLine("no rotation: the file is small"));
    }
    EXPECT_TRUE(rotatedFiles().empty());

    LogRotation::setInitRotationPending(true); // as at the next start
    Kalvor::Test::resizeFile(path, kMegabyte);
    LogFileWriter writer(path);
    ASSERT_TRUE(writer.writeLine("rotates"));
    ASSERT_EQ(rotatedFiles().size(), 1u);
    EXPECT_TRUE(contains(readFile(sandbox.file(rotatedFiles()[0])),
                         "\nRotate condition(s): Init AND Size 1 >= 1\r\n"));
}

TEST_F(LogFileWriterTest, TimeRotationAtThePeriodBoundary) {
    LogRotation::setScheme(LogRotation::kTime);
    LogRotation::setPeriod(TimeSpan(2));
    LogFileWriter writer(path);
    // The first boundary lies at most two seconds ahead; poll for it.
    EXPECT_TRUE(Kalvor::Test::waitFor([&] {
        writer.writeLine("waiting");
        return !rotatedFiles().empty();
    }));
    ASSERT_FALSE(rotatedFiles().empty());
    EXPECT_TRUE(
        contains(readFile(sandbox.file(rotatedFiles()[0])), "\nRotate condition(s): Time "));
    // The new file has a boundary of its own: it does not rotate on every line.
    const std::size_t rotations = rotatedFiles().size();
    ASSERT_TRUE(writer.writeLine("one"));
    ASSERT_TRUE(writer.writeLine("two"));
    EXPECT_LE(rotatedFiles().size(), rotations + 1);
}

TEST_F(LogFileWriterTest, LineIsDroppedWhenTheLockStaysTaken) {
    std::promise<void> held;
    std::promise<void> done;
    std::thread holder([&] {
        SharedLock lock(name);
        EXPECT_TRUE(lock.acquire(0));
        held.set_value();
        done.get_future().wait();
    });
    held.get_future().wait();
    LogFileWriter writer(path);
    EXPECT_FALSE(writer.writeLine("dropped"));
    done.set_value();
    holder.join();
    EXPECT_TRUE(writer.writeLine("written"));
    const std::string log = readFile(path);
    EXPECT_FALSE(contains(log, "dropped"));
    EXPECT_TRUE(contains(log, "written\r\n"));
}

TEST_F(LogFileWriterTest, UnwritablePathReportsFalse) {
    LogFileWriter writer(sandbox.file("no-such-folder/x.log"));
    EXPECT_FALSE(writer.writeLine("line"));
}

TEST_F(LogFileWriterTest, CloseWritesTheReasonAndTheNextLineReopens) {
    LogFileWriter writer(path);
    ASSERT_TRUE(writer.writeLine("a"));
    writer.close("Testing");
    ASSERT_TRUE(writer.writeLine("b"));
    const std::string log = readFile(path);
    EXPECT_TRUE(contains(log, "a\r\n\r\nClosing log file \"" + path + "\". Time: ")) << log;
    EXPECT_TRUE(contains(log, ". Reason: Testing.\r\n\r\nOpened log file")) << log;
    EXPECT_TRUE(contains(log, "b\r\n"));
}

} // namespace
} // namespace Kalvor
