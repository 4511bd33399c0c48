#include "Logger/LoggerUnit.h"

#include "JobInstance/ThreadMessages.h"
#include "Logger/LogDispatcher.h"
#include "Logger/LogMessenger.h"
#include "Logger/LogRecord.h"
#include "Logger/LogState.h"
#include "LoggerTestSupport.h"

#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <thread>

namespace Kalvor {
namespace {

// Keeps the parsed entries instead of writing them.
class RecordingMessenger : public LogMessenger {
public:
    bool write(const std::string& wireText) override {
        LogRecord record;
        if (!LogRecord::parse(wireText, record))
            return false;
        std::lock_guard<std::mutex> lock(mutex_);
        records_.push_back(record);
        return accept_;
    }
    std::vector<LogRecord> records() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return records_;
    }
    void clear() {
        std::lock_guard<std::mutex> lock(mutex_);
        records_.clear();
    }
    void refuse() { accept_ = false; }

private:
    mutable std::mutex mutex_;
    std::vector<LogRecord> records_;
    bool accept_ = true;
};

class LoggerUnitTest : public testing::Test {
protected:
    Kalvor::Test::LoggerSandbox sandbox;
    std::shared_ptr<RecordingMessenger> messenger = std::make_shared<RecordingMessenger>();
    std::shared_ptr<LogDispatcher> dispatcher = std::make_shared<LogDispatcher>(2, messenger);
};

TEST_F(LoggerUnitTest, CreationAndDestructionAreLoggedAtLevelOne) {
    { LoggerUnit unit(dispatcher, 23); }
    const auto records = messenger->records();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].kind, LogKind::Debug);
    EXPECT_EQ(records[0].debugLevel, 1);
    EXPECT_EQ(records[0].sourceNumber, 2);
    EXPECT_EQ(records[0].moduleNumber, 23);
    EXPECT_EQ(records[0].messageNumber, LogRecord::kNoMessageNumber);
    EXPECT_EQ(records[0].text, "LoggerUnit: Created logger for the Wardex module.");
    EXPECT_EQ(records[1].text, "LoggerUnit: Destroyed logger for the Wardex module.");
}

TEST_F(LoggerUnitTest, DebugLevelFiltersAndFilteredCallsReportTrue) {
    LogState::setDebugLevel(0);
    LoggerUnit unit(dispatcher, 23);
    EXPECT_TRUE(unit.debug(1, "not written"));
    EXPECT_TRUE(unit.debug(0, "written"));
    LogState::setDebugLevel(3);
    EXPECT_TRUE(unit.debug(3, "n=%i %s", LogParams().add(5).add("x")));
    EXPECT_TRUE(unit.debug(4, "not written either"));
    const auto records = messenger->records();
    ASSERT_EQ(records.size(), 2u); // the creation message was filtered out too
    EXPECT_EQ(records[0].text, "written");
    EXPECT_EQ(records[1].text, "n=5 x");
}

TEST_F(LoggerUnitTest, OutOfRangeSettingsAreIgnored) {
    LogState::setDebugLevel(3);
    LogState::setDebugLevel(7);
    LogState::setDebugLevel(-1);
    EXPECT_EQ(LogState::debugLevel(), 3);
    LogState::setMinimumSeverity(2);
    LogState::setMinimumSeverity(6);
    EXPECT_EQ(LogState::minimumSeverity(), 2);
}

TEST_F(LoggerUnitTest, MinimumSeverityFiltersCatalogEntries) {
    LogState::setDebugLevel(0);
    LogState::setMinimumSeverity(kError);
    LoggerUnit unit(dispatcher, 23);
    EXPECT_TRUE(unit.notice(1));
    EXPECT_TRUE(unit.warning(7, LogParams().add("app")));
    EXPECT_TRUE(unit.error(3));
    EXPECT_TRUE(unit.error(8, LogParams().add("app")));
    EXPECT_TRUE(unit.critical(4));
    EXPECT_TRUE(unit.fatal(9, LogParams().add("MEMORY")));
    const auto records = messenger->records();
    ASSERT_EQ(records.size(), 4u);
    const int32_t severities[] = {kError, kError, kCritical, kFatal};
    const int32_t numbers[] = {3, 8, 4, 9};
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(records[i].kind, LogKind::Catalog);
        EXPECT_EQ(records[i].severity, severities[i]);
        EXPECT_EQ(records[i].messageNumber, numbers[i]);
        EXPECT_EQ(records[i].moduleNumber, 23);
    }
    EXPECT_EQ(records[1].text, LogParams().add("app").text());
    EXPECT_EQ(records[0].text, "");

    LogState::setMinimumSeverity(kSeverityNone);
    EXPECT_TRUE(unit.fatal(9));
    EXPECT_EQ(messenger->records().size(), 4u);
    // The caller-filtered form passes whatever the minimum.
    EXPECT_TRUE(unit.catalogEntry(kNotice, 1, ""));
    EXPECT_EQ(messenger->records().size(), 5u);
}

TEST_F(LoggerUnitTest, MissingDispatcherOrMessengerReportsFalse) {
    LoggerUnit orphan(nullptr, 23);
    EXPECT_FALSE(orphan.debug(1, "x"));
    EXPECT_FALSE(orphan.notice(1));
    EXPECT_TRUE(orphan.debug(6, "filtered out")); // filtered entries still report true

    LoggerUnit silent(std::make_shared<LogDispatcher>(2, nullptr), 23);
    EXPECT_FALSE(silent.error(8, LogParams().add("app")));

    messenger->refuse();
    LoggerUnit refused(dispatcher, 23);
    EXPECT_FALSE(refused.warning(7));
}

TEST_F(LoggerUnitTest, ThreadNumbersPrefixDebugTextsOnly) {
    LogState::setDebugLevel(5);
    LoggerUnit unit(dispatcher, 2);
    messenger->clear();
    LogState::setThreadNumbers(true);
    uint32_t otherThread = 0;
    std::thread([&] {
        otherThread = currentThreadId();
        unit.debug(2, "from a thread");
        unit.notice(1, LogParams().add("p"));
    }).join();
    const auto records = messenger->records();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].text, std::to_string(otherThread) + ": from a thread");
    EXPECT_EQ(records[1].text, LogParams().add("p").text());
}

TEST_F(LoggerUnitTest, ManyThreadsLogThroughOneUnitIntoOneFile) {
    auto fileMessenger = std::make_shared<LogMessenger>();
    ASSERT_TRUE(fileMessenger->writer().setPath(sandbox.logPath()));
    LogState::setDebugLevel(5);
    {
        LoggerUnit unit(std::make_shared<LogDispatcher>(2, fileMessenger), 2);
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t) {
            threads.emplace_back([&unit, t] {
                for (int n = 0; n < 200; ++n)
                    unit.debug(5, "thread %i line %i", LogParams().add(t).add(n));
            });
        }
        for (auto& thread : threads)
            thread.join();
    }
    fileMessenger.reset();
    int count = 0;
    for (const std::string& line : Kalvor::Test::logLines(sandbox.logPath()))
        count += line.find(")    thread ") != std::string::npos;
    EXPECT_EQ(count, 800);
}

} // namespace
} // namespace Kalvor
