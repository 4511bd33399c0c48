// wardexctl in-process: its table and JSON, its arguments and exit values, and its exchange
// with a supervisor that the test plays on a mailslot of a made-up user tag.
#include "WardexCtl.h"
#include "LogFollower.h"
#include "StatusOutput.h"

#include "Common/Exception.h"
#include "IPC/IPCClient.h"
#include "IPC/IPCMessage.h"
#include "IPC/MailSlot.h"
#include "IPC/StatusReport.h"
#include "Sandbox.h"
#include "Time/Timer.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include <atomic>
#include <sstream>
#include <thread>

namespace Kalvor {
namespace {

using namespace std::chrono_literals;
using Arguments = std::vector<std::string>;

StatusRecord record(std::string name, std::string id, std::string state, uint32_t processId,
                    int32_t restarts, std::string lastStart, bool active) {
    StatusRecord made;
    made.name = std::move(name);
    made.id = std::move(id);
    made.state = std::move(state);
    made.processId = processId;
    made.restarts = restarts;
    made.lastStart = std::move(lastStart);
    made.active = active;
    return made;
}

const std::vector<StatusRecord> kTwo = {
    record("Demo One", "DemoOne", "running", 4711, 1, "2024-05-01T10:00:00Z", true),
    record("DemoIdle", "DemoIdle", "not started", 0, 0, "", false),
};

TEST(WardexCtlJson, EscapesEveryByteThatIsNotPlainAscii) {
    const struct {
        std::string bytes, json;
    } cases[] = {
        {"", R"("")"},
        {"Demo One 1:2", R"("Demo One 1:2")"},
        {"a\"b\\c/", R"("a\"b\\c/")"},
        {std::string("\x01\t\n\x1f\x7f", 5), R"("\u0001\u0009\u000A\u001F\u007F")"},
        {"D\xC3\xA9mo\xFF", R"("D\u00C3\u00A9mo\u00FF")"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(jsonString(c.bytes), c.json);
    // Whatever a name holds, the output is printable ASCII.
    std::string every;
    for (int code = 1; code < 256; ++code)
        every += static_cast<char>(code);
    for (const char byte : jsonString(every))
        EXPECT_TRUE(byte >= 0x20 && byte <= 0x7e) << static_cast<int>(byte);
}

TEST(WardexCtlJson, WritesOneObjectARecordWithNullForNone) {
    EXPECT_EQ(statusJson(kTwo),
              "[\n"
              "  {\"name\": \"Demo One\", \"id\": \"DemoOne\", \"state\": \"running\", "
              "\"pid\": 4711, \"restarts\": 1, \"last_start\": \"2024-05-01T10:00:00Z\", "
              "\"active\": true, \"exit_code\": null, \"exit_signal\": null, \"reason\": null},\n"
              "  {\"name\": \"DemoIdle\", \"id\": \"DemoIdle\", \"state\": \"not started\", "
              "\"pid\": null, \"restarts\": 0, \"last_start\": null, \"active\": false, "
              "\"exit_code\": null, \"exit_signal\": null, \"reason\": null}\n"
              "]\n");
    EXPECT_EQ(statusJson({}), "[]\n");
    StatusRecord killed = kTwo[1];
    killed.state = "given up";
    killed.exitCode = -1;
    killed.exitSignal = 9;
    killed.reason = "failed too often (last: signal 9 (SIGKILL))";
    EXPECT_NE(statusJson({killed}).find(
                  "\"exit_code\": -1, \"exit_signal\": 9, "
                  "\"reason\": \"failed too often (last: signal 9 (SIGKILL))\"}"),
              std::string::npos)
        << statusJson({killed});
}

TEST(WardexCtlTable, AlignsTheColumnsWithDashForNone) {
    std::vector<StatusRecord> records = kTwo;
    records.push_back(record("D\xC3\xA9mo\tX", "X", "given up", 0, 12, "2024-05-01T09:00:00Z", true));
    records.back().exitCode = 3;
    records[0].exitCode = -1;
    records[0].exitSignal = 9;
    EXPECT_EQ(statusTable(records),
              "NAME      STATE        PID   RESTARTS  STARTED               LAST EXIT\n"
              "Demo One  running      4711  1         2024-05-01T10:00:00Z  SIGKILL\n"
              "DemoIdle  not started  -     0         -                     -\n"
              "D\xC3\xA9mo\\tX   given up     -     12        2024-05-01T09:00:00Z  exit 3\n");
    EXPECT_EQ(statusTable({}), "NAME  STATE  PID  RESTARTS  STARTED  LAST EXIT\n");
}

TEST(WardexCtlArguments, BadOnesGiveTheUsageAndExitValue2) {
    const std::vector<Arguments> bad = {
        {},
        {"start"},
        {"STATUS"},
        {"status", "--xml"},
        {"status", "--json", "--json"},
        {"reconfig", "now"},
        {"stop", "--json"},
        // A forgotten name never stops everything.
        {"stop"},
        {"restart"},
        {"signal", "web"},
        {"shutdown", "web"},
    };
    for (const Arguments& arguments : bad) {
        std::ostringstream out, err;
        EXPECT_EQ(runWardexCtl(arguments, out, err), kCtlUsage)
            << ::testing::PrintToString(arguments);
        EXPECT_NE(err.str().find("Usage:"), std::string::npos);
        EXPECT_TRUE(out.str().empty());
    }
    for (const Arguments& help : {Arguments{"--help"}, Arguments{"status", "-h"}}) {
        std::ostringstream out, err;
        EXPECT_EQ(runWardexCtl(help, out, err), kCtlDone);
        EXPECT_NE(out.str().find("wardexctl status [--json]"), std::string::npos);
        EXPECT_TRUE(err.str().empty());
    }
}

struct Reply {
    std::string id, text, sender;
};

// The supervisor's mailslot of the tag, answering "STATUS" with the replies given, in order.
class SupervisorStandIn {
public:
    SupervisorStandIn(const std::string& userTag, std::vector<Reply> replies)
        : slot_(MailSlot::kReceiver, "Wardex_" + userTag), replies_(std::move(replies)),
          thread_([this] { serve(); }) {}
    ~SupervisorStandIn() {
        stop_ = true;
        thread_.join();
    }

private:
    void serve() {
        for (std::vector<std::string> lines; !stop_; sleepMilliseconds(5)) {
            lines.clear();
            slot_.receive(lines);
            for (const std::string& line : lines) {
                IPCMessage message;
                if (parseMessageLine(line, message) && message.text == "STATUS")
                    answer(message.sender);
            }
        }
    }
    void answer(const std::string& asker) {
        try {
            IPCClient client(asker);
            for (const Reply& reply : replies_)
                client.send("REPLY", reply.id, reply.text, reply.sender);
        } catch (const Exception& error) {
            ADD_FAILURE() << error.report();
        }
    }

    MailSlot slot_;
    std::vector<Reply> replies_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

class WardexCtlExchange : public ::testing::Test {
protected:
    int run(const Arguments& arguments, std::chrono::milliseconds wait = 10s) {
        out_.str("");
        err_.str("");
        return runWardexCtl(arguments, out_, err_, {userTag_, wait, {}});
    }

    Kalvor::Test::Sandbox sandbox_;
    // Under Wine mailslots are machine-wide: a tag of the sandbox's keeps clear of others.
    const std::string userTag_ = sandbox_.uniqueName("CtlTest");
    const std::string supervisor_ = "Wardex_" + userTag_;
    std::ostringstream out_, err_;
};

// Only the supervisor's status reply is taken; other traffic on the own mailslot is passed
// over.
TEST_F(WardexCtlExchange, StatusPrintsOnlyTheSupervisorsAnswer) {
    SupervisorStandIn standIn(userTag_, {{"OTHER", packStatus({}), supervisor_},
                                         {"STATUS", packStatus({}), "Impostor_x"},
                                         {"STATUS", packStatus(kTwo), supervisor_}});
    EXPECT_EQ(run({"status"}), kCtlDone) << err_.str();
    EXPECT_EQ(out_.str(), statusTable(kTwo));
    EXPECT_EQ(run({"status", "--json"}), kCtlDone) << err_.str();
    EXPECT_EQ(out_.str(), statusJson(kTwo));
}

TEST_F(WardexCtlExchange, ASilentOrGarbledSupervisorPrintsNothing) {
    const struct {
        std::vector<Reply> replies;
        int exit;
        const char* error;
    } cases[] = {
        {{}, kCtlNoSupervisor, "no Wardex answers for this account (mailslot \"Wardex_CtlTest"},
        {{{"STATUS", "1:1garbage", supervisor_}}, kCtlFailed, "answer cannot be read"},
    };
    for (const auto& c : cases) {
        SupervisorStandIn standIn(userTag_, c.replies);
        EXPECT_EQ(run({"status"}, 500ms), c.exit);
        EXPECT_NE(err_.str().find(c.error), std::string::npos) << err_.str();
        EXPECT_TRUE(out_.str().empty());
    }
}

// Its answer slot and that slot's lock go with every run, also one the user interrupts: a
// hundred runs leave nothing in the mailslot folders (posix; Windows removes a mailslot with
// its last handle).
TEST_F(WardexCtlExchange, LeavesNothingBehindAndAnInterruptEndsItsWait) {
    SupervisorStandIn silent(userTag_, {});
    for (int run = 0; run < 100; ++run)
        ASSERT_EQ(this->run({"status"}, 1ms), kCtlNoSupervisor) << err_.str();

    const auto start = std::chrono::steady_clock::now();
    WardexCtlSettings settings{userTag_, 30s, [&] {
                                   return std::chrono::steady_clock::now() - start > 200ms;
                               }};
    EXPECT_EQ(runWardexCtl({"status"}, out_, err_, settings), kCtlFailed);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
    EXPECT_NE(err_.str().find("interrupted"), std::string::npos) << err_.str();

    std::vector<std::string> left;
    std::error_code error;
    for (auto entry = std::filesystem::recursive_directory_iterator(
             sandbox_.mailslotDirectory(), error);
         !error && entry != std::filesystem::recursive_directory_iterator(); entry.increment(error))
        if (entry->path().filename().string().rfind("wardexctl_", 0) == 0)
            left.push_back(entry->path().string());
    EXPECT_TRUE(left.empty()) << ::testing::PrintToString(left);
}

// The last lines of a file, its own line ends or none at the end, "\r\n" printed as "\n".
TEST(WardexCtlLog, PrintsTheLastLinesOfAFile) {
    Kalvor::Test::Sandbox sandbox;
    const std::string path = sandbox.file("app.out");
    const auto last = [&](const std::string& text, std::size_t lines) {
        std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
        LogFollower file(path);
        std::ostringstream out;
        std::string why;
        EXPECT_TRUE(file.printLast(lines, out, why)) << why;
        return out.str();
    };
    EXPECT_EQ(last("one\ntwo\nthree\n", 2), "two\nthree\n");
    EXPECT_EQ(last("one\ntwo\nthree", 2), "two\nthree");
    EXPECT_EQ(last("one\r\ntwo\r\n", 5), "one\ntwo\n");
    EXPECT_EQ(last("one\ntwo\n", 0), "");
    EXPECT_EQ(last("", 3), "");
    LogFollower missing(sandbox.file("missing.out"));
    std::ostringstream out;
    std::string why;
    EXPECT_FALSE(missing.printLast(3, out, why));
    EXPECT_FALSE(why.empty());
}

// posix refuses the unknown account (1); win32 names its supervisor, which is not there (3).
TEST(WardexCtlAccount, AnUnknownAccountFailsAndAMissingOneIsAUsageError) {
    std::ostringstream out, err;
    EXPECT_EQ(runWardexCtl({"--account"}, out, err), kCtlUsage);
    EXPECT_NE(err.str().find("--account needs"), std::string::npos) << err.str();
    std::ostringstream out2, err2;
    const int exit = runWardexCtl({"--account", "no such account\x01", "status"}, out2, err2,
                                  {"", 100ms, {}});
    EXPECT_TRUE(exit == kCtlFailed || exit == kCtlNoSupervisor) << exit;
    EXPECT_FALSE(err2.str().empty());
    EXPECT_TRUE(out2.str().empty());
}

} // namespace
} // namespace Kalvor
