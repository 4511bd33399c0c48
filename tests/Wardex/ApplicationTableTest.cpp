// The table of supervised applications: getting, capturing, restarting and giving up, driven by
// a clock the test moves and jobs whose status it sets.
#include "Win32_App/KalvorWardex/ApplicationTable.h"
#include "FakeServices.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

namespace Kalvor {
namespace {

using Kalvor::Test::FakeJob;

class ApplicationTableTest : public ::testing::Test {
protected:
    ApplicationTableTest()
        : logger_(std::make_shared<LoggerUnit>(log_.dispatcher(), 23)),
          table_(logger_, services_, clock_, "tester") {}

    SupervisedApp& listed(const std::string& name, bool active) {
        SupervisedApp& app = table_.findOrAdd(name);
        app.active = active;
        app.id = name + "Id";
        return app;
    }
    void check() { table_.check(clock_.now(), false); }
    AppState stateOf(const std::string& name) { return table_.find(name)->state; }
    // "Wardex_<user tag>_<installation>_<name>".
    static bool isContainerOf(const std::string& container, const std::string& name) {
        const std::string prefix = "Wardex_tester_";
        const std::string suffix = "_" + name;
        return container.size() == prefix.size() + 8 + suffix.size() &&
               container.compare(0, prefix.size(), prefix) == 0 &&
               container.compare(container.size() - suffix.size(), suffix.size(), suffix) == 0;
    }
    FakeJob& jobOf(SupervisedApp& app) { return static_cast<FakeJob&>(*app.job); }
    void answerProcessInfo(const std::string& info) {
        services_.receiverExists = true;
        services_.onSend = [this, info](const Kalvor::Test::SentMessage& message) {
            if (message.id == "SEND_PROCESS_INFO")
                table_.storeProcessInfo(info, message.target, std::nullopt);
        };
    }

