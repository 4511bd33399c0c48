#include "JobInstance/Monopoly.h"

#include "ChildProcess.h"
#include "JobTestSupport.h"
#include "Sandbox.h"

#include <atomic>
#include <gtest/gtest.h>
#include <thread>

namespace Kalvor {
namespace {

using Test::ChildProcess;
using Test::fileExists;
using Test::jobHelperPath;
using Test::quoted;
using Test::readFile;
using Test::Sandbox;
using Test::waitFor;

// Named mutexes are machine-wide on Windows; every test takes names of its own.
class NamedMonopoly : public ::testing::Test {
protected:
    Sandbox sandbox_;
};

TEST_F(NamedMonopoly, IsRefusedToASecondHolderInTheSameProcess) {
    Monopoly first(sandbox_.uniqueName("same"));
    Monopoly second(sandbox_.uniqueName("same"));
    ASSERT_TRUE(first.acquire());
    EXPECT_TRUE(first.isHeld());
    EXPECT_FALSE(second.acquire());
    EXPECT_FALSE(second.isHeld());
    EXPECT_TRUE(first.release());
    EXPECT_FALSE(first.isHeld());
    EXPECT_TRUE(second.acquire());
    EXPECT_FALSE(first.acquire());
}

TEST_F(NamedMonopoly, AcquiringTwiceTakesOneMutexThatOneReleaseFrees) {
    Monopoly holder(sandbox_.uniqueName("twice"));
    EXPECT_TRUE(holder.acquire());
    EXPECT_TRUE(holder.acquire());
    EXPECT_TRUE(holder.release());
    EXPECT_FALSE(holder.isHeld());
    EXPECT_TRUE(holder.release()) << "releasing what is not held";
    Monopoly other(sandbox_.uniqueName("twice"));
    EXPECT_TRUE(other.acquire());
}

TEST_F(NamedMonopoly, GoesWithItsHolderWhenDestroyed) {
    {
        Monopoly holder(sandbox_.uniqueName("scope"));
        ASSERT_TRUE(holder.acquire());
    }
    Monopoly next(sandbox_.uniqueName("scope"));
    EXPECT_TRUE(next.acquire());
}

TEST_F(NamedMonopoly, IsRefusedWhileAnotherProcessHoldsItAndFreeOnceThatIsKilled) {
    const std::string name = sandbox_.uniqueName("process");
    const std::string ready = sandbox_.file("lock.ready");
    ChildProcess holder(jobHelperPath(), {"lock", name, ready});
    // Its content, not only its name: under Wine a file just renamed into place can read as
    // empty for a moment.
    ASSERT_TRUE(waitFor([&] { return !readFile(ready).empty(); }));
    ASSERT_EQ(readFile(ready), "held");

    Monopoly lock(name);
    EXPECT_FALSE(lock.acquire());
    holder.kill();
    EXPECT_TRUE(waitFor([&] { return lock.acquire(); }));

    const std::string refusedReady = sandbox_.file("refused.ready");
    ChildProcess refused(jobHelperPath(), {"lock", name, refusedReady});
    ASSERT_TRUE(waitFor([&] { return !readFile(refusedReady).empty(); }));
    EXPECT_EQ(readFile(refusedReady), "refused");
}

// Started by ProcessInstance, as the supervisor starts an application that inherits handles.
TEST_F(NamedMonopoly, AProgramStartedWithInheritedHandlesDoesNotKeepIt) {
    const std::string name = sandbox_.uniqueName("inherit");
    Monopoly lock(name);
    ASSERT_TRUE(lock.acquire());
    const std::string ready = sandbox_.file("inherit.ready");
    ProcessInstance child(jobHelperPath(), "run " + quoted(ready), false, 1);
    child.setStopWhenDestroyed(true);
    child.execute();
    ASSERT_TRUE(waitFor([&] { return fileExists(ready); }));
    ASSERT_TRUE(lock.release());
    Monopoly next(name);
    EXPECT_TRUE(next.acquire());
}

TEST_F(NamedMonopoly, AnEmptyNameIsNeverTaken) {
    Monopoly lock("");
    EXPECT_TRUE(lock.isNamed());
    EXPECT_FALSE(lock.acquire());
}

TEST(Monopoly, SetNameReplacesSeparatorsAndKeepsTheNameWhileHeld) {
    Sandbox sandbox;
    Monopoly lock;
    EXPECT_FALSE(lock.isNamed());
    EXPECT_TRUE(lock.setName("Wardex/DOMAIN\\user name"));
    EXPECT_TRUE(lock.isNamed());
    EXPECT_EQ(lock.name(), "Wardex_DOMAIN_user name");
    ASSERT_TRUE(lock.acquire());
    EXPECT_FALSE(lock.setName("Other"));
    EXPECT_EQ(lock.name(), "Wardex_DOMAIN_user name");
    EXPECT_TRUE(lock.release());
    EXPECT_TRUE(lock.setName("Other"));
    EXPECT_EQ(lock.name(), "Other");
}

TEST(Monopoly, UnnamedIsARecursiveLockOfOneThreadAtATime) {
    Monopoly lock;
    EXPECT_TRUE(lock.acquire());
    EXPECT_TRUE(lock.acquire());
    EXPECT_TRUE(lock.isHeld());
    EXPECT_FALSE(lock.setName("Late")) << "switching modes would strand the held lock";

    std::atomic<bool> mainReleasedAll{false};
    std::atomic<bool> grantedEarly{false};
    std::atomic<bool> otherHolds{false};
    std::atomic<bool> otherDone{false};
    std::atomic<bool> refused{false};
    std::thread other([&] {
        refused = !lock.release(); // it does not hold the lock
        lock.acquire();
        grantedEarly = !mainReleasedAll;
        otherHolds = true;
        while (!otherDone) {
            std::this_thread::yield();
        }
        lock.release();
    });
    EXPECT_TRUE(waitFor([&] { return refused.load(); }));
    EXPECT_TRUE(lock.release());
    EXPECT_TRUE(lock.isHeld()) << "one entry is left";
    mainReleasedAll = true;
    EXPECT_TRUE(lock.release());
    EXPECT_TRUE(waitFor([&] { return otherHolds.load(); }));
    EXPECT_FALSE(grantedEarly);
    EXPECT_TRUE(lock.isHeld());
    otherDone = true;
    other.join();
    EXPECT_FALSE(lock.isHeld());
}

} // namespace
} // namespace Kalvor
