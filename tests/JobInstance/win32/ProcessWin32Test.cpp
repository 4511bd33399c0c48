#include "JobInstance/ProcessInstance.h"

#include "Common/win32/Windows.h"
#include "JobTestSupport.h"

#include <gtest/gtest.h>

namespace Kalvor {
namespace {

using Test::startHelper;

// Exit codes are 32-bit on Windows, so a program can end with STILL_ACTIVE itself.
TEST(Win32Process, AProcessThatEndsWith259ReadsAsRunning) {
    auto job = startHelper("exit 259");
    const HANDLE process = ::OpenProcess(SYNCHRONIZE, FALSE, job->processId());
    ASSERT_NE(process, nullptr);
    EXPECT_EQ(::WaitForSingleObject(process, 60000), WAIT_OBJECT_0);
    ::CloseHandle(process);
    EXPECT_EQ(job->status(), JobRunning);
}

} // namespace
} // namespace Kalvor