    Kalvor::Test::CapturedLog log_;
    Kalvor::Test::FakeAppServices services_;
    Kalvor::Test::FakeClock clock_;
    std::shared_ptr<LoggerUnit> logger_;
    ApplicationTable table_;
};

TEST_F(ApplicationTableTest, ActiveApplicationThatDoesNotAnswerIsStartedFromTheBinDirectory) {
    SupervisedApp& app = listed("Demo", true);
    check();
    ASSERT_EQ(services_.startedPaths, std::vector<std::string>{"C:\\Kalvor\\bin\\Demo.exe"});
    ASSERT_TRUE(app.job);
    EXPECT_EQ(app.lastStartTime, clock_.now());
    EXPECT_EQ(app.restartCount, 0);
    const Kalvor::Test::SentMessage query = services_.sent.at(0);
    EXPECT_EQ(query.target, "DemoId_tester");
    EXPECT_EQ(query.sender, "Wardex_tester");
    EXPECT_EQ(query.text, "SEND_PROCESS_INFO");
    ASSERT_EQ(services_.launches.size(), 1u);
    EXPECT_EQ(services_.launches[0].commandLine, "") << "the program file alone";
    EXPECT_TRUE(isContainerOf(services_.launches[0].container, "Demo"))
        << services_.launches[0].container;
}

// An ordinary program: its command line and folder as configured, in a container of its own
// that a new supervisor of the account finds by name.
TEST_F(ApplicationTableTest, ACommandAndFolderAreStartedInTheApplicationsContainer) {
    SupervisedApp& app = listed("Web\\Site", true);
    app.command = "python3 -m http.server 8765";
    app.directory = "/srv/www/";
    check();
    ASSERT_EQ(services_.launches.size(), 1u);
    EXPECT_EQ(services_.launches[0].commandLine, "python3 -m http.server 8765");
    EXPECT_EQ(services_.launches[0].directory, "/srv/www/");
    EXPECT_TRUE(isContainerOf(services_.launches[0].container, "Web_Site"))
        << services_.launches[0].container;
    // Another installation of the account (another program folder) has containers of its own.
    services_.binDirectory = "C:\\Other\\bin";
    listed("Web\\Site", true);
    table_.find("Web\\Site")->state = AppState::NotStarted;
    check();
    ASSERT_EQ(services_.launches.size(), 2u);
    EXPECT_NE(services_.launches[1].container, services_.launches[0].container);
}

TEST_F(ApplicationTableTest, AnsweringApplicationIsCapturedNotStarted) {
    listed("Demo", true);
    answerProcessInfo("4321,4322");
    check();
    EXPECT_TRUE(services_.startedPaths.empty());
    EXPECT_EQ(services_.attached, (std::vector<std::pair<uint32_t, uint32_t>>{{4321, 4322}}));
    ASSERT_EQ(services_.attachedContainers.size(), 1u);
    EXPECT_TRUE(isContainerOf(services_.attachedContainers[0], "Demo"));
    EXPECT_EQ(table_.count(), 1u);
    EXPECT_TRUE(log_.contains("   Captured running application."));
}

TEST_F(ApplicationTableTest, AnswerWithZeroIdIsDroppedAndLaterAnswersFindNoRecord) {
    listed("Demo", true);
    answerProcessInfo("0,4322");
    check();
    EXPECT_EQ(stateOf("Demo"), AppState::GivenUp);
    EXPECT_TRUE(services_.attached.empty());
    EXPECT_EQ(log_.catalogCount(5, "Demo"), 1u);
    EXPECT_FALSE(table_.storeProcessInfo("1,2", "DemoId_tester", std::nullopt));
}

TEST_F(ApplicationTableTest, QueryThatCannotBeSentLeavesNoRecordAwaiting) {
    listed("Demo", true);
    services_.receiverExists = false;
    check();
    EXPECT_EQ(stateOf("Demo"), AppState::Running) << "started at once";
    EXPECT_FALSE(table_.storeProcessInfo("1,2", "DemoId_tester", std::nullopt));
}

TEST_F(ApplicationTableTest, InactiveApplicationNotRunningIsDropped) {
    listed("Demo", false);
    check();
    EXPECT_EQ(stateOf("Demo"), AppState::Dormant);
    EXPECT_TRUE(services_.startedPaths.empty());
    EXPECT_TRUE(log_.contains("Application \"Demo\" is not to be activated."));
}

TEST_F(ApplicationTableTest, MissingBinDirectoryFailsTheStart) {
    services_.hasBinDirectory = false;
    listed("Demo", true);
    check();
    EXPECT_EQ(stateOf("Demo"), AppState::GivenUp);
    EXPECT_EQ(log_.catalogCount(3, "Kalvor.directories.bin"), 1u);

    // A program with a command needs no program folder.
    listed("Web", true).command = "sleep 600";
    check();
    EXPECT_EQ(stateOf("Web"), AppState::Running);
    EXPECT_EQ(log_.catalogCount(3, "Kalvor.directories.bin"), 1u);
}

TEST_F(ApplicationTableTest, DeactivatedApplicationIsToldToDieEachPassUntilItStops) {
    SupervisedApp& app = listed("Demo", true);
    check();
    app.active = false;
    check();
    check();
    EXPECT_EQ(services_.count("DIE"), 2u);
    jobOf(app).running = false;
    check();
    EXPECT_EQ(services_.count("DIE"), 2u);
    // Not brought back: it was stopped on purpose.
    EXPECT_EQ(services_.startedPaths.size(), 1u);
    EXPECT_EQ(stateOf("Demo"), AppState::Dormant);
}

// After a run of ten seconds or more; a shorter one backs off (below).
TEST_F(ApplicationTableTest, StoppedApplicationIsRestartedInThePassThatFindsIt) {
    SupervisedApp& app = listed("Demo", true);
    check();
    jobOf(app).running = false;
    clock_.advance(11);
    check();
    EXPECT_EQ(services_.startedPaths.size(), 2u);
    EXPECT_EQ(app.restartCount, 1);
    EXPECT_EQ(app.lastStartTime, clock_.now());
    EXPECT_EQ(log_.catalogCount(7, "Demo"), 1u);
    EXPECT_TRUE(log_.contains("   Successfully restarted application."));
}

// A quick program may have ended before the start is checked: that run is an ordinary end,
// told and backed off, never a start that did not take.
TEST_F(ApplicationTableTest, AProgramThatEndedBeforeItsStartWasCheckedStartedAndIsRestarted) {
    services_.endedAtOnce = ExitStatus{true, 3, 0};
    SupervisedApp& app = listed("Quick", true);
    check();
    EXPECT_EQ(log_.catalogCount(6, "WONT START"), 0u);
    EXPECT_EQ(stateOf("Quick"), AppState::Restarting);
    EXPECT_EQ(app.reason, "exit code 3");
    clock_.advanceMilliseconds(500);
    check();
    EXPECT_EQ(services_.startedPaths.size(), 2u);
}

TEST_F(ApplicationTableTest, FailingApplicationIsGivenUpOnlyAfterTheRestartWindow) {
    SupervisedApp& app = listed("Demo", true);
    check();
    services_.nextStartRuns = false;
    jobOf(app).running = false;
    // Within three hours of the last good start it is restarted however often it fails.
    for (int pass = 0; pass < 6; ++pass) {
        clock_.advance(60);
        check();
    }
    ASSERT_EQ(table_.count(), 1u);
    EXPECT_EQ(app.restartCount, 6);
    EXPECT_EQ(log_.catalogCount(6, "WONT START"), 6u);

    clock_.advance(ApplicationTable::kRestartWindowSeconds);
    check();
    EXPECT_EQ(stateOf("Demo"), AppState::GivenUp);
    EXPECT_EQ(log_.catalogCount(8, "Demo"), 1u);
    check();
    EXPECT_EQ(log_.catalogCount(8, "Demo"), 1u) << "a given-up application is left alone";
    EXPECT_EQ(services_.startedPaths.size(), 7u);
}

TEST_F(ApplicationTableTest, FewRestartsAfterTheWindowAreStillTried) {
    SupervisedApp& app = listed("Demo", true);
    check();
    services_.nextStartRuns = false;
    jobOf(app).running = false;
    clock_.advance(ApplicationTable::kRestartWindowSeconds + 1);
    // Each failed start backs off, by thirty seconds at most.
    for (int pass = 0; pass < 4; ++pass) {
        check();
        clock_.advance(31);
    }
    EXPECT_EQ(app.restartCount, 4);
    check();
    EXPECT_EQ(stateOf("Demo"), AppState::GivenUp);
}

TEST_F(ApplicationTableTest, RunningApplicationHasItsCountResetOnceItsStartIsOld) {
    SupervisedApp& app = listed("Demo", true);
    check();
    app.restartCount = 3;
    clock_.advance(ApplicationTable::kRestartWindowSeconds);
    check();
    EXPECT_EQ(app.restartCount, 3);
    clock_.advance(1);
    check();
    EXPECT_EQ(app.restartCount, 0);
}

TEST_F(ApplicationTableTest, StartThatThrowsIsCountedAsFailed) {
    services_.nextStartThrows = true;
    listed("Demo", true);
    check();
    EXPECT_EQ(stateOf("Demo"), AppState::GivenUp);
    EXPECT_EQ(log_.catalogCount(6, "no such program"), 1u);
}

TEST_F(ApplicationTableTest, AFailedCheckOfOneApplicationLeavesTheOthersChecked) {
    SupervisedApp& broken = listed("Broken", true);
    SupervisedApp& other = listed("Other", true);
    check();
    jobOf(broken).statusThrows = true;
    jobOf(other).running = false;
    clock_.advance(11);
    check();
    EXPECT_EQ(services_.startedPaths.size(), 3u); // both started, then Other restarted
    EXPECT_EQ(other.restartCount, 1);
    EXPECT_TRUE(log_.contains("Main loop: Checking application \"Broken\" failed"));
    EXPECT_TRUE(log_.contains("status refused"));
    EXPECT_EQ(table_.count(), 2u);
}

TEST_F(ApplicationTableTest, ARefusedCaptureGivesItsRealReasonAndStartsTheApplication) {
    listed("Demo", true);
    answerProcessInfo("4321,4322");
    services_.attachRefused = true;
    check();
    EXPECT_EQ(log_.catalogCount(5, "OUT OF MEMORY"), 0u);
    EXPECT_EQ(log_.catalogCount(5, "process gone"), 1u);
    EXPECT_EQ(services_.startedPaths.size(), 1u);
    EXPECT_EQ(table_.count(), 1u);
}

// Only the application asked may answer, and only for its own process.
TEST_F(ApplicationTableTest, AnAnswerCountsOnlyFromTheApplicationAskedAndItsOwnProcess) {
    SupervisedApp& app = listed("Demo", true);
    services_.receiverExists = true;
    std::vector<bool> stored;
    services_.onSend = [&](const Kalvor::Test::SentMessage& message) {
        if (message.id != "SEND_PROCESS_INFO")
            return;
        stored.push_back(table_.storeProcessInfo("7,8", "OtherId_tester", std::nullopt));
        stored.push_back(table_.storeProcessInfo("7,8", message.target, SenderIdentity{0, 9}));
        stored.push_back(table_.storeProcessInfo("7,8", message.target, SenderIdentity{0, 7}));
    };
    check();
    EXPECT_EQ(stored, (std::vector<bool>{false, false, true}));
    EXPECT_EQ(services_.attached, (std::vector<std::pair<uint32_t, uint32_t>>{{7, 8}}));
    EXPECT_TRUE(app.job);
}

// An answer naming a process that is not the application's counts as no answer: the
// application is started, not dropped, and the reason is logged.
TEST_F(ApplicationTableTest, AnAnswerForAnotherProgramLeadsToAStart) {
    SupervisedApp& app = listed("Demo", true);
    answerProcessInfo("4321,4322");
    services_.mismatchingProcess = 4321;
    check();
    EXPECT_EQ(services_.checkedPaths, std::vector<std::string>{"C:\\Kalvor\\bin\\Demo.exe"});
    EXPECT_EQ(log_.catalogCount(5, "not the application"), 1u);
    EXPECT_EQ(services_.startedPaths, std::vector<std::string>{"C:\\Kalvor\\bin\\Demo.exe"});
    ASSERT_TRUE(app.job);
    EXPECT_EQ(jobOf(app).status(), JobRunning);
    EXPECT_EQ(table_.count(), 1u);
}

// A crash loop is restarted at the first pass after each end, but no faster than the gap.
// A run shorter than ten seconds is followed by a restart after a delay that doubles from half
// a second up to thirty; a run of ten seconds or more is restarted at once and resets it.
TEST_F(ApplicationTableTest, ACrashLoopBacksOffAndALongRunIsRestartedAtOnce) {
    ApplicationTable paced(logger_, services_, clock_, "tester", 500);
    SupervisedApp& app = paced.findOrAdd("Demo");
    app.active = true;
    app.id = "DemoId";
    std::vector<uint64_t> startedAt;
    const auto checkEvery100ms = [&](int steps) {
        for (int step = 0; step < steps; ++step) {
            const std::size_t before = services_.startedPaths.size();
            paced.check(clock_.now(), false);
            if (services_.startedPaths.size() > before)
                startedAt.push_back(clock_.monotonicMilliseconds());
            static_cast<FakeJob&>(*app.job).running = false; // ends at once
            clock_.advanceMilliseconds(100);
        }
    };
    checkEvery100ms(300); // 30 s
    ASSERT_GE(startedAt.size(), 4u);
    EXPECT_LE(startedAt.size(), 10u) << "started at most ten times in thirty seconds";
    for (std::size_t index = 2; index < startedAt.size(); ++index)
        EXPECT_GE(startedAt[index] - startedAt[index - 1],
                  2 * (startedAt[index - 1] - startedAt[index - 2]) - 200)
            << "the delay doubles";
    EXPECT_TRUE(log_.contains("Application \"Demo\" ended: exit code 0."));

    // Left running for eleven seconds, then ended: restarted at the next check.
    const std::size_t before = services_.startedPaths.size();
    while (services_.startedPaths.size() == before) {
        clock_.advanceMilliseconds(100);
        paced.check(clock_.now(), false);
    }
    clock_.advance(11);
    paced.check(clock_.now(), false);
    static_cast<FakeJob&>(*app.job).running = false;
    paced.check(clock_.now(), false);
    EXPECT_EQ(services_.startedPaths.size(), before + 2);
}

// The stop sequence of an application that ignores DIE: DIE each pass for its stop time-out,
// then the polite signal to its container, then after another time-out the kill.
TEST_F(ApplicationTableTest, AStopThatDieDoesNotEndIsPressedHarderAfterEachTimeout) {
    SupervisedApp& app = listed("Stubborn", true);
    app.stopTimeoutSeconds = 1;
    check();
    const std::shared_ptr<JobInstance> keep = app.job;
    FakeJob& job = jobOf(app);
    app.active = false;
    check();
    EXPECT_EQ(stateOf("Stubborn"), AppState::Stopping);
    EXPECT_EQ(table_.statusRecords()[0].state, "stopping");
    clock_.advanceMilliseconds(600);
    check();
    EXPECT_EQ(services_.count("DIE"), 2u);
    EXPECT_EQ(job.closeRequests, 0);
    clock_.advanceMilliseconds(600);
    check();
    EXPECT_EQ(job.closeRequests, 1);
    EXPECT_EQ(job.kills, 0);
    EXPECT_EQ(services_.count("DIE"), 2u) << "no more DIE once it is asked to close";
    clock_.advanceMilliseconds(1100);
    check();
    EXPECT_EQ(job.kills, 1);
    check();
    EXPECT_EQ(stateOf("Stubborn"), AppState::Dormant);
    EXPECT_EQ(table_.statusRecords()[0].reason, "stopped: no longer active");
    EXPECT_EQ(services_.startedPaths.size(), 1u);
}

// At shutdown every application is stopped at once and nothing is started any more.
TEST_F(ApplicationTableTest, ShutdownStopsAllInParallelAndStartsNothing) {
    SupervisedApp& first = listed("First", true);
    SupervisedApp& second = listed("Second", true);
    first.stopTimeoutSeconds = second.stopTimeoutSeconds = 2;
    check();
    const std::shared_ptr<JobInstance> firstJob = first.job; // outlives the record's hold
    FakeJob& firstFake = jobOf(first);
    jobOf(second).running = false; // ended just before the shutdown
    table_.signalAllToShutDown();
    EXPECT_EQ(table_.longestStopTimeoutSeconds(), 2);
    EXPECT_TRUE(table_.advanceStops());
    clock_.advance(2);
    EXPECT_TRUE(table_.advanceStops());
    EXPECT_EQ(firstFake.closeRequests, 1);
    clock_.advance(2);
    table_.advanceStops();
    EXPECT_EQ(firstFake.kills, 1);
    EXPECT_FALSE(table_.advanceStops());
    check();
    EXPECT_EQ(services_.startedPaths.size(), 2u);
    EXPECT_EQ(table_.statusRecords()[0].reason, "stopped at shutdown");
}

// An operator's stop runs the whole stop sequence and holds the application, through passes
// and a reconfiguration listing it again, until a start; a restart stops and starts at once,
// and a given-up application is started again when asked.
TEST_F(ApplicationTableTest, AnOperatorsStopHoldsUntilAStartAndARestartStartsAtOnce) {
    SupervisedApp& app = listed("Web", true);
    check();
    FakeJob& first = jobOf(app);
    EXPECT_EQ(table_.stopByOperator("Web"), "");
    EXPECT_EQ(stateOf("Web"), AppState::Stopping);
    clock_.advance(app.stopTimeoutSeconds);
    check();
    EXPECT_EQ(first.closeRequests, 1) << "an active application is pressed on, not kept";
    first.running = false;
    check();
    EXPECT_EQ(stateOf("Web"), AppState::Held);
    clock_.advance(60);
    check();
    table_.findOrAdd("Web");
    check();
    EXPECT_EQ(stateOf("Web"), AppState::Held);
    EXPECT_EQ(table_.statusRecords()[0].state, "held");
    EXPECT_EQ(table_.statusRecords()[0].reason, "stopped by wardexctl");
    EXPECT_EQ(services_.startedPaths.size(), 1u);

    EXPECT_EQ(table_.startByOperator("Web"), "");
    EXPECT_EQ(stateOf("Web"), AppState::Running);
    EXPECT_EQ(services_.startedPaths.size(), 2u);

    EXPECT_EQ(table_.restartByOperator("Web"), "");
    jobOf(app).running = false;
    check();
    EXPECT_EQ(stateOf("Web"), AppState::Running);
    EXPECT_EQ(services_.startedPaths.size(), 3u);
    EXPECT_EQ(app.restartCount, 0);

    EXPECT_EQ(table_.startByOperator("Nothing"), "no such application");
    EXPECT_EQ(table_.signalByOperator("Web", 15), "");
    EXPECT_EQ(jobOf(app).signals, std::vector<int32_t>{15});
    EXPECT_EQ(table_.stopByOperator("Web"), "");
    jobOf(app).running = false;
    check();
    EXPECT_EQ(table_.signalByOperator("Web", 15), "it is not running");
}

// A reconfiguration that no longer lists an application stops it with the stop sequence and
// then takes it out; the others take the file's order, also one listed again.
TEST_F(ApplicationTableTest, AnApplicationNoLongerListedIsStoppedThenLeavesAndTheOrderIsTheFiles) {
    SupervisedApp& gone = listed("Gone", true);
    listed("Stays", true);
    listed("Back", true);
    check();
    table_.keepOnly({"Back", "Stays"});
    EXPECT_EQ(stateOf("Gone"), AppState::Stopping);
    jobOf(gone).running = false;
    check();
    EXPECT_EQ(table_.find("Gone"), nullptr);
    const std::vector<StatusRecord> records = table_.statusRecords();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].name, "Back");
    EXPECT_EQ(records[1].name, "Stays");
    EXPECT_EQ(services_.startedPaths.size(), 3u) << "nothing was started again";
}

