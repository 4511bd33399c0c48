#include "File/LockFile.h"

#include "File/FileOps.h"
#include "FileTestSupport.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <set>

namespace Kalvor {
namespace {

using Test::fileLines;
using Test::fileExists;
using Test::readFile;
using Test::TempDir;
using Test::writeBytes;

const TimeSpan kHour(3600);

// A lock file as another process would have left it.
void writeForeignLock(const std::string& path, const DateTime& expiry,
                      const std::string& token = "20070101T000000Zforeign!!!",
                      bool twoLinesOnly = false) {
    std::string text = DateTime(2007, 1, 1, 0, 0, 0).text() + "\r\n" + expiry.text() + "\r\n";
    if (!twoLinesOnly)
        text += token + "\r\noriginal\r\n";
    writeBytes(path + ".lock", text);
}

std::vector<std::string> namesIn(const std::string& directory) {
    std::vector<std::string> names;
    for (const FileOps::DirectoryEntry& entry : FileOps::listDirectory(directory, "*")) {
        if (entry.isFile)
            names.push_back(entry.name);
    }
    return names;
}

TEST(LockFileToken, IsATimeTextAndTenPrintableCharactersAndDiffersPerObject) {
    TempDir dir;
    std::set<std::string> tokens;
    for (int i = 0; i < 20; ++i) {
        const LockFile lock(dir.file("f"));
        const std::string& token = lock.ownToken();
        ASSERT_EQ(token.size(), 26u) << token;
        EXPECT_NO_THROW(DateTime(token.substr(0, 16), IsoMode::DateAndTime)) << token;
        for (const char c : token.substr(16)) {
            EXPECT_GE(c, 32);
            EXPECT_LE(c, 125);
        }
        tokens.insert(token);
    }
    EXPECT_EQ(tokens.size(), 20u);
}

TEST(LockFileLifeCycle, OwnLockIsWrittenHeldAndRemoved) {
    TempDir dir;
    const std::string path = dir.file("data.txt");
    LockFile lock(path);
    EXPECT_FALSE(lock.isLockActive());
    EXPECT_FALSE(lock.targetExisted());
    ASSERT_TRUE(lock.lock(kHour, false));
    EXPECT_TRUE(lock.isLockActive());
    EXPECT_FALSE(lock.lock(kHour, false));

    const std::vector<std::string> lines = fileLines(lock.lockPath());
    ASSERT_EQ(lines.size(), 4u);
    const DateTime taken(lines[0], IsoMode::DateAndTime);
    EXPECT_EQ(DateTime(lines[1], IsoMode::DateAndTime), taken.plus(kHour));
    EXPECT_EQ(lines[2], lock.ownToken());
    EXPECT_EQ(lines[3], "missing");
    EXPECT_FALSE(fileExists(path)) << "the locked file is not opened without holdTarget";
    EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{"data.txt.lock"});

