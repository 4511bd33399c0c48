// posix-only cases: write failures provoked with /dev/full (every write fails with ENOSPC),
// and lock files that a live holder cannot protect.
#include "File/FilePlain.h"
#include "File/LockFile.h"
#include "FileTestSupport.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

namespace Kalvor {
namespace {

using Test::captureFileError;
using Test::fileLines;
using Test::pathExists;
using Test::TempDir;

TEST(FilePlainDeviceFull, AWriteTheStreamRefusesIsFlWriteNamingStreamErrorAndMode) {
    FilePlain file("/dev/full");
    file.open(FileBase::kWrite | FileBase::kNoLock);
    const FileException error =
        captureFileError([&] { file.write(std::string(1024 * 1024, 'x')); });
    EXPECT_EQ(error.code(), FL_WRITE);
    EXPECT_EQ(error.detail(), "/dev/full - BFile error: 5 - Access: 2");
    file.abort();
}

TEST(FilePlainDeviceFull, DataLostInTheFinalFlushIsReportedByClose) {
    FilePlain file("/dev/full");
    file.open(FileBase::kWrite | FileBase::kNoLock);
    file.write("buffered, never written");
    EXPECT_EQ(captureFileError([&] { file.close(); }).code(), FL_CANNOT_CLOSE);
    EXPECT_FALSE(file.isOpen());
}

// posix cannot keep others from removing a lock file that its holder still has open (Windows
// can), so an owner that overran its expiry may find a successor's lock in place of its own.
TEST(LockFilePosix, AnOwnerThatOverranItsLockLeavesTheSuccessorsLockAlone) {
    TempDir dir;
    const std::string path = dir.file("data.txt");
    LockFile owner(path);
    ASSERT_TRUE(owner.lock(TimeSpan(0), false));
    {
        LockFile successor(path);
        ASSERT_TRUE(successor.unlock());
        ASSERT_TRUE(successor.lock(TimeSpan(3600), false));
        EXPECT_TRUE(owner.unlock());
        EXPECT_EQ(fileLines(path + ".lock").at(2), successor.ownToken());
    }
    EXPECT_FALSE(pathExists(path + ".lock"));
}

} // namespace
} // namespace Kalvor