// New applications are all asked in one pass; the ones that answer are taken at once, a silent
// one is started when its five seconds are over, and meanwhile the others are checked as usual.
TEST_F(ApplicationTableTest, NewApplicationsAreAskedTogetherAndNoneWaitsForAnother) {
    SupervisedApp& silent = listed("Silent", true);
    SupervisedApp& quick = listed("Quick", true);
    services_.receiverExists = true;
    services_.onSend = [this](const Kalvor::Test::SentMessage& message) {
        if (message.id == "SEND_PROCESS_INFO" && message.target == "QuickId_tester")
            table_.storeProcessInfo("4321,4322", message.target, std::nullopt);
    };
    check();
    EXPECT_EQ(services_.count("SEND_PROCESS_INFO"), 2u);
    EXPECT_TRUE(quick.job);
    EXPECT_FALSE(silent.job);
    jobOf(quick).running = false;
    clock_.advance(1);
    check();
    EXPECT_EQ(services_.startedPaths, std::vector<std::string>{"C:\\Kalvor\\bin\\Quick.exe"});
    EXPECT_FALSE(silent.job);
    clock_.advance(5);
    check();
    EXPECT_TRUE(silent.job);
    EXPECT_EQ(services_.startedPaths.size(), 2u);
    EXPECT_EQ(services_.count("SEND_PROCESS_INFO"), 2u) << "each asked once";
}

