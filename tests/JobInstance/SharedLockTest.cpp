#include "JobInstance/SharedLock.h"

#include "ChildProcess.h"
#include "JobTestSupport.h"
#include "Sandbox.h"

#include <fstream>
#include <gtest/gtest.h>
#include <thread>

namespace Kalvor {
namespace {

using Test::ChildProcess;
using Test::fileExists;
using Test::readFile;
using Test::waitFor;

// Named objects are per session on Windows: every test takes names of its own.
class SharedLockTest : public ::testing::Test {
protected:
    // The helper holding the lock `name`, once it says so; `said` is what it wrote. It gives
    // the lock up once `release` (READY.release) is there.
    ChildProcess startHolder(const std::string& name, std::string& said,
                             std::string* release = nullptr) {
        const std::string ready = sandbox_.file(std::to_string(++started_) + ".ready");
        if (release != nullptr)
            *release = ready + ".release";
        ChildProcess holder(Kalvor::Test::jobHelperPath(), {"shared-lock", name, ready});
        // Its content, not only its name: under Wine a file just renamed into place can read
        // as empty for a moment.
        EXPECT_TRUE(waitFor([&] {
            said = readFile(ready);
            return !said.empty();
        })) << "the holder never got ready";
        return holder;
    }

    Kalvor::Test::Sandbox sandbox_;
    int started_ = 0;
};

TEST_F(SharedLockTest, AnotherProcessWaitsUntilTheHolderLetsGo) {
    const std::string name = sandbox_.uniqueName("wait");
    std::string said;
    std::string release;
    auto holder = startHolder(name, said, &release);
    ASSERT_EQ(said, "held 1");

    SharedLock lock(name);
    EXPECT_FALSE(lock.acquire(50));
    EXPECT_NE(lock.failure().find("held by another"), std::string::npos) << lock.failure();
    EXPECT_FALSE(lock.isHeld());

    // Told to, the holder gives the lock up while this process is waiting for it.
    std::thread releaser([&] { std::ofstream(release) << "now"; });
    EXPECT_TRUE(lock.acquire(10000)) << lock.failure();
    releaser.join();
    EXPECT_EQ(lock.changes(), 1u) << "the holder's change is seen here";
    lock.bumpChanges();
    lock.release();
    EXPECT_FALSE(lock.isHeld());

    auto next = startHolder(name, said);
    EXPECT_EQ(said, "held 3") << "both earlier changes are seen there";
}

TEST_F(SharedLockTest, AHolderThatDiesGivesItUp) {
    const std::string name = sandbox_.uniqueName("dies");
    std::string said;
    auto holder = startHolder(name, said);
    ASSERT_EQ(said, "held 1");
    holder.kill();

    // Tried without waiting: ThreadSanitizer does not see a lock that a waiting
    // pthread_mutex_timedlock takes over from a dead holder, though the lock itself works.
    SharedLock lock(name);
    EXPECT_TRUE(waitFor([&] { return lock.acquire(0); })) << lock.failure();
    lock.release();
    EXPECT_TRUE(lock.acquire(0)) << "recovered for good, not just once";
}

TEST_F(SharedLockTest, ThreadsOfOneProcessTakeTurns) {
    const std::string name = sandbox_.uniqueName("threads");
    constexpr int kThreads = 4;
    constexpr int kRounds = 2000;
    int64_t unguarded = 0; // only ever touched under the lock
    // Attached before the threads and after them: on Windows the count lasts only while
    // somebody has the name open.
    SharedLock lock(name);
    ASSERT_TRUE(lock.acquire(0));
    lock.release();
    std::vector<std::thread> threads;
    for (int index = 0; index < kThreads; ++index)
        threads.emplace_back([&] {
            SharedLock lock(name);
            for (int round = 0; round < kRounds; ++round) {
                ASSERT_TRUE(lock.acquire(10000)) << lock.failure();
                ++unguarded;
                lock.bumpChanges();
                lock.release();
            }
        });
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(unguarded, kThreads * kRounds);
    ASSERT_TRUE(lock.acquire(0));
    EXPECT_EQ(lock.changes(), static_cast<uint64_t>(kThreads * kRounds));
}

TEST_F(SharedLockTest, AcquiringWhatThisObjectHoldsIsAtOnce) {
    SharedLock lock(sandbox_.uniqueName("again"));
    ASSERT_TRUE(lock.acquire(0));
    EXPECT_TRUE(lock.acquire(0));
    lock.release();
    EXPECT_FALSE(lock.isHeld());
    lock.release(); // not held: nothing happens
}

} // namespace
} // namespace Kalvor
