#include "JobInstance/ProcessInstance.h"

#include "JobInstance/CommandLine.h"
#include "JobTestSupport.h"

#include <gtest/gtest.h>

namespace Kalvor {
namespace {

using Test::captureJobError;
using Test::jobHelperPath;
using Test::quoted;
using Test::readFile;
using Test::startHelper;
using Test::startReadyHelper;
using Test::TempDir;
using Test::waitFor;

// The exit code, once the process has ended; kStillActive if it never did.
int32_t finalExitCode(ProcessInstance& job) {
    int32_t code = kStillActive;
    waitFor([&] { return job.exitCode(code) == 0 && code != kStillActive; });
    return code;
}

TEST(ProcessInstance, IsNotStartedUntilExecuted) {
    ProcessInstance job(jobHelperPath(), "exit 0");
    EXPECT_EQ(job.status(), JobNotStarted);
    int32_t code = 123;
    EXPECT_EQ(job.exitCode(code), JobNotStarted);
    EXPECT_EQ(code, 123);
    job.stop(); // nothing to stop
    EXPECT_EQ(job.status(), JobNotStarted);
}

TEST(ProcessInstance, RunsThenFinishesWithTheProgramsExitCode) {
    TempDir folder;
    auto running = startReadyHelper(folder, "run");
    EXPECT_EQ(running->status(), JobRunning);
    int32_t code = 123;
    EXPECT_EQ(running->exitCode(code), 0);
    EXPECT_EQ(code, 123) << "a running process leaves the code alone";
    EXPECT_NE(running->processId(), 0u);
    EXPECT_NE(running->threadId(), 0u);

    auto finished = startHelper("exit 42");
    EXPECT_TRUE(waitFor([&] { return finished->status() == JobFinished; }));
    EXPECT_EQ(finalExitCode(*finished), 42);
}

TEST(ProcessInstance, APoliteStopClosesAProcessThatListens) {
    TempDir folder;
    auto job = startReadyHelper(folder, "run");
    job->terminate(false, 5, 10000);
    EXPECT_EQ(job->status(), JobClosed);
    EXPECT_EQ(finalExitCode(*job), 5);

    auto stopped = startReadyHelper(folder, "run");
    stopped->stop();
    EXPECT_EQ(stopped->status(), JobClosed);
    EXPECT_EQ(finalExitCode(*stopped), -1);
}

TEST(ProcessInstance, AForcedEndKillsWithTheGivenExitCode) {
    TempDir folder;
    auto job = startReadyHelper(folder, "run");
    job->terminate(true, 9, 0);
    EXPECT_EQ(job->status(), JobKilled);
    EXPECT_EQ(finalExitCode(*job), 9);
    job->terminate(true, 1, 0); // ended already: nothing more happens
    EXPECT_EQ(finalExitCode(*job), 9);
}

TEST(ProcessInstance, AProcessThatCannotBeAskedToCloseIsEndedAtOnce) {
    TempDir folder;
    auto job = startReadyHelper(folder, "ignore-close");
    job->terminate(false, 4, 60000); // would fail the test by its time-out if it waited
    EXPECT_EQ(job->status(), JobKilled);
    EXPECT_EQ(finalExitCode(*job), 4);
}

TEST(ProcessInstance, AttachesToARunningProcessAndSeesItEnd) {
    TempDir folder;
    auto owner = startReadyHelper(folder, "run");
    ProcessInstance attached(owner->processId(), owner->threadId());
    EXPECT_EQ(attached.status(), JobRunning);
    EXPECT_EQ(attached.processId(), owner->processId());
    EXPECT_EQ(attached.threadId(), owner->threadId());
    owner->terminate(true, 3, 0);
    EXPECT_TRUE(waitFor([&] { return attached.status() == JobFinished; }));
}

TEST(ProcessInstance, AnAttachedJobClosesItsProcessPolitely) {
    TempDir folder;
    auto owner = startReadyHelper(folder, "run");
    ProcessInstance attached(owner->processId(), owner->threadId());
    attached.stop();
    EXPECT_EQ(attached.status(), JobClosed);
    EXPECT_TRUE(waitFor([&] { return owner->status() == JobFinished; }));
}

TEST(ProcessInstance, AttachingToProcessZeroIsRefused) {
    const JobException error = captureJobError([] { ProcessInstance job(0, 0); });
    EXPECT_EQ(error.code(), JB_PROCESS);
    EXPECT_EQ(error.detail().rfind("Unable to access process. Error code ", 0), 0u)
        << error.detail();
}

TEST(ProcessInstance, AProgramThatCannotBeStartedIsReported) {
    TempDir folder;
    const std::string notAProgram = folder.file("not-a-program.exe");
    std::ofstream(notAProgram) << "just text\n";
    for (const std::string& path : {folder.file("missing-program.exe"), notAProgram}) {
        ProcessInstance job(path, "x");
        const JobException error = captureJobError([&] { job.execute(); });
        EXPECT_EQ(error.code(), JB_UNABLE_TO_START) << path;
        EXPECT_EQ(error.detail().rfind(job.commandLine() + "\", ", 0), 0u) << error.detail();
        EXPECT_EQ(job.status(), JobNotStarted);
    }
}

TEST(ProcessInstance, AProgramNameWithoutAFolderIsFoundBesideTheRunningProgram) {
    for (const char* name : {"kalvor-job-helper", "kalvor-job-helper.exe"}) {
        ProcessInstance job(name, "exit 6");
        job.setStopWhenDestroyed(true);
        job.execute();
        EXPECT_EQ(finalExitCode(job), 6) << name;
    }
}

TEST(ProcessInstance, TheProgramGetsItsArgumentsSplitByTheWindowsRules) {
    TempDir folder;
    const std::string output = folder.file("arguments.txt");
    auto job = startHelper("args " + quoted(output) +
                           R"( plain "with  blanks" a\b\ "quote\"inside" x\\"y z" "" end)");
    EXPECT_EQ(finalExitCode(*job), 0);
    EXPECT_EQ(readFile(output), "plain\nwith  blanks\na\\b\\\nquote\"inside\nx\\y z\n\nend\n");
}

TEST(ProcessInstance, ALongCommandLineArrivesWholeAndATooLongOneIsRefused) {
    TempDir folder;
    const std::string output = folder.file("arguments.txt");
    const std::string prefix = "args " + quoted(output) + " ";
    const std::size_t fixed = buildCommandLine(jobHelperPath(), prefix).size();
    const std::string longest(32000 - fixed, 'x');
    auto job = startHelper(prefix + longest);
    EXPECT_EQ(finalExitCode(*job), 0);
    EXPECT_EQ(readFile(output), longest + "\n");

    const std::string tooLong(kMaxCommandLineLength + 1 - fixed, 'x');
    ProcessInstance refused(jobHelperPath(), prefix + tooLong);
    ASSERT_EQ(refused.commandLine().size(), kMaxCommandLineLength + 1);
    EXPECT_EQ(captureJobError([&] { refused.execute(); }).code(), JB_UNABLE_TO_START);
    EXPECT_EQ(refused.status(), JobNotStarted);
}

TEST(ProcessInstance, ExecuteRefusesWhileItsProcessRuns) {
    TempDir folder;
    auto job = startReadyHelper(folder, "run");
    EXPECT_EQ(captureJobError([&] { job->execute(); }).code(), JB_STILL_RUNNING);
    EXPECT_EQ(job->status(), JobRunning);
}

TEST(ProcessInstance, DestructionEndsTheProcessOnlyWithStopWhenDestroyed) {
    TempDir folder;
    auto owner = startReadyHelper(folder, "run");
    ProcessInstance watcher(owner->processId(), owner->threadId());
    { ProcessInstance released(owner->processId(), owner->threadId()); }
    EXPECT_EQ(watcher.status(), JobRunning);
    {
        ProcessInstance stopping(owner->processId(), owner->threadId());
        stopping.setStopWhenDestroyed(true);
    }
    EXPECT_TRUE(waitFor([&] { return watcher.status() == JobFinished; }));
}

} // namespace
} // namespace Kalvor
