// The check a running process passes before the supervisor adopts it as an application.
#include "JobInstance/ProcessIdentity.h"

#include "ChildProcess.h"
#include "JobInstance/ThreadMessages.h"
#include "JobTestSupport.h"

#include <filesystem>
#include <future>
#include <gtest/gtest.h>
#include <thread>
#include <unistd.h>

namespace Kalvor {
namespace {

TEST(ProcessIdentity, ARunningHelperIsItsOwnProgramWithItsThread) {
    Kalvor::Test::TempDir folder;
    auto helper = Kalvor::Test::startReadyHelper(folder, "run");
    const uint32_t process = helper->processId();
    const uint32_t thread = helper->threadId();
    EXPECT_EQ(processMismatch(process, thread, Kalvor::Test::jobHelperPath()), "");
    // Another program, another process's thread, a process that is not there.
    EXPECT_NE(processMismatch(process, thread, Kalvor::Test::currentExecutablePath()), "");
    EXPECT_NE(processMismatch(process, currentThreadId(), Kalvor::Test::jobHelperPath()), "");
}

// getpid() is there on both platforms (mingw's unistd.h has it); this test program does not link
// the File library's currentProcessId().
uint32_t ownProcessId() {
    return static_cast<uint32_t>(::getpid());
}

// A process id with its start time names one process: set while it runs, the same at every look,
// 0 once it has ended (reaped or not) and for an id that names no process.
TEST(ProcessStartTime, IsSetWhileTheProcessRunsAndZeroOtherwise) {
    const uint64_t own = processStartTime(ownProcessId());
    EXPECT_NE(own, 0u);
    EXPECT_EQ(processStartTime(ownProcessId()), own);
    EXPECT_EQ(processStartTime(0), 0u);
    EXPECT_EQ(processStartTime(0xFFFFFFFCu), 0u);
    // A running thread's id: posix /proc answers for it too.
    std::promise<uint32_t> id;
    std::promise<void> release;
    std::thread other([&] {
        id.set_value(currentThreadId());
        release.get_future().wait();
    });
    EXPECT_EQ(processStartTime(id.get_future().get()), 0u);
    release.set_value();
    other.join();
}

// Under a name with blanks and parentheses, shown in /proc/PID/stat as "(job) 1 2 (helpe)".
TEST(ProcessStartTime, OfAHelperIsSetWhileItRunsAndZeroOnceItHasEnded) {
    Kalvor::Test::TempDir folder;
    const std::filesystem::path helper(Kalvor::Test::jobHelperPath());
    const std::string program = folder.file("job) 1 2 (helper" + helper.extension().string());
    std::filesystem::copy_file(helper, program);
    const std::string ready = folder.file("helper.ready");
    Kalvor::Test::ChildProcess child(program, {"run", ready});
    ASSERT_TRUE(Kalvor::Test::waitFor([&] { return Kalvor::Test::fileExists(ready); }));
    const uint64_t started = processStartTime(child.processId());
    EXPECT_NE(started, 0u);
    EXPECT_GE(started, processStartTime(ownProcessId())) << "it started after this process";
    EXPECT_EQ(processStartTime(child.processId()), started);
    // Ended, not yet reaped: posix keeps a zombie, win32 the process our handle holds.
    ASSERT_TRUE(child.askToClose());
    EXPECT_TRUE(Kalvor::Test::waitFor([&] { return processStartTime(child.processId()) == 0; }));
    EXPECT_TRUE(child.waitForExit().has_value());
    EXPECT_EQ(processStartTime(child.processId()), 0u);
}

} // namespace
} // namespace Kalvor