    EXPECT_TRUE(lock.unlock());
    EXPECT_FALSE(lock.isLockActive());
    EXPECT_TRUE(namesIn(dir.path()).empty());
    EXPECT_TRUE(lock.unlock());
}

TEST(LockFileLifeCycle, HoldingTheTargetLeavesItsContentsAlone) {
    TempDir dir;
    const std::string path = dir.file("data.txt");
    writeBytes(path, "contents");
    {
        LockFile lock(path);
        EXPECT_TRUE(lock.targetExisted());
        ASSERT_TRUE(lock.lock(kHour, true));
        EXPECT_EQ(fileLines(lock.lockPath()).at(3), "original");
        EXPECT_EQ(readFile(path), "contents");
    } // destruction releases a held lock
    EXPECT_FALSE(fileExists(path + ".lock"));
    EXPECT_EQ(readFile(path), "contents");
}

TEST(LockFileLifeCycle, ForeignValidLockRefusesUntilItsOwnerUnlocks) {
    TempDir dir;
    const std::string path = dir.file("data.txt");
    LockFile owner(path);
    ASSERT_TRUE(owner.lock(kHour, false));

    LockFile other(path);
    EXPECT_TRUE(other.isLockActive());
    EXPECT_EQ(other.ownerToken(), owner.ownToken());
    EXPECT_FALSE(other.holdsTarget());
    EXPECT_FALSE(other.unlock());
    EXPECT_FALSE(other.lock(kHour, false));
    EXPECT_TRUE(fileExists(path + ".lock"));

    EXPECT_TRUE(owner.unlock());
    LockFile next(path);
    EXPECT_FALSE(next.isLockActive());
    EXPECT_TRUE(next.lock(kHour, false));
}

TEST(LockFileLifeCycle, ForeignExpiredLockIsRemovedByUnlockThenLockSucceeds) {
    TempDir dir;
    const std::string path = dir.file("data.txt");
    writeForeignLock(path, DateTime(2007, 1, 1, 0, 5, 0));
    LockFile lock(path);
    EXPECT_TRUE(lock.isLockActive());
    EXPECT_TRUE(lock.holdsTarget());
    EXPECT_EQ(lock.ownerToken(), "20070101T000000Zforeign!!!");
    EXPECT_FALSE(lock.lock(kHour, false)) << "refused until unlock() has removed it";
    EXPECT_EQ(lock.expiryTime(), DateTime(2007, 1, 1, 0, 5, 0)) << "a refused lock changes nothing";
    EXPECT_TRUE(lock.unlock());
    EXPECT_FALSE(fileExists(path + ".lock"));
    EXPECT_TRUE(lock.lock(kHour, false));
    EXPECT_EQ(fileLines(path + ".lock").at(2), lock.ownToken());
}

TEST(LockFileLifeCycle, TwoLineLockFileHasNoOwnerAndCountsUntilItExpires) {
    TempDir dir;
    const std::string path = dir.file("data.txt");
    writeForeignLock(path, DateTime().plus(kHour), "", true);
    {
        LockFile lock(path);
        EXPECT_TRUE(lock.isLockActive());
        EXPECT_EQ(lock.ownerToken(), "");
        EXPECT_FALSE(lock.unlock());
    }
    writeForeignLock(path, DateTime(2007, 1, 1, 1, 0, 0), "", true);
    LockFile lock(path);
    EXPECT_TRUE(lock.unlock());
    EXPECT_FALSE(fileExists(path + ".lock"));
}

TEST(LockFileLifeCycle, EmptyOrLfOnlyLockFilesAreRead) {
    TempDir dir;
    const std::string path = dir.file("data.txt");
    writeBytes(path + ".lock", "");
    EXPECT_TRUE(LockFile(path).unlock()) << "an empty lock file has long expired";

    writeBytes(path + ".lock",
               DateTime().text() + "\n" + DateTime().plus(kHour).text() + "\n tok en \nmissing");
    const LockFile lock(path);
    EXPECT_EQ(lock.ownerToken(), " tok en ") << "blanks belong to the token";
    EXPECT_FALSE(lock.holdsTarget());
}

TEST(LockFileLifeCycle, MalformedDateThrowsWithThisUnitInTheTrail) {
    TempDir dir;
    const std::string path = dir.file("data.txt");
    writeBytes(path + ".lock", "yesterday\r\n");
    try {
        LockFile lock(path);
        FAIL() << "expected a TimeException";
    } catch (const TimeException& error) {
        EXPECT_EQ(error.code(), TM_INPUT);
        ASSERT_FALSE(error.trail().empty());
        EXPECT_EQ(error.trail().back().name, "LockFile.");
    }
}

TEST(LockFileRaces, OfTwoWritersThatBothFoundNoLockOnlyOneGetsIt) {
    TempDir dir;
    const std::string path = dir.file("data.txt");
    LockFile first(path);
    LockFile second(path);
    EXPECT_TRUE(first.lock(kHour, false));
    EXPECT_FALSE(second.lock(kHour, false));
    EXPECT_EQ(fileLines(path + ".lock").at(2), first.ownToken());
    EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{"data.txt.lock"});
}

TEST(LockFileRaces, AnExpiredLockRenewedMeanwhileIsNotRemoved) {
    TempDir dir;
    const std::string path = dir.file("data.txt");
    writeForeignLock(path, DateTime(2007, 1, 1, 0, 5, 0));
    LockFile late(path); // saw the expired lock
    writeForeignLock(path, DateTime().plus(kHour), "20990101T000000Zsomebody!");
    EXPECT_FALSE(late.unlock());
    EXPECT_EQ(fileLines(path + ".lock").at(2), "20990101T000000Zsomebody!");
    EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{"data.txt.lock"});
}

} // namespace
} // namespace Kalvor
