#include "JobInstance/SharedLock.h"

#include "JobTestSupport.h"

#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Kalvor {
namespace {

using Test::fileExists;
using Test::quoted;
using Test::readFile;
using Test::ScopedEnv;
using Test::TempDir;

struct stat statusOf(const std::string& path) {
    struct stat info {};
    ::lstat(path.c_str(), &info);
    return info;
}

TEST(PosixSharedLock, WhatHoldsNoLockAtTheNameIsReplacedAndALinkThereIsNotFollowed) {
    TempDir folder;
    ScopedEnv lockDirectory("KALVOR_LOCK_DIR", folder.file("locks"));
    const std::string own = folder.file("locks/" + std::to_string(::geteuid()));
    { // the folder is made by the first lock of the account
        SharedLock first("first");
        ASSERT_TRUE(first.acquire(0)) << first.failure();
    }
    std::ofstream(own + "/garbled.mutex") << "not a lock";
    const std::string victim = folder.file("victim");
    std::ofstream(victim) << "keep";
    ASSERT_EQ(::symlink(victim.c_str(), (own + "/linked.mutex").c_str()), 0);

    for (const char* name : {"garbled", "linked"}) {
        SharedLock lock(name);
        EXPECT_TRUE(lock.acquire(0)) << name << ": " << lock.failure();
        EXPECT_EQ(lock.changes(), 0u) << name;
        const struct stat made = statusOf(own + "/" + name + ".mutex");
        EXPECT_TRUE(S_ISREG(made.st_mode)) << name;
        EXPECT_EQ(made.st_mode & 0077, 0u) << name << ": for this account alone";
    }
    EXPECT_EQ(readFile(victim), "keep");
}

TEST(PosixSharedLock, AnotherAccountsHolderNeitherBlocksNorSharesThisAccountsLock) {
    if (!Kalvor::Test::canActAsOtherAccounts())
        GTEST_SKIP() << "needs root to act as other accounts";
    TempDir folder;
    const std::string base = folder.file("locks");
    ScopedEnv lockDirectory("KALVOR_LOCK_DIR", base);
    SharedLock mine("Kalvor_Debug.log");
    ASSERT_TRUE(mine.acquire(0)) << mine.failure();
    mine.release();
    ::chmod(folder.path().c_str(), 0777);
    const std::string ready = folder.file("stranger.ready");
    ProcessInstance stranger("setpriv", "--reuid=4712 --regid=4712 --clear-groups " +
                                            quoted(Kalvor::Test::jobHelperPath()) +
                                            " shared-lock Kalvor_Debug.log " + quoted(ready));
    stranger.setStopWhenDestroyed(true);
    stranger.execute();
    ASSERT_TRUE(Kalvor::Test::waitFor([&] { return fileExists(ready); }));
    ASSERT_EQ(readFile(ready), "held 1");

    EXPECT_TRUE(mine.acquire(0)) << mine.failure();
    EXPECT_EQ(mine.changes(), 0u) << "the stranger's changes are its own";
    EXPECT_TRUE(fileExists(base + "/4712/Kalvor_Debug.log.mutex"));
}

} // namespace
} // namespace Kalvor
