#include "File/FileOps.h"

#include "FileTestSupport.h"
#include "TestSupport.h"
#include "Time/DateTime.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>

namespace Kalvor {
namespace {

using Test::alreadyExistsError;
using Test::driveCExists;
using Test::fileExists;
using Test::patternBytes;
using Test::readFile;
using Test::TempDir;
using Test::writeBytes;

using namespace FileOps;
using ::testing::UnorderedElementsAre;

// Binary content: NUL, CR LF and high bytes must all survive.
const std::string kContent = std::string("line\r\nnext\n\0\xff tail", 17);

TEST(FileOpsMove, ReplaceOverwritesAnExistingTarget) {
    TempDir dir;
    writeBytes(dir.file("a"), kContent);
    writeBytes(dir.file("b"), "old");
    EXPECT_TRUE(moveFile(dir.file("a"), dir.file("b"), true));
    EXPECT_EQ(lastMoveError(), 0);
    EXPECT_EQ(readFile(dir.file("b")), kContent);
    EXPECT_FALSE(fileExists(dir.file("a")));
}

TEST(FileOpsMove, WithoutReplaceAnExistingTargetFailsWithAlreadyExists) {
    TempDir dir;
    writeBytes(dir.file("a"), "new");
    writeBytes(dir.file("b"), "old");
    EXPECT_FALSE(moveFile(dir.file("a"), dir.file("b"), false));
    EXPECT_EQ(lastMoveError(), alreadyExistsError());
    EXPECT_EQ(readFile(dir.file("a")), "new");
    EXPECT_EQ(readFile(dir.file("b")), "old");

    EXPECT_TRUE(moveFile(dir.file("a"), dir.file("c"), false));
    EXPECT_EQ(lastMoveError(), 0);
    EXPECT_EQ(readFile(dir.file("c")), "new");
}

TEST(FileOpsMove, MissingSourceRecordsTheSystemError) {
    TempDir dir;
    EXPECT_FALSE(moveFile(dir.file("none"), dir.file("b"), true));
    EXPECT_NE(lastMoveError(), 0);
}

TEST(FileOpsCopy, CopiesBytesExactlyAndReplacesOnlyWithOverwrite) {
    TempDir dir;
    const std::string big = patternBytes(300 * 1024 + 7, 'c');
    writeBytes(dir.file("a"), big);
    writeBytes(dir.file("b"), "old");
    EXPECT_FALSE(copyFile(dir.file("a"), dir.file("b"), false));
    EXPECT_EQ(readFile(dir.file("b")), "old");
    EXPECT_TRUE(copyFile(dir.file("a"), dir.file("b"), true));
    EXPECT_EQ(readFile(dir.file("b")), big);

    writeBytes(dir.file("small"), kContent);
    EXPECT_TRUE(copyFile(dir.file("small"), dir.file("fresh"), false));
    EXPECT_EQ(readFile(dir.file("fresh")), kContent);
}

TEST(FileOpsCopy, NeverCopiesAFileOntoItselfNorFromADirectory) {
    TempDir dir;
    writeBytes(dir.file("a"), kContent);
    EXPECT_FALSE(copyFile(dir.file("a"), dir.file("a"), true));
    EXPECT_EQ(readFile(dir.file("a")), kContent);
    ASSERT_TRUE(createDirectory(dir.file("sub")));
    EXPECT_FALSE(copyFile(dir.file("sub"), dir.file("b"), true));
    EXPECT_FALSE(copyFile(dir.file("none"), dir.file("b"), true));
    EXPECT_FALSE(fileExists(dir.file("b")));
}

TEST(FileOpsDelete, RemovesFilesButNotDirectoriesOrReadOnlyFiles) {
    TempDir dir;
    writeBytes(dir.file("a"), "x");
    EXPECT_TRUE(deleteFile(dir.file("a")));
    EXPECT_FALSE(fileExists(dir.file("a")));
    EXPECT_FALSE(deleteFile(dir.file("a")));

    ASSERT_TRUE(createDirectory(dir.file("sub")));
    EXPECT_FALSE(deleteFile(dir.file("sub")));

    writeBytes(dir.file("ro"), "x");
    ASSERT_TRUE(setAttributes(dir.file("ro"), kReadOnly));
    EXPECT_FALSE(deleteFile(dir.file("ro")));
    // The directory bit alone sets nothing: read-only is gone again.
    ASSERT_TRUE(setAttributes(dir.file("ro"), kDirectory));
    EXPECT_TRUE(deleteFile(dir.file("ro")));
}

TEST(FileOpsCreateDirectory, MakesOneLevelOnly) {
    TempDir dir;
    EXPECT_FALSE(createDirectory(dir.file("a") + "/b"));
    EXPECT_TRUE(createDirectory(dir.file("a")));
    EXPECT_FALSE(createDirectory(dir.file("a")));
    EXPECT_TRUE(createDirectory(dir.file("a") + "/b"));
}

struct Listed {
    std::string name;
    bool isFile;
    bool operator==(const Listed& other) const {
        return name == other.name && isFile == other.isFile;
    }
};

std::vector<Listed> listed(const std::string& directory, const std::string& pattern) {
    std::vector<Listed> result;
    for (const DirectoryEntry& entry : listDirectory(directory, pattern))
        result.push_back({entry.name, entry.isFile});
    return result;
}

void PrintTo(const Listed& entry, std::ostream* out) {
    *out << entry.name << (entry.isFile ? " (file)" : " (dir)");
}

TEST(FileOpsList, StarReportsDotEntriesAsDirectories) {
    TempDir dir;
    writeBytes(dir.file("file.txt"), "x");
    ASSERT_TRUE(createDirectory(dir.file("sub")));
    EXPECT_THAT(listed(dir.path(), "*"),
                UnorderedElementsAre(Listed{".", false}, Listed{"..", false}, Listed{"sub", false},
                                     Listed{"file.txt", true}));
    // A trailing separator on the directory is not doubled.
    EXPECT_EQ(listed(dir.path() + "/", "*").size(), 4u);
}

TEST(FileOpsList, PatternsMatchAsFindFirstFileDoes) {
    TempDir dir;
    for (const char* name : {"core.mess", "Wardex.MESS", "notes.txt", "a1.mess.bak", "ab.mess"})
        writeBytes(dir.file(name), "x");
    EXPECT_THAT(listed(dir.path(), "*.mess"),
                UnorderedElementsAre(Listed{"core.mess", true}, Listed{"Wardex.MESS", true},
                                     Listed{"ab.mess", true}));
    EXPECT_THAT(listed(dir.path(), "a?.mess*"),
                UnorderedElementsAre(Listed{"a1.mess.bak", true}, Listed{"ab.mess", true}));
    EXPECT_THAT(listed(dir.path(), "notes.txt"), UnorderedElementsAre(Listed{"notes.txt", true}));
    EXPECT_EQ(listed(dir.path(), "*.*").size(), 7u); // with "." and ".."
    EXPECT_TRUE(listed(dir.path(), "*.conf").empty());
    EXPECT_TRUE(listed(dir.file("missing"), "*").empty());
}

TEST(FileOpsExists, CoversEmptyDriveTrailingSeparatorAndMissingPaths) {
    TempDir dir;
    writeBytes(dir.file("a"), "x");
    EXPECT_FALSE(exists(""));
    EXPECT_EQ(exists("C:"), driveCExists());
    EXPECT_FALSE(exists("Q9:"));
    EXPECT_TRUE(exists(dir.path()));
    EXPECT_TRUE(exists(dir.path() + "/"));
    EXPECT_TRUE(exists(dir.file("a")));
    EXPECT_FALSE(exists(dir.file("b")));
}

TEST(FileOpsInfo, DescribesAFile) {
    TempDir dir;
    writeBytes(dir.file("data.bin"), std::string(70000, 'z'));
    FileInformation info;
    ASSERT_TRUE(fileInfo(dir.file("data.bin"), info));
    EXPECT_TRUE(info.exists);
    EXPECT_EQ(info.sizeLow, 70000u);
    EXPECT_EQ(info.sizeHigh, 0u);
    EXPECT_EQ(info.attributes & (kDirectory | kReadOnly | kHidden), 0);
    EXPECT_NE(info.attributes, 0);
    EXPECT_EQ(info.fullPath, dir.file("data.bin"));
    const DateRecord today = DateTime().date();
    EXPECT_EQ(info.modified.year, today.year);
    EXPECT_EQ(info.modified.millisecond, 0);
    EXPECT_GE(info.created.year, 1970);
    EXPECT_EQ(info.accessed.year, today.year);
}

TEST(FileOpsInfo, ReportsDirectoriesAndHiddenReadOnlyFiles) {
    TempDir dir;
    FileInformation info;
    ASSERT_TRUE(fileInfo(dir.path(), info));
    EXPECT_TRUE(info.attributes & kDirectory);

    // A dot name is what hides a file on posix; the attribute is what hides it on Windows.
    const std::string hidden = dir.file(".hidden");
    writeBytes(hidden, "x");
    ASSERT_TRUE(setAttributes(hidden, kReadOnly | kHidden));
    ASSERT_TRUE(fileInfo(hidden, info));
    EXPECT_EQ(info.attributes & (kReadOnly | kHidden), kReadOnly | kHidden);
    EXPECT_EQ(info.attributes & kNormal, 0);
    ASSERT_TRUE(setAttributes(hidden, kNormal));
}

TEST(FileOpsInfo, MissingPathClearsTheRecord) {
    TempDir dir;
    FileInformation info;
    info.exists = true;
    info.attributes = kReadOnly;
    info.sizeLow = 9;
    EXPECT_FALSE(fileInfo(dir.file("none"), info));
    EXPECT_FALSE(info.exists);
    EXPECT_EQ(info.attributes, 0);
    EXPECT_EQ(info.sizeLow, 0u);
}

} // namespace
} // namespace Kalvor
