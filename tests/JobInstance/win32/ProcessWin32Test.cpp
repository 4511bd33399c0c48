#include "JobInstance/ProcessInstance.h"

#include "Common/win32/Windows.h"

#include <tlhelp32.h>
#include "HelperPlatform.h"
#include "JobTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace Kalvor {
namespace {

using Test::fileExists;
using Test::processIdIn;
using Test::quoted;
using Test::startHelper;
using Test::waitFor;

class Win32Container : public Test::ContainerTest {};

// "1234 name.exe, ..." of the processes, for a failure's message: what stayed in a job.
std::string processNames(const std::vector<uint32_t>& processes) {
    std::string names;
    const HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = snapshot != INVALID_HANDLE_VALUE && ::Process32First(snapshot, &entry); more;
         more = ::Process32Next(snapshot, &entry))
        if (std::find(processes.begin(), processes.end(), entry.th32ProcessID) != processes.end())
            names += std::to_string(entry.th32ProcessID) + " " + entry.szExeFile + ", ";
    if (snapshot != INVALID_HANDLE_VALUE)
        ::CloseHandle(snapshot);
    return names;
}

// Exit codes are 32-bit on Windows, so a program can end with STILL_ACTIVE itself.
TEST(Win32Process, AProcessThatEndsWith259ReadsAsRunning) {
    auto job = startHelper("exit 259");
    const HANDLE process = ::OpenProcess(SYNCHRONIZE, FALSE, job->processId());
    ASSERT_NE(process, nullptr);
    EXPECT_EQ(::WaitForSingleObject(process, 60000), WAIT_OBJECT_0);
    ::CloseHandle(process);
    EXPECT_EQ(job->status(), JobRunning);
}

// exitCode() cannot tell that end from a run; exitStatus() can.
TEST_F(Win32Container, ExitStatusTellsAnEndWith259AndAKillsCode) {
    ProcessInstance& large = launchIn(container_, "exit 259");
    ASSERT_TRUE(waitFor([&] { return large.exitStatus().known; }));
    EXPECT_EQ(large.exitStatus().code, 259);
    EXPECT_EQ(large.exitStatus().signal, 0);

    const std::string ready = folder_.file("run.ready");
    ProcessInstance& killed = launchIn(container_ + "-2", "run " + quoted(ready));
    ASSERT_TRUE(waitFor([&] { return fileExists(ready); }));
    killed.killContainer();
    ASSERT_TRUE(waitFor([&] { return killed.status() == JobFinished; }));
    EXPECT_EQ(killed.exitStatus().code, 1);
    EXPECT_EQ(killed.exitStatus().signal, 0);
}

TEST_F(Win32Container, AskingToCloseReachesTheWindowsOfEveryProcessInTheJob) {
    const std::string ready = folder_.file("window.ready");
    ProcessInstance& parent = launchIn(container_, "spawn-child " + quoted(ready) + " window");
    ASSERT_TRUE(waitFor([&] { return fileExists(ready); }));
    const uint32_t windowed = processIdIn(ready);
    ProcessInstance watch(windowed, windowed);
    EXPECT_TRUE(parent.askContainerToClose());
    EXPECT_TRUE(waitFor([&] { return parent.containerProcesses().empty(); }))
        << processNames(parent.containerProcesses());
    EXPECT_EQ(watch.exitStatus().code, Kalvor::Test::kClosedByWindow)
        << "closed through its window";
    EXPECT_EQ(parent.exitStatus().code, -1) << "its main thread was asked as stop() asks";
}

TEST_F(Win32Container, IsANamedJobObjectThatAnAttachedJobOpensByName) {
    const std::string ready = folder_.file("run.ready");
    ProcessInstance& job = launchIn(container_, "run " + quoted(ready));
    ASSERT_TRUE(waitFor([&] { return fileExists(ready); }));
    const HANDLE named =
        ::OpenJobObjectA(JOB_OBJECT_QUERY, FALSE, ("Local\\Kalvor_" + container_).c_str());
    ASSERT_NE(named, nullptr);
    BOOL inJob = FALSE;
    const HANDLE process = ::OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, job.processId());
    ASSERT_NE(process, nullptr);
    EXPECT_TRUE(::IsProcessInJob(process, named, &inJob)) << ::GetLastError();
    EXPECT_TRUE(inJob);
    ::CloseHandle(process);
    ::CloseHandle(named);

    ProcessInstance attached(job.processId(), job.threadId());
    EXPECT_FALSE(attached.attachContainer(container_ + "-none")) << "no such job object";
    EXPECT_TRUE(attached.attachContainer(container_));
    EXPECT_EQ(attached.containerProcesses(), std::vector<uint32_t>{job.processId()});
}

} // namespace
} // namespace Kalvor
