// The supervisor's IPC commands: what each message type and text does, and what it logs.
#include "Win32_App/KalvorWardex/CommandHandler.h"
#include "CapturedLog.h"
#include "Common/Exception.h"
#include "Logger/LogRecord.h"
#include "Logger/LoggerUnit.h"

#include <gtest/gtest.h>

#include <atomic>
#include <ostream>
#include <string>
#include <vector>

namespace Kalvor {
namespace {

struct Sent {
    std::string target, type, id, text;
    bool operator==(const Sent& other) const {
        return target == other.target && type == other.type && id == other.id && text == other.text;
    }
};

void PrintTo(const Sent& sent, std::ostream* out) {
    *out << sent.target << " " << sent.type << " " << sent.id << " \"" << sent.text << '"';
}

struct Outcome {
    bool shutdown = false;
    bool reconfigure = false;
    std::vector<std::string> stored;
    std::vector<std::pair<std::string, std::string>> runs;
    std::vector<Sent> sent;
    std::vector<OperatorRequest> operators;
};

// What the handler's send does.
enum class Delivery { HandedOver, Refused, Throws };

const std::string kPackedStatus = "1:17:DemoOne7:DemoOne7:running2:421:00:1:1";

class CommandHandlerTest : public ::testing::Test {
protected:
    CommandHandler makeHandler(bool pending = true) {
        return makeHandlerLoggingTo(log_.dispatcher(), pending);
    }
    CommandHandler makeHandlerLoggingTo(std::shared_ptr<LogDispatcher> dispatcher,
                                        bool pending = true) {
        return CommandHandler(
            std::make_shared<LoggerUnit>(std::move(dispatcher), 23),
            {stop_, reconfigure_,
             [this, pending](const std::string& text, const std::string&,
                             const std::optional<SenderIdentity>&) {
                 if (pending)
                     outcome_.stored.push_back(text);
                 return pending;
             },
             [this](const std::string& path, const std::string& arguments) {
                 if (path == "fails")
                     throw JobException(JB_UNABLE_TO_START, "refused", KALVOR_HERE);
                 outcome_.runs.push_back({path, arguments});
             },
             [] { return kPackedStatus; },
             [this](OperatorRequest request) { outcome_.operators.push_back(std::move(request)); },
             [this](const std::string& target, const std::string& type, const std::string& id,
                    const std::string& text) {
                 if (delivery_ == Delivery::Throws)
                     throw IPCException(IC_CANNOT_SEND, "no such slot", KALVOR_HERE);
                 outcome_.sent.push_back({target, type, id, text});
                 return delivery_ == Delivery::HandedOver;
             }});
    }
    Outcome outcome() {
        outcome_.shutdown = stop_.requestedBy(StopFlag::kCommand);
        outcome_.reconfigure = reconfigure_.load();
        return outcome_;
    }

