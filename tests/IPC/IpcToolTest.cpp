// kalvor-ipc: its output format and arguments in-process, and the program itself as operators
// and tests use it.
#include "IpcCommand.h"

#include "ChildProcess.h"
#include "Common/Exception.h"
#include "IPC/IPCClient.h"
#include "IPC/MailSlot.h"
#include "IPCTestSupport.h"
#include "Sandbox.h"

#include <gtest/gtest.h>

#include <sstream>

namespace Kalvor {
namespace {

using namespace std::chrono_literals;
using Kalvor::Test::ChildProcess;

const std::string E(1, '\x1b');

class IpcToolTest : public ::testing::Test {
protected:
    Kalvor::Test::Sandbox sandbox;
    const std::string tool = Kalvor::Test::helperProgramPath("kalvor-ipc");
    // Standard output on a pipe; with `withErrors` standard error too.
    ChildProcess run(const std::vector<std::string>& arguments, bool withErrors = false) const {
        return ChildProcess(tool, arguments, ChildProcess::capturing(withErrors));
    }
};

TEST(IpcToolFormat, ShowsFieldsWithEveryHiddenByteEscaped) {
    const struct {
        std::string line;
        bool raw;
        std::string shown;
    } cases[] = {
        {"Kalvor" + E + "COMMAND" + E + E + "DIE" + E, false, "COMMAND\t\tDIE\t"},
        {"Kalvor" + E + "REPLY" + E + "ID" + E + "a\tb\\c\r\n" + E + "App" + E, false,
         "REPLY\tID\ta\\tb\\\\c\\r\\n\tApp"},
        {"Kalvor" + E + "T" + E + E + std::string("\x01\x7f\xe9", 3) + E, false,
         "T\t\t\\x01\\x7F\xe9\t"},
        {"kalvor" + E + "COMMAND" + E, false, "#ignored\tkalvor\\eCOMMAND\\e"},
        {"Kalvor" + E + "COMMAND" + E + E + "DIE" + E, true, "Kalvor\\eCOMMAND\\e\\eDIE\\e"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(formatReceivedLine(c.line, c.raw), c.shown);
}

TEST(IpcToolFormat, AReadableTextKeepsAWindowsPathsBackslashesButStillEscapesHiddenBytes) {
    EXPECT_EQ(readableText("C:\\Kalvor\\conf\\wardex.conf"), "C:\\Kalvor\\conf\\wardex.conf");
    EXPECT_EQ(readableText("a\nb\tc" + E), "a\\nb\\tc\\e");
}

TEST(IpcToolArguments, BadOnesGiveTheUsageAndExitValue2) {
    const std::vector<std::vector<std::string>> bad = {
        {},
        {"shout"},
        {"send", "Target", "TYPE"},
        {"send", "T", "TYPE", "ID", "TEXT", "SENDER", "more"},
        {"listen"},
        {"listen", "Name", "--count"},
        {"listen", "Name", "--count", "0"},
        {"listen", "Name", "--count", "1.5"},
        {"listen", "Name", "--seconds", "soon"},
        {"listen", "Name", "Other"},
        {"listen", "Name", "--loud"},
    };
    for (const auto& arguments : bad) {
        std::ostringstream out, err;
        EXPECT_EQ(runIpcCommand(arguments, out, err, nullptr), 2)
            << ::testing::PrintToString(arguments);
        EXPECT_NE(err.str().find("Usage:"), std::string::npos);
        EXPECT_TRUE(out.str().empty());
    }
    std::ostringstream out, err;
    EXPECT_EQ(runIpcCommand({"listen", "--help"}, out, err, nullptr), 0);
    EXPECT_NE(out.str().find("kalvor-ipc send TARGET TYPE ID TEXT [SENDER]"), std::string::npos);
}

TEST_F(IpcToolTest, AHelpWordInAMessageIsSentNotObeyed) {
    std::ostringstream out, err;
    EXPECT_EQ(runIpcCommand({"send", sandbox.uniqueName("absent"), "COMMAND", "", "--help"}, out,
                            err, nullptr),
              1);
    EXPECT_NE(err.str().find("Unable to send message."), std::string::npos);
}

TEST_F(IpcToolTest, SendHandsOneLineToTheTarget) {
    const std::string name = sandbox.uniqueName("toolsend");
    MailSlot receiver(MailSlot::kReceiver, name);
    ChildProcess send = run({"send", name, "COMMAND", "", "RUN_PROG prog|two words", "Me_x"});
    ASSERT_TRUE(send.started());
    EXPECT_EQ(send.waitForExit(60s), 0);
    std::vector<std::string> texts;
    receiver.receive(texts);
    EXPECT_EQ(texts, std::vector<std::string>{"Kalvor" + E + "COMMAND" + E + E +
                                              "RUN_PROG prog|two words" + E + "Me_x" + E});
}

TEST_F(IpcToolTest, SendToAMissingTargetReportsTheFailure) {
    ChildProcess send = run({"send", sandbox.uniqueName("absent"), "COMMAND", "", "DIE"}, true);
    ASSERT_TRUE(send.started());
    const std::string report = send.readToEnd(60s);
    EXPECT_EQ(send.waitForExit(60s), 1);
    EXPECT_NE(report.find("Unable to send message."), std::string::npos) << report;
}

// Sends `lines` to the listener, retrying the first until the listener's slot exists.
void sendWhenListening(const std::string& name, const std::vector<std::string>& lines) {
    IPCClient client(name);
    ASSERT_TRUE(Kalvor::Test::waitFor(
        [&] {
            try {
                return client.sendLine(lines.front());
            } catch (const IPCException&) {
                return false;
            }
        },
        60s));
    for (std::size_t i = 1; i < lines.size(); ++i)
        client.sendLine(lines[i]);
}

TEST_F(IpcToolTest, ListenPrintsEachLineAsItArrivesAndEndsAfterTheCount) {
    const std::string name = sandbox.uniqueName("toollisten");
    ChildProcess listen = run({"listen", name, "--count", "2"});
    ASSERT_TRUE(listen.started());
    sendWhenListening(name, {"Kalvor" + E + "COMMAND" + E + E + "STATUS_CHECK" + E + "Me" + E});
    std::string line;
    ASSERT_TRUE(listen.readLine(line, 60s));
    EXPECT_EQ(line, "COMMAND\t\tSTATUS_CHECK\tMe");
    sendWhenListening(name, {"other" + E + "line" + E});
    ASSERT_TRUE(listen.readLine(line, 60s));
    EXPECT_EQ(line, "#ignored\tother\\eline\\e");
    EXPECT_EQ(listen.waitForExit(60s), 0);
    EXPECT_FALSE(Kalvor::Test::slotExists(name));
}

TEST_F(IpcToolTest, ListenEndsAfterItsTime) {
    ChildProcess listen = run({"listen", sandbox.uniqueName("tooltime"), "--seconds", "0.2"});
    ASSERT_TRUE(listen.started());
    EXPECT_EQ(listen.waitForExit(60s), 0);
    EXPECT_EQ(listen.readToEnd(1s), "");
}

TEST_F(IpcToolTest, ListenEndsCleanlyOnAnInterrupt) {
    const std::string name = sandbox.uniqueName("toolstop");
    ChildProcess listen = run({"listen", name});
    ASSERT_TRUE(listen.started());
    sendWhenListening(name, {"Kalvor" + E + "A" + E + E + E});
    std::string line;
    ASSERT_TRUE(listen.readLine(line, 60s));
    if (!listen.interrupt())
        GTEST_SKIP() << "no interrupt here that reaches the program alone";
    EXPECT_EQ(listen.waitForExit(60s), 0);
    EXPECT_FALSE(Kalvor::Test::slotExists(name));
}

} // namespace
} // namespace Kalvor
