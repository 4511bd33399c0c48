// Windows-only cases: a lock file held open by its live owner cannot be moved aside or deleted
// by anybody else, even once it has expired; a file opened renamable can be.
#include "Common/win32/Windows.h"
#include "File/FileOps.h"
#include "File/FilePlain.h"
#include "File/LockFile.h"
#include "FileTestSupport.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

namespace Kalvor {
namespace {

using Test::fileLines;
using Test::fileExists;
using Test::TempDir;

TEST(LockFileWindows, ALiveHolderKeepsItsExpiredLock) {
    TempDir dir;
    const std::string path = dir.file("data.txt");
    LockFile owner(path);
    ASSERT_TRUE(owner.lock(TimeSpan(0), false));
    LockFile successor(path);
    EXPECT_FALSE(successor.unlock());
    EXPECT_EQ(fileLines(path + ".lock").at(2), owner.ownToken());
    EXPECT_TRUE(owner.unlock());
    EXPECT_FALSE(fileExists(path + ".lock"));
}

// Without kRenamable Windows holds an open file in place; with it, as posix always does, the
// file can be renamed and deleted under its writer, who keeps writing to it.
TEST(FilePlainWindows, OnlyARenamableFileCanBeRenamedAndDeletedWhileOpen) {
    const int32_t append =
        FileBase::kWrite | FileBase::kAppend | FileBase::kInPlace | FileBase::kNoLock;
    for (const bool renamable : {false, true}) {
        TempDir dir;
        const std::string path = dir.file("shared.log");
        FilePlain file(path);
        file.open(append | (renamable ? FileBase::kRenamable : 0));
        file.write("before\r\n");
        file.flush();
        EXPECT_EQ(FileOps::moveFile(path, dir.file("archive.log"), false), renamable)
            << "renamable " << renamable;
        if (renamable) {
            file.write("after\r\n");
            file.close();
            EXPECT_EQ(fileLines(dir.file("archive.log")),
                      (std::vector<std::string>{"before", "after"}));
            file.open(append | FileBase::kRenamable);
            EXPECT_TRUE(FileOps::deleteFile(path));
        } else {
            EXPECT_EQ(FileOps::lastMoveError(), ERROR_SHARING_VIOLATION);
            EXPECT_FALSE(FileOps::deleteFile(path));
        }
        file.close();
    }
}

} // namespace
} // namespace Kalvor