    Kalvor::Test::CapturedLog log_;
    WaitSet wakeUps_;
    StopFlag stop_{wakeUps_};
    std::atomic<bool> reconfigure_{false};
    Delivery delivery_ = Delivery::HandedOver;
    Outcome outcome_;
};

struct CommandCase {
    const char* type;
    const char* id;
    const char* text;
    bool shutdown;
    bool reconfigure;
    std::size_t runs;
    std::size_t replies;
    const char* logLine;
};

void PrintTo(const CommandCase& test, std::ostream* out) {
    *out << test.type << " \"" << test.text << '"';
}

class CommandTable : public CommandHandlerTest,
                     public ::testing::WithParamInterface<CommandCase> {};

TEST_P(CommandTable, ActsAndLogsAsListed) {
    const CommandCase& test = GetParam();
    makeHandler()(test.type, test.id, test.text, "Tester_x");
    const Outcome result = outcome();
    EXPECT_EQ(result.shutdown, test.shutdown);
    EXPECT_EQ(result.reconfigure, test.reconfigure);
    EXPECT_EQ(result.runs.size(), test.runs);
    EXPECT_EQ(result.sent.size(), test.replies);
    EXPECT_TRUE(log_.contains(test.logLine)) << test.logLine;
    EXPECT_TRUE(log_.contains("IPC from Tester_x: Received message \"" + std::string(test.type)));
}

INSTANTIATE_TEST_SUITE_P(
    Table, CommandTable,
    ::testing::Values(
        CommandCase{"COMMAND", "", "DIE", true, false, 0, 0, "Quitting."},
        CommandCase{"COMMAND", "", "die", false, false, 0, 0, "IPC: Received an unknown command."},
        CommandCase{"COMMAND", "", "RECONFIG", false, true, 0, 0, "IPC: Received command"},
        CommandCase{"COMMAND", "", "STATUS", false, false, 0, 1,
                    "IPC: Received command \"STATUS\"."},
        CommandCase{"COMMAND", "", "status", false, false, 0, 0,
                    "IPC: Received an unknown command."},
        CommandCase{"COMMAND", "", "STATUS_CHECK", false, false, 0, 0,
                    "IPC: Was checked by Tester_x."},
        CommandCase{"COMMAND", "", "RUN_PROG", false, false, 0, 0,
                    "IPC: Received an unknown command."},
        CommandCase{"COMMAND", "", "RUN_PROGprog|", false, false, 1, 0,
                    "IPC: Received run command: \"prog|\"."},
        CommandCase{"COMMAND", "", "RUN_PROGprog", false, false, 0, 0, "IPC: Cannot run this."},
        CommandCase{"COMMAND", "", "RUN_PROGa|b|c", false, false, 0, 0, "IPC: Cannot run this."},
        CommandCase{"RUN_PROG", "", "prog|-x", false, false, 1, 0,
                    "IPC: Received run command: \"prog|-x\"."},
        CommandCase{"REPLY", "OTHER", "1,2", false, false, 0, 0,
                    "IPC: Received reply \"1,2\" with id \"OTHER\"."},
        CommandCase{"REPLY", "STATUS", "1:0", false, false, 0, 0,
                    "IPC: Received reply \"1:0\" with id \"STATUS\"."},
        CommandCase{"NOISE", "", "STATUS", false, false, 0, 0, "IPC: Received an unknown type."}));

TEST_F(CommandHandlerTest, RunLineSplitsIntoProgramAndArguments) {
    auto handler = makeHandler();
    handler("COMMAND", "", "RUN_PROGprog|", "");
    handler("RUN_PROG", "", "other|-a b", "");
    const auto runs = outcome().runs;
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[0], std::make_pair(std::string("prog"), std::string()));
    EXPECT_EQ(runs[1], std::make_pair(std::string("other"), std::string("-a b")));
}

TEST_F(CommandHandlerTest, StatusIsAnsweredToTheAskersMailslot) {
    makeHandler()("COMMAND", "", "STATUS", "wardexctl_77");
    EXPECT_EQ(outcome().sent,
              (std::vector<Sent>{{"wardexctl_77", "REPLY", "STATUS", kPackedStatus}}));
}

// However the answer fails, the handler logs it and throws nothing.
TEST_F(CommandHandlerTest, StatusThatCannotBeAnsweredIsLogged) {
    const struct {
        std::string asker;
        Delivery delivery;
        const char* line;
    } cases[] = {
        {"", Delivery::HandedOver, "IPC: A status request names no mailslot to answer to."},
        {"Gone_x", Delivery::Refused, "IPC: Cannot send the status to Gone_x."},
        {"Gone_x", Delivery::Throws, "no such slot"},
    };
    for (const auto& c : cases) {
        delivery_ = c.delivery;
        makeHandler()("COMMAND", "", "STATUS", c.asker);
        EXPECT_TRUE(log_.contains(c.line)) << c.line;
    }
    // Only the refused one got as far as a send.
    EXPECT_EQ(outcome().sent.size(), 1u);
}

TEST_F(CommandHandlerTest, ProgramThatCannotStartIsLoggedAndHandlingGoesOn) {
    auto handler = makeHandler();
    handler("RUN_PROG", "", "fails|", "");
    EXPECT_TRUE(log_.contains("refused"));
    handler("COMMAND", "", "DIE", "");
    EXPECT_TRUE(outcome().shutdown);
}

TEST_F(CommandHandlerTest, ProcessInfoReplyIsStoredOnlyWhileAwaited) {
    makeHandler(true)("REPLY", "SEND_PROCESS_INFO", "12,34", "App_x");
    EXPECT_EQ(outcome().stored, std::vector<std::string>{"12,34"});
    EXPECT_FALSE(log_.contains("IPC: Cannot store process info."));
    makeHandler(false)("REPLY", "SEND_PROCESS_INFO", "56,78", "App_x");
    EXPECT_TRUE(log_.contains("IPC: Cannot store process info."));
}

// Another account may not steer the supervisor nor learn its applications: its DIE, RECONFIG,
// STATUS, RUN_PROG (both forms) and REPLY are dropped, with one line a second at most however
// many arrive.
TEST_F(CommandHandlerTest, AnotherAccountCannotSteerIt) {
    const SenderIdentity stranger{kUnknownSender - 1, 4242};
    if (isOwnAccountOrAdministrator(stranger))
        GTEST_SKIP() << "this platform's mailslots keep other accounts out themselves";
    auto handler = makeHandler();
    for (int round = 0; round < 50; ++round) {
        handler("COMMAND", "", "DIE", "X", stranger);
        handler("COMMAND", "", "RECONFIG", "X", stranger);
        handler("COMMAND", "", "STATUS", "X", stranger);
        handler("COMMAND", "", "RUN_PROGprog|", "X", stranger);
        handler("RUN_PROG", "", "prog|", "X", stranger);
        handler("REPLY", "SEND_PROCESS_INFO", "4242,1", "App_x", stranger);
    }
    const Outcome result = outcome();
    EXPECT_FALSE(result.shutdown);
    EXPECT_FALSE(result.reconfigure);
    EXPECT_TRUE(result.runs.empty());
    EXPECT_TRUE(result.stored.empty());
    EXPECT_TRUE(result.sent.empty());
    EXPECT_EQ(log_.count("IPC: Dropped"), 1u);
    EXPECT_TRUE(
        log_.contains("IPC: Dropped COMMAND DIE from account " + std::to_string(stranger.userId)));
    EXPECT_FALSE(log_.contains("IPC from X"));
    // A status check is still answered with its line.
    handler("COMMAND", "", "STATUS_CHECK", "X", stranger);
    EXPECT_TRUE(log_.contains("IPC: Was checked by X."));
}

TEST_F(CommandHandlerTest, AnotherAccountsStatusRequestIsDroppedByName) {
    const SenderIdentity stranger{kUnknownSender - 1, 4242};
    if (isOwnAccountOrAdministrator(stranger))
        GTEST_SKIP() << "this platform's mailslots keep other accounts out themselves";
    makeHandler()("COMMAND", "", "STATUS", "Spy_x", stranger);
    EXPECT_TRUE(outcome().sent.empty());
    EXPECT_TRUE(log_.contains("IPC: Dropped COMMAND STATUS from account " +
                              std::to_string(stranger.userId)));
}

TEST_F(CommandHandlerTest, ItsOwnAccountAndTheAdministratorStillSteerIt) {
    makeHandler()("COMMAND", "", "RECONFIG", "X", std::nullopt);
    EXPECT_TRUE(outcome().reconfigure);
    makeHandler()("RUN_PROG", "", "prog|", "X", SenderIdentity{0, 1});
    EXPECT_EQ(outcome().runs.size(), 1u);
    makeHandler()("COMMAND", "", "STATUS", "Own_x", std::nullopt);
    makeHandler()("COMMAND", "", "STATUS", "Root_x", SenderIdentity{0, 1});
    EXPECT_EQ(outcome().sent.size(), 2u);
    makeHandler()("COMMAND", "", "DIE", "X", SenderIdentity{0, 1});
    EXPECT_TRUE(outcome().shutdown);
    EXPECT_FALSE(log_.contains("IPC: Dropped"));
}

TEST_F(CommandHandlerTest, MessagesAfterDieAreIgnoredWithoutALine) {
    auto handler = makeHandler();
    handler("COMMAND", "", "DIE", "");
    handler("COMMAND", "", "RECONFIG", "Late");
    EXPECT_FALSE(outcome().reconfigure);
    EXPECT_FALSE(log_.contains("IPC from Late"));
}

// However long a received type, id, text or sender, a line quotes its first kilobyte and its
// length: a local sender cannot fill the disk through the supervisor's log.
TEST_F(CommandHandlerTest, LongReceivedTextsAreQuotedInPart) {
    const std::string big(300000, 'z');
    const std::string shown = std::string(1000, 'z') + "\xE2\x80\xA6(300000 bytes)";
    const struct {
        std::string type, id, text, sender, line;
    } cases[] = {
        {"COMMAND", "", big, "T", "IPC: Received command \"" + shown + "\"."},
        {"COMMAND", "", "RUN_PROG" + big, "T", "IPC: Received run command: \"" + shown + "\"."},
        {"COMMAND", "", "STATUS_CHECK", big, "IPC: Was checked by " + shown + "."},
        {"RUN_PROG", "", big, "T", "IPC: Received run command: \"" + shown + "\"."},
        {"REPLY", big, big, "T",
         "IPC: Received reply \"" + shown + "\" with id \"" + shown + "\"."},
        {big, "", "", big, "IPC from " + shown + ": Received message \"" + shown + "\"."},
    };
    for (const auto& c : cases) {
        const auto messenger = std::make_shared<Kalvor::Test::CapturingMessenger>();
        makeHandlerLoggingTo(std::make_shared<LogDispatcher>(2, messenger))(c.type, c.id, c.text,
                                                                            c.sender);
        std::size_t quoting = 0;
        for (const std::string& wire : messenger->lines()) {
            LogRecord entry;
            ASSERT_TRUE(LogRecord::parse(wire, entry));
            const std::string line = entry.line(true, kTimeZulu);
            EXPECT_LT(line.size(), 2200u) << line.substr(0, 60); // two quotes at most
            quoting += line.find(c.line) != std::string::npos ? 1 : 0;
        }
        EXPECT_EQ(quoting, 1u) << c.line.substr(0, 40);
    }
}

// An operator's command reaches the main thread whole, with whom to answer; a malformed one,
// or one without a mailslot to answer, does not.
TEST_F(CommandHandlerTest, OperatorsCommandsGoToTheMainThreadWithTheirAsker) {
    CommandHandler handler = makeHandler();
    handler("COMMAND", "", "APP_STOP:web server", "wardexctl_7");
    handler("COMMAND", "", "APP_SIGNAL:HUP:web", "wardexctl_7");
    handler("COMMAND", "", "APP_START:", "wardexctl_7");
    handler("COMMAND", "", "APP_SIGNAL:web", "wardexctl_7");
    handler("COMMAND", "", "APP_REMOVE:web", "wardexctl_7");
    handler("COMMAND", "", "APP_RESTART:web", "");
    const Outcome done = outcome();
    ASSERT_EQ(done.operators.size(), 2u);
    EXPECT_EQ(done.operators[0].verb, "STOP");
    EXPECT_EQ(done.operators[0].name, "web server");
    EXPECT_EQ(done.operators[0].asker, "wardexctl_7");
    EXPECT_EQ(done.operators[1].verb, "SIGNAL");
    EXPECT_EQ(done.operators[1].signal, "HUP");
    EXPECT_EQ(done.operators[1].name, "web");
    EXPECT_TRUE(log_.contains("An operator's command names no mailslot to answer to."));
}

} // namespace
} // namespace Kalvor
