#include "JobInstance/Monopoly.h"

#include "ChildProcess.h"
#include "JobTestSupport.h"
#include "Sandbox.h"

#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Kalvor {
namespace {

using Test::fileExists;
using Test::Sandbox;
using Test::ScopedEnv;

mode_t modeOf(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
}

// The base is every account's (sticky), the locks are in this account's own folder.
TEST(PosixMonopoly, LocksLiveInAFolderOfTheAccountInsideASharedStickyBase) {
    Sandbox sandbox;
    const std::string base = sandbox.lockDirectory();
    ASSERT_TRUE(std::filesystem::remove(base)) << "the base is the lock's to make";
    Monopoly lock("Wardex_user");
    ASSERT_TRUE(lock.acquire()) << lock.failure();
    const std::string own = base + "/" + std::to_string(::geteuid());
    EXPECT_EQ(modeOf(base), 01777u);
    EXPECT_EQ(modeOf(own), 0700u);
    EXPECT_TRUE(fileExists(own + "/Wardex_user"));
    EXPECT_TRUE(lock.release());
    EXPECT_TRUE(fileExists(own + "/Wardex_user")) << "lock files stay";
}

// What another account may have left where this account's lock folder belongs is never used
// nor followed: a private folder under XDG_RUNTIME_DIR stands in, and without one the lock is
// refused with the reason.
TEST(PosixMonopoly, AnAccountFolderThatIsNotOwnIsNeitherUsedNorFollowed) {
    Sandbox sandbox;
    const std::string base = sandbox.lockDirectory();
    ScopedEnv noRuntime("XDG_RUNTIME_DIR", std::nullopt);
    const std::string victim = sandbox.file("victim");
    ASSERT_EQ(::mkdir(victim.c_str(), 0755), 0);
    const std::string own = base + "/" + std::to_string(::geteuid());
    ASSERT_EQ(::symlink(victim.c_str(), own.c_str()), 0);

    Monopoly refused("Wardex_user");
    EXPECT_FALSE(refused.acquire());
    EXPECT_NE(refused.failure().find(own), std::string::npos) << refused.failure();
    EXPECT_FALSE(fileExists(victim + "/Wardex_user"));
    EXPECT_EQ(modeOf(victim), 0755u);

    ScopedEnv runtime("XDG_RUNTIME_DIR", sandbox.file("runtime"));
    Monopoly lock("Wardex_user");
    EXPECT_TRUE(lock.acquire()) << lock.failure();
    EXPECT_TRUE(fileExists(sandbox.file("runtime") + "/kalvor-locks/Wardex_user"));
    EXPECT_FALSE(fileExists(victim + "/Wardex_user"));
}

// Run as root (CI is), with account numbers that need no account.
TEST(PosixMonopoly, AnotherAccountCanNeitherHoldNorPreMakeThisAccountsLock) {
    if (!Kalvor::Test::canActAsOtherAccounts())
        GTEST_SKIP() << "needs root to act as other accounts";
    Sandbox sandbox;
    const std::string base = sandbox.lockDirectory();
    // The stranger made this account's folder first, with a lock file nobody may open.
    const std::string premade = base + "/0";
    ASSERT_EQ(::mkdir(premade.c_str(), 0777), 0);
    const int blocked = ::open((premade + "/Wardex_user").c_str(), O_CREAT | O_WRONLY, 0);
    ASSERT_GE(blocked, 0);
    ::close(blocked);
    ::chown((premade + "/Wardex_user").c_str(), 4712, 4712);
    ::chown(premade.c_str(), 4712, 4712);
    ScopedEnv runtime("XDG_RUNTIME_DIR", sandbox.file("runtime"));
    Monopoly mine("Wardex_user");
    ASSERT_TRUE(mine.acquire()) << mine.failure();
    ASSERT_TRUE(mine.release());
    // The stranger takes "the same" name: in its own folder, beside this account's.
    const std::string ready = sandbox.file("stranger.ready");
    ::chmod(sandbox.path().c_str(), 0777);
    Kalvor::Test::ChildProcess stranger = Kalvor::Test::startAsAccount(
        4712, Kalvor::Test::jobHelperPath(), {"lock", "Wardex_user", ready});
    ASSERT_TRUE(Kalvor::Test::waitFor([&] { return fileExists(ready); }));
    EXPECT_EQ(Kalvor::Test::readFile(ready), "held");
    EXPECT_TRUE(fileExists(base + "/4712/Wardex_user"));
    EXPECT_TRUE(mine.acquire()) << mine.failure();
}

} // namespace
} // namespace Kalvor