// Every application stays in the table, in configuration order, with what became of it; a
// reconfiguration that lists a given-up one again has it supervised anew.
TEST_F(ApplicationTableTest, TheStatusListsEveryApplicationInOrderWithItsState) {
    listed("Idle", false);
    SupervisedApp& busy = listed("Busy", true);
    check();
    services_.hasBinDirectory = false;
    listed("Broken", true);
    check();
    services_.hasBinDirectory = true;
    const std::vector<StatusRecord> records = table_.statusRecords();
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0].name, "Idle");
    EXPECT_EQ(records[0].state, "not started");
    EXPECT_FALSE(records[0].active);
    EXPECT_EQ(records[1].name, "Busy");
    EXPECT_EQ(records[1].state, "running");
    EXPECT_EQ(records[1].restarts, 0);
    EXPECT_FALSE(records[1].lastStart.empty());
    EXPECT_EQ(records[2].name, "Broken");
    EXPECT_EQ(records[2].state, "given up");
    EXPECT_TRUE(busy.job);

    listed("Broken", true);
    check();
    EXPECT_EQ(stateOf("Broken"), AppState::Running);
    EXPECT_EQ(table_.statusRecords()[2].state, "running");
}

// The wait reports a process end once; the application is then checked by its status, and a
// job that still reads as running is not watched again (an exit code of 259 on Windows).
TEST_F(ApplicationTableTest, AReportedEndIsNotWatchedAgain) {
    SupervisedApp& app = listed("Demo", true);
    check();
    jobOf(app).waitableValue = 42;
    EXPECT_EQ(table_.waitables(true), std::vector<intptr_t>{42});
    table_.noteReported({42});
    check();
    EXPECT_EQ(stateOf("Demo"), AppState::Running);
    EXPECT_TRUE(table_.waitables(true).empty());
    jobOf(app).running = false;
    clock_.advance(11);
    check();
    ASSERT_EQ(services_.startedPaths.size(), 2u);
    jobOf(app).waitableValue = 43;
    EXPECT_EQ(table_.waitables(true), std::vector<intptr_t>{43}) << "a new process is watched";
}

