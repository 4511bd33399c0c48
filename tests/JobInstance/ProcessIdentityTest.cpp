// The check a running process passes before the supervisor adopts it as an application.
#include "JobInstance/ProcessIdentity.h"

#include "JobInstance/ThreadMessages.h"
#include "JobTestSupport.h"

#include <gtest/gtest.h>

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

} // namespace
} // namespace Kalvor
