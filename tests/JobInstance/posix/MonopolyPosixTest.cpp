#include "JobInstance/Monopoly.h"

#include "JobTestSupport.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace Kalvor {
namespace {

using Test::fileExists;
using Test::ScopedEnv;
using Test::TempDir;

TEST(PosixMonopoly, TheLockDirectoryIsMadeWritableByEveryAccount) {
    TempDir folder;
    const std::string directory = folder.file("locks");
    ScopedEnv lockDirectory("KALVOR_LOCK_DIR", directory);
    Monopoly lock("Wardex_user");
    ASSERT_TRUE(lock.acquire());
    struct stat info {};
    ASSERT_EQ(::stat(directory.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 01777u);
    EXPECT_TRUE(fileExists(directory + "/Wardex_user"));
    EXPECT_TRUE(lock.release());
    EXPECT_TRUE(fileExists(directory + "/Wardex_user")) << "lock files stay";
}

} // namespace
} // namespace Kalvor