// After a supervisor crash: a recorded process that still runs as the same process (its id and
// start time) is adopted; one whose number another process has taken since is not, and the
// application is started. The record then holds what runs now.
TEST_F(ApplicationTableTest, ARecordedProcessIsAdoptedOnlyWhileItIsTheSameProcess) {
    Kalvor::Test::TempDir folder;
    const std::string path = folder.file("Wardex_tester.apps");
    std::string why;
    AppRecord same{"Same", 4321, 4321, 777, ""};
    AppRecord reused{"Reused", 5555, 5555, 888, ""};
    ASSERT_TRUE(AppRecordFile(path).write({same, reused}, why)) << why;
    services_.startTimes = {{4321, 777}, {5555, 999}};
    table_.keepRecords(std::make_unique<AppRecordFile>(path));
    listed("Same", true);
    listed("Reused", true);
    check();
    EXPECT_EQ(services_.attached, (std::vector<std::pair<uint32_t, uint32_t>>{{4321, 4321}}));
    EXPECT_EQ(services_.startedPaths, std::vector<std::string>{"C:\\Kalvor\\bin\\Reused.exe"});
    EXPECT_EQ(stateOf("Same"), AppState::Running);
    EXPECT_EQ(AppRecordFile(path).read().size(), 2u);
}

TEST_F(ApplicationTableTest, ShutdownSignalsOnlyApplicationsWithAJob) {
    listed("Demo", true);
    check();
    listed("Later", true);
    table_.signalAllToShutDown();
    ASSERT_EQ(services_.count("DIE"), 1u);
    EXPECT_EQ(services_.sent.back().target, "DemoId_tester");
}

} // namespace
} // namespace Kalvor
