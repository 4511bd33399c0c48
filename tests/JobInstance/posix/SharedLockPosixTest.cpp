#include "JobInstance/SharedLock.h"

#include "ChildProcess.h"
#include "JobTestSupport.h"
#include "Sandbox.h"

#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Kalvor {
namespace {

using Test::fileExists;
using Test::readFile;
using Test::Sandbox;

struct stat statusOf(const std::string& path) {
    struct stat info {};
    ::lstat(path.c_str(), &info);
    return info;
}

TEST(PosixSharedLock, WhatHoldsNoLockAtTheNameIsReplacedAndALinkThereIsNotFollowed) {
    Sandbox sandbox;
    const std::string own = sandbox.lockDirectory() + "/" + std::to_string(::geteuid());
    { // the folder is made by the first lock of the account
        SharedLock first("first");
        ASSERT_TRUE(first.acquire(0)) << first.failure();
    }
    std::ofstream(own + "/garbled.mutex") << "not a lock";
    const std::string victim = sandbox.file("victim");
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
    Sandbox sandbox;
    const std::string base = sandbox.lockDirectory();
    SharedLock mine("Kalvor_Debug.log");
    ::chmod(sandbox.path().c_str(), 0777);
    const std::string ready = sandbox.file("stranger.ready");
    Kalvor::Test::ChildProcess stranger = Kalvor::Test::startAsAccount(
        4712, Kalvor::Test::jobHelperPath(), {"shared-lock", "Kalvor_Debug.log", ready});
    ASSERT_TRUE(Kalvor::Test::waitFor([&] { return fileExists(ready); }));
    ASSERT_EQ(readFile(ready), "held 1");

    EXPECT_TRUE(mine.acquire(0)) << mine.failure();
    EXPECT_EQ(mine.changes(), 0u) << "the stranger's changes are its own";
    EXPECT_TRUE(fileExists(base + "/4712/Kalvor_Debug.log.mutex"));
}

} // namespace
} // namespace Kalvor
