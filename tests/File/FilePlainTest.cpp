#include "File/FilePlain.h"

#include "File/LockFile.h"
#include "FileTestSupport.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

namespace Kalvor {
namespace {

using Test::captureFileError;
using Test::fileLines;
using Test::fileExists;
using Test::readFile;
using Test::TempDir;
using Test::writeBytes;

constexpr int32_t kRead = FileBase::kRead;
constexpr int32_t kWrite = FileBase::kWrite;
constexpr int32_t kTruncate = FileBase::kTruncate;
constexpr int32_t kAppend = FileBase::kAppend;
constexpr int32_t kInPlace = FileBase::kInPlace;
constexpr int32_t kNoLock = FileBase::kNoLock;
constexpr int32_t kSharedAppend = kWrite | kAppend | kInPlace | kNoLock | FileBase::kRenamable;

class FilePlainTest : public ::testing::Test {
protected:
    TempDir dir; // first: the paths below are made from it
    std::string path = dir.file("data.txt");
    std::string lockPath = path + ".lock";
    std::string tempPath = path + ".tmp";

    bool noCompanions() const { return !fileExists(lockPath) && !fileExists(tempPath); }
};

TEST_F(FilePlainTest, ReadingAnAbsentFileFailsWithExistsNot) {
    FilePlain file(path);
    const FileException error = captureFileError([&] { file.open(kRead); });
    EXPECT_EQ(error.code(), FL_EXISTS_NOT);
    EXPECT_EQ(error.detail(), path + "-->File does not exist.");
    EXPECT_FALSE(file.isOpen());
}

TEST_F(FilePlainTest, WritingANewFileGoesThroughTheCopyAndLeavesNothingBehind) {
    FilePlain file(path);
    file.open(kWrite);
    EXPECT_TRUE(fileExists(tempPath));
    EXPECT_EQ(fileLines(lockPath).at(3), "original");
    file.write("hello\r\n");
    EXPECT_EQ(readFile(path), "") << "nothing reaches the file before the commit";
    file.close();
    EXPECT_EQ(readFile(path), "hello\r\n");
    EXPECT_TRUE(noCompanions());
    EXPECT_FALSE(file.isOpen());
}

TEST_F(FilePlainTest, UpdatingKeepsTheOriginalReadableUntilTheCommit) {
    writeBytes(path, "first\n");
    FilePlain writer(path);
    writer.open(kWrite | kAppend);
    EXPECT_EQ(writer.position(), 6);
    writer.write("second\n");
    writer.flush();
    FilePlain reader(path);
    reader.open(kRead);
    EXPECT_EQ(reader.readAll(), "first\n");
    reader.close();
    writer.close();
    EXPECT_EQ(readFile(path), "first\nsecond\n");
    EXPECT_TRUE(noCompanions());
}

TEST_F(FilePlainTest, AbortOfANewFileRemovesItAndItsCompanions) {
    FilePlain file(path);
    file.open(kWrite);
    file.write("draft");
    file.abort();
    EXPECT_FALSE(fileExists(path));
    EXPECT_TRUE(noCompanions());
    EXPECT_NO_THROW(file.abort());
}

TEST_F(FilePlainTest, AbortAndDestructionLeaveAnExistingFileAsItWas) {
    writeBytes(path, "original");
    {
        FilePlain file(path);
        file.open(kWrite);
        file.write("replacement");
        file.abort();
    }
    EXPECT_EQ(readFile(path), "original");
    {
        FilePlain file(path);
        file.open(kRead | kWrite | kTruncate);
        file.write("replacement");
    } // never closed
    EXPECT_EQ(readFile(path), "original");
    EXPECT_TRUE(noCompanions());
}

TEST_F(FilePlainTest, IllegalFlagCombinationsFailBeforeAnythingIsTouched) {
    const int32_t combinations[] = {
        kRead | kAppend,
        kRead | kTruncate,
        kRead | FileBase::kWriteOption,
        kWrite | kTruncate | kAppend,
        kRead | kWrite | kTruncate | kAppend,
        0,
        kInPlace,
    };
    for (const bool existed : {false, true}) {
        if (existed)
            writeBytes(path, "kept");
        for (const int32_t flags : combinations) {
            FilePlain file(path);
            EXPECT_EQ(captureFileError([&] { file.open(flags); }).code(), FL_ACCESS_COMB)
                << "flags " << flags;
            EXPECT_EQ(fileExists(path), existed);
            EXPECT_TRUE(noCompanions());
        }
    }
    EXPECT_EQ(readFile(path), "kept");
}

TEST_F(FilePlainTest, InPlaceWritesTheFileItselfUnderAMissingLock) {
    writeBytes(path, "old");
    FilePlain file(path);
    file.open(kWrite | kInPlace);
    EXPECT_EQ(fileLines(lockPath).at(3), "missing");
    EXPECT_FALSE(fileExists(tempPath));
    file.write("new");
    file.flush();
    EXPECT_EQ(readFile(path), "new");
    file.close();
    EXPECT_TRUE(noCompanions());
}

TEST_F(FilePlainTest, NoLockWritesInPlaceWithoutAnyCompanion) {
    FilePlain file(path);
    file.open(kWrite | kNoLock);
    EXPECT_TRUE(noCompanions());
    file.write("x");
    file.close();
    EXPECT_EQ(readFile(path), "x");
}

TEST_F(FilePlainTest, AnotherOwnersValidLockRefusesTheWriterAndTouchesNothing) {
    writeBytes(path, "theirs");
    LockFile owner(path);
    ASSERT_TRUE(owner.lock(TimeSpan(3600), false));
    FilePlain file(path);
    const FileException error = captureFileError([&] { file.open(kWrite); });
    EXPECT_EQ(error.code(), FL_IS_LOCKED);
    EXPECT_EQ(error.detail(), path);
    EXPECT_FALSE(fileExists(tempPath));
    EXPECT_EQ(fileLines(lockPath).at(2), owner.ownToken());
    // Readers are not held back.
    file.open(kRead);
    EXPECT_EQ(file.readAll(), "theirs");
}

TEST_F(FilePlainTest, AStaleCopyOfAWriterThatDiedDoesNotShowThrough) {
    writeBytes(tempPath, "junk of a dead writer");
    FilePlain file(path);
    file.open(kWrite | kAppend);
    file.write("fresh");
    file.close();
    EXPECT_EQ(readFile(path), "fresh");
}

TEST_F(FilePlainTest, ReadsLinesChunksAndTheWholeFile) {
    writeBytes(path, "one\r\ntwo\n\nlast");
    FilePlain file(path);
    file.open(kRead);
    EXPECT_EQ(file.size(), 14);
    std::vector<std::string> lines;
    for (std::string line; file.readLine(line);)
        lines.push_back(line);
    EXPECT_EQ(lines, (std::vector<std::string>{"one", "two", "", "last"}));
    EXPECT_EQ(file.position(), 14);

    file.seek(5);
    EXPECT_EQ(file.read(3), "two");
    EXPECT_EQ(file.read(100), "\n\nlast");
    EXPECT_EQ(captureFileError([&] { file.read(1); }).code(), FL_EOF);
    EXPECT_EQ(file.read(0), "");
    EXPECT_EQ(file.readAll(), "one\r\ntwo\n\nlast");
    file.close();
    EXPECT_EQ(file.position(), 0);
}

// Both sides of the limit; the file is sparse where the system allows, so little is written.
TEST_F(FilePlainTest, AFileBeyondTheReadLimitIsRefusedByReadAllAndReadLine) {
    constexpr auto kLimit = static_cast<std::size_t>(FilePlain::kMaxReadBytes);
    writeBytes(path, "");
    std::filesystem::resize_file(path, kLimit);
    FilePlain file(path);
    file.open(kRead);
    EXPECT_EQ(file.readAll().size(), kLimit);
    file.seek(0);
    std::string line;
    EXPECT_TRUE(file.readLine(line));
    EXPECT_EQ(line.size(), kLimit);
    EXPECT_FALSE(file.readLine(line));
    file.close();

    std::filesystem::resize_file(path, kLimit + 1);
    file.open(kRead);
    const FileException fromReadAll = captureFileError([&] { file.readAll(); });
    file.seek(0);
    const FileException fromReadLine = captureFileError([&] { file.readLine(line); });
    for (const FileException& error : {fromReadAll, fromReadLine}) {
        EXPECT_EQ(error.code(), FL_READ);
        EXPECT_EQ(error.detail(), path + "-->File exceeds the 64 MiB read limit.");
    }
}

TEST_F(FilePlainTest, ReadWriteModesSwitchDirectionAndTruncateOrAppendAsAsked) {
    writeBytes(path, "0123456789");
    {
        FilePlain file(path);
        file.open(kRead | kWrite);
        EXPECT_EQ(file.read(4), "0123");
        file.write("ab");
        file.seek(0);
        EXPECT_EQ(file.read(10), "0123ab6789");
        file.close();
    }
    EXPECT_EQ(readFile(path), "0123ab6789");
    {
        FilePlain file(path);
        file.open(kRead | kWrite | kAppend);
        EXPECT_EQ(file.position(), 10);
        file.seek(0);
        EXPECT_EQ(file.read(2), "01");
        file.write("!");
        file.close();
    }
    EXPECT_EQ(readFile(path), "0123ab6789!");
    {
        FilePlain file(path);
        file.open(kRead | kWrite | kTruncate);
        EXPECT_EQ(file.size(), 0);
        file.close();
    }
    EXPECT_EQ(readFile(path), "");
}

TEST_F(FilePlainTest, ReadingAndWritingANewFileCreatesIt) {
    FilePlain file(path);
    file.open(kRead | kWrite);
    EXPECT_EQ(file.readAll(), "");
    file.write("made");
    file.close();
    EXPECT_EQ(readFile(path), "made");
}

TEST_F(FilePlainTest, OperationsOutsideTheOpenModeFailWithTheirCodes) {
    writeBytes(path, "text");
    FilePlain file(path);
    std::string line;
    EXPECT_EQ(captureFileError([&] { file.write("x"); }).code(), FL_IS_CLOSED);
    EXPECT_EQ(captureFileError([&] { file.readLine(line); }).code(), FL_IS_CLOSED);
    EXPECT_EQ(captureFileError([&] { file.size(); }).code(), FL_IS_CLOSED);
    EXPECT_EQ(captureFileError([&] { file.seek(0); }).code(), FL_IS_CLOSED);
    EXPECT_EQ(captureFileError([&] { file.flush(); }).code(), FL_IS_CLOSED);

    file.open(kRead);
    EXPECT_EQ(captureFileError([&] { file.open(kRead); }).code(), FL_IS_OPEN);
    EXPECT_EQ(captureFileError([&] { file.write("x"); }).code(), FL_CANNOT_WRITE);
    EXPECT_EQ(captureFileError([&] { file.seek(-1); }).code(), FL_POSITION);
    file.close();

    file.open(kWrite);
    EXPECT_EQ(captureFileError([&] { file.readLine(line); }).code(), FL_CANNOT_READ);
    EXPECT_EQ(captureFileError([&] { file.read(1); }).code(), FL_CANNOT_READ);
    file.abort();
    EXPECT_EQ(readFile(path), "text");
}

TEST_F(FilePlainTest, ALockDurationIsWrittenIntoTheLockFile) {
    FilePlain file(path);
    EXPECT_EQ(file.lockDuration(), TimeSpan(FileBase::kDefaultLockSeconds));
    file.setLockDuration(TimeSpan(90));
    file.open(kWrite);
    const std::vector<std::string> lines = fileLines(lockPath);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(DateTime(lines[1], IsoMode::DateAndTime),
              DateTime(lines[0], IsoMode::DateAndTime).plus(TimeSpan(90)));
    file.close();
}

// What another process may do to the name of a file held open: only the untouched name still
// leads to it.
TEST_F(FilePlainTest, IsStillAtPathTellsWhetherTheNameStillLeadsToTheOpenFile) {
    namespace fs = std::filesystem;
    const std::string aside = dir.file("aside.txt");
    struct Case {
        const char* what;
        std::function<void()> action;
        bool stillAtPath;
    };
    const Case cases[] = {
        {"untouched", [] {}, true},
        {"grown by another writer",
         [&] {
             FilePlain other(path);
             other.open(kSharedAppend);
             other.write("other\r\n");
             other.close();
         },
         true},
        {"renamed away", [&] { fs::rename(path, aside); }, false},
        {"deleted", [&] { fs::remove(path); }, false},
        {"replaced by a new file",
         [&] {
             fs::rename(path, aside);
             writeBytes(path, "new");
         },
         false},
    };
    for (const Case& c : cases) {
        FilePlain file(path);
        file.open(kSharedAppend);
        file.write("line\r\n");
        file.flush();
        c.action();
        // Wine keeps a deleted file's name, leading to it, until its last handle is closed.
        const bool nameKept = !c.stillAtPath && fileExists(path) && !fileExists(aside);
        EXPECT_EQ(file.isStillAtPath(), c.stillAtPath || nameKept) << c.what;
        file.close();
        EXPECT_FALSE(file.isStillAtPath()) << c.what << ": a closed file is nowhere";
        fs::remove(path);
        fs::remove(aside);
    }
}

} // namespace
} // namespace Kalvor
