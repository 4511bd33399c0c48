// Ordinary programs started from a ProcessLaunch, and their containers: the same contract on
// both platforms.
#include "JobInstance/ProcessInstance.h"

#include "Common/SystemError.h"
#include "JobInstance/ChildReaper.h"
#include "JobInstance/OutputPipe.h"
#include "JobInstance/WaitSet.h"
#include "JobTestSupport.h"

#include <algorithm>
#include <cstdlib>
#include <gtest/gtest.h>

namespace Kalvor {
namespace {

using Test::captureJobError;
using Test::contains;
using Test::fileExists;
using Test::jobHelperPath;
using Test::launchHelper;
using Test::processIdIn;
using Test::quoted;
using Test::readFile;
using Test::startReadyHelper;
using Test::TempDir;
using Test::waitFor;
using Test::writeFile;

std::string withoutCarriageReturns(std::string text) {
    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
    return text;
}

class ProcessContainer : public Test::ContainerTest {};

TEST(ProcessLaunch, StartsTheCommandLineInItsDirectory) {
    TempDir folder;
    ProcessLaunch launch;
    launch.directory = folder.path();
    // A relative output file lands in the program's directory.
    auto job = launchHelper(R"(args out.txt plain "with  blanks" "quote\"inside" "")", launch);
    EXPECT_TRUE(waitFor([&] { return job->status() == JobFinished; }));
    const ExitStatus ended = job->exitStatus();
    EXPECT_TRUE(ended.known);
    EXPECT_EQ(ended.code, 0);
    EXPECT_EQ(readFile(folder.file("out.txt")), "plain\nwith  blanks\nquote\"inside\n\n");
    EXPECT_EQ(job->container(), "");
}

// What the pipe carries until every writer has gone; "(open)" ends it when that takes longer
// than the wait.
std::string everythingFrom(OutputPipe& pipe) {
    WaitSet waits;
    std::string bytes;
    const bool ended = waitFor([&] {
        waits.watch(pipe.waitable());
        waits.wait(100);
        return !pipe.read(bytes, 4096);
    });
    return withoutCarriageReturns(bytes) + (ended ? "" : "(open)");
}

TEST(OutputPipe, CarriesBothStreamsOfAProgramAndEndsWhenTheProgramHas) {
    OutputPipe pipe;
    ProcessLaunch launch;
    launch.output = &pipe;
    auto job = launchHelper("print first", launch);
    pipe.closeWriteEnd();
    EXPECT_EQ(everythingFrom(pipe), "first\nfirst\n");
    EXPECT_TRUE(waitFor([&] { return job->status() == JobFinished; }));

    OutputPipe unused;
    unused.closeWriteEnd();
    std::string nothing;
    EXPECT_TRUE(waitFor([&] { return !unused.read(nothing, 4096); }));
    EXPECT_EQ(nothing, "");
}

// Output is never cut off while a process the program started can still write.
TEST_F(ProcessContainer, AnOutputPipeLastsWhileAnythingTheProgramStartedHoldsIt) {
    OutputPipe pipe;
    ProcessLaunch launch;
    launch.output = &pipe;
    const std::string ready = folder_.file("child.ready");
    ProcessInstance& parent = launchIn(container_, "spawn-child " + quoted(ready), launch);
    pipe.closeWriteEnd();
    ASSERT_TRUE(waitFor([&] { return fileExists(ready); }));
    parent.stop();
    ASSERT_TRUE(waitFor([&] { return parent.status() != JobRunning; }));
    std::string bytes;
    EXPECT_TRUE(pipe.read(bytes, 4096)) << "the grandchild still holds it";
    parent.killContainer();
    EXPECT_EQ(everythingFrom(pipe), "");
}

// "<command line>", <label>N (<the system's text for N>)[ (<what failed>)]
void expectSystemText(const std::string& detail, const std::string& commandLine) {
    EXPECT_EQ(detail.rfind(commandLine + "\", ", 0), 0u) << detail;
    const std::size_t number = detail.find(" : ");
    ASSERT_NE(number, std::string::npos) << detail;
    const auto error = static_cast<int32_t>(std::atol(detail.c_str() + number + 3));
    EXPECT_NE(error, 0) << detail;
    EXPECT_NE(detail.find(std::to_string(error) + " (" + systemErrorText(error) + ")"),
              std::string::npos)
        << detail;
}

TEST(ProcessLaunch, AStartFailureCarriesTheSystemsText) {
    TempDir folder;
    ProcessLaunch missingProgram;
    missingProgram.commandLine = quoted(folder.file("missing-program.exe")) + " x";
    ProcessInstance noProgram(missingProgram);
    const JobException noProgramError = captureJobError([&] { noProgram.execute(); });
    EXPECT_EQ(noProgramError.code(), JB_UNABLE_TO_START);
    expectSystemText(noProgramError.detail(), missingProgram.commandLine);
    EXPECT_EQ(noProgram.status(), JobNotStarted);

    ProcessLaunch missingDirectory;
    missingDirectory.commandLine = quoted(jobHelperPath()) + " exit 0";
    missingDirectory.directory = folder.file("no-such-folder");
    ProcessInstance noDirectory(missingDirectory);
    const JobException noDirectoryError = captureJobError([&] { noDirectory.execute(); });
    EXPECT_EQ(noDirectoryError.code(), JB_UNABLE_TO_START);
    expectSystemText(noDirectoryError.detail(), missingDirectory.commandLine);
    EXPECT_NE(noDirectoryError.detail().find(missingDirectory.directory), std::string::npos)
        << noDirectoryError.detail();

    ProcessInstance classic(folder.file("missing-program.exe"), "x");
    expectSystemText(captureJobError([&] { classic.execute(); }).detail(), classic.commandLine());
}

TEST_F(ProcessContainer, AKillEndsTheProgramWithWhatItStartedAndItsDaemons) {
    const std::string childReady = folder_.file("child.ready");
    const std::string daemonReady = folder_.file("daemon.ready");
    ProcessInstance& parent = launchIn(container_, "spawn-child " + quoted(childReady));
    // A second program in the same container, which leaves a daemon behind.
    ProcessInstance& starter = launchIn(container_, "daemon " + quoted(daemonReady));
    ASSERT_TRUE(waitFor([&] { return fileExists(childReady) && fileExists(daemonReady); }));
    const uint32_t child = processIdIn(childReady);
    const uint32_t daemon = processIdIn(daemonReady);
    ASSERT_TRUE(waitFor([&] { return starter.status() == JobFinished; }));
    EXPECT_EQ(starter.exitStatus().code, 0);

    ProcessInstance childWatch(child, child);
    ProcessInstance daemonWatch(daemon, daemon);
    const std::vector<uint32_t> before = parent.containerProcesses();
    EXPECT_TRUE(contains(before, parent.processId()));
    EXPECT_TRUE(contains(before, child));
    EXPECT_TRUE(contains(before, daemon));

    parent.killContainer();
    EXPECT_TRUE(waitFor([&] {
        ChildReaper::reapInherited();
        return parent.containerProcesses().empty();
    }));
    EXPECT_TRUE(waitFor([&] { return parent.status() == JobFinished; }));
    EXPECT_EQ(childWatch.status(), JobFinished);
    EXPECT_EQ(daemonWatch.status(), JobFinished);
}

// A supervisor that has gone (crashed, say) leaves its programs running; the next one attaches
// to the program and finds its container, daemons included, by the container's name.
TEST_F(ProcessContainer, OutlivesItsJobAndIsFoundAgainByItsName) {
    const std::string childReady = folder_.file("child.ready");
    const std::string daemonReady = folder_.file("daemon.ready");
    launchIn(container_, "daemon " + quoted(daemonReady));
    uint32_t program = 0;
    uint32_t thread = 0;
    {
        ProcessLaunch launch;
        launch.container = container_;
        auto job = launchHelper("spawn-child " + quoted(childReady), launch);
        program = job->processId();
        thread = job->threadId();
        job->setStopWhenDestroyed(false);
        ASSERT_TRUE(waitFor([&] { return fileExists(childReady) && fileExists(daemonReady); }));
    }
    ProcessInstance& found = keep(std::make_unique<ProcessInstance>(program, thread));
    EXPECT_EQ(found.status(), JobRunning);
    EXPECT_EQ(found.containerProcesses(), std::vector<uint32_t>{program})
        << "without its container an attached job sees its process alone";
    ASSERT_TRUE(found.attachContainer(container_));
    EXPECT_EQ(found.container(), container_);
    const std::vector<uint32_t> left = found.containerProcesses();
    EXPECT_TRUE(contains(left, program));
    EXPECT_TRUE(contains(left, processIdIn(childReady)));
    EXPECT_TRUE(contains(left, processIdIn(daemonReady)));
    found.killContainer();
    EXPECT_TRUE(waitFor([&] {
        ChildReaper::reapInherited();
        return found.containerProcesses().empty();
    }));
}

TEST_F(ProcessContainer, AskingToCloseEndsAProgramThatListens) {
    const std::string ready = folder_.file("run.ready");
    ProcessInstance& job = launchIn(container_, "run " + quoted(ready));
    ASSERT_TRUE(waitFor([&] { return fileExists(ready); }));
    EXPECT_EQ(job.status(), JobRunning);
    EXPECT_FALSE(job.exitStatus().known) << "still running";
    EXPECT_TRUE(job.askContainerToClose());
    EXPECT_TRUE(waitFor([&] { return job.status() == JobFinished; }));
    EXPECT_TRUE(job.exitStatus().known);
    EXPECT_TRUE(job.containerProcesses().empty());
}

TEST_F(ProcessContainer, AProgramThatCannotBeAskedIsNotToldAndOnlyAKillEndsIt) {
    const std::string ready = folder_.file("ignore.ready");
    ProcessInstance& job = launchIn(container_, "ignore-close " + quoted(ready));
    ASSERT_TRUE(waitFor([&] { return fileExists(ready); }));
    EXPECT_FALSE(job.askContainerToClose());
    EXPECT_EQ(job.status(), JobRunning);
    job.killContainer();
    EXPECT_TRUE(waitFor([&] { return job.status() == JobFinished; }));
    EXPECT_TRUE(job.exitStatus().known);
}

TEST_F(ProcessContainer, ExitStatusTellsTheCodeTheProgramEndedWith) {
    ProcessInstance& job = launchIn(container_, "exit 3");
    EXPECT_TRUE(waitFor([&] { return job.status() == JobFinished; }));
    const ExitStatus ended = job.exitStatus();
    EXPECT_TRUE(ended.known);
    EXPECT_EQ(ended.code, 3);
    EXPECT_EQ(ended.signal, 0);
}

// The operations serve the suite's own applications too, which have no container.
TEST(ProcessLaunch, WithoutAContainerTheOperationsReachTheProcessAlone) {
    TempDir folder;
    auto listening = startReadyHelper(folder, "run");
    EXPECT_EQ(listening->container(), "");
    EXPECT_EQ(listening->containerProcesses(), std::vector<uint32_t>{listening->processId()});
    EXPECT_TRUE(listening->askContainerToClose());
    EXPECT_TRUE(waitFor([&] { return listening->status() == JobFinished; }));
    EXPECT_TRUE(listening->containerProcesses().empty());

    auto deaf = startReadyHelper(folder, "ignore-close");
    EXPECT_FALSE(deaf->askContainerToClose());
    deaf->killContainer();
    EXPECT_TRUE(waitFor([&] { return deaf->status() == JobFinished; }));

    ProcessInstance notStarted(jobHelperPath(), "exit 0");
    EXPECT_FALSE(notStarted.askContainerToClose());
    notStarted.killContainer();
    EXPECT_TRUE(notStarted.containerProcesses().empty());
    EXPECT_FALSE(notStarted.exitStatus().known);
    EXPECT_FALSE(notStarted.attachContainer("anything"));
}

} // namespace
} // namespace Kalvor
