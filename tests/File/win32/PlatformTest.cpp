// Windows-only cases: a lock file held open by its live owner cannot be moved aside or deleted
// by anybody else, even once it has expired.
#include "File/LockFile.h"
#include "FileTestSupport.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

namespace Kalvor {
namespace {

using Test::fileLines;
using Test::pathExists;
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
    EXPECT_FALSE(pathExists(path + ".lock"));
}

} // namespace
} // namespace Kalvor
