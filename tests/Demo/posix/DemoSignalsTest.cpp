// posix only: the signals that stand in for the end of the session and for a close, and the
// supervisor's mailslot as the default place for an answer.
#include "DemoTestSupport.h"
#include "Sandbox.h"

#include "IPC/IPCMessage.h"
#include "IPC/MailSlot.h"

#include <gtest/gtest.h>

#include <csignal>

namespace Kalvor {
namespace {

using Kalvor::Test::DemoProcess;
using Kalvor::Test::ReplyBox;
using Kalvor::Test::uniqueDemoId;

class DemoSignalsTest : public ::testing::Test {
protected:
    Kalvor::Test::Sandbox sandbox;
    ReplyBox box;
};

TEST_F(DemoSignalsTest, SessionEndAndInterruptEndItWithZero) {
    for (const int signal : {SIGTERM, SIGHUP, SIGINT}) {
        DemoProcess app(uniqueDemoId("Signal"));
        ASSERT_TRUE(app.askProcessInfo(box));
        ASSERT_EQ(::kill(static_cast<pid_t>(app.job().processId()), signal), 0);
        EXPECT_EQ(app.waitForExit(), 0) << strsignal(signal);
    }
}

TEST_F(DemoSignalsTest, AQuestionWithoutASenderIsAnsweredToTheSupervisor) {
    // The sandbox makes the supervisor's name private to this test.
    MailSlot supervisor(MailSlot::kReceiver, "Wardex_" + Kalvor::Test::currentUserTag());
    DemoProcess app(uniqueDemoId("NoSender"));
    ASSERT_TRUE(app.askProcessInfo(box));
    app.sendLine(buildMessageLine("COMMAND", "SEND_PROCESS_INFO", "SEND_PROCESS_INFO", ""));
    std::vector<std::string> lines;
    ASSERT_TRUE(Kalvor::Test::waitFor([&] {
        supervisor.receive(lines);
        return !lines.empty();
    }));
    IPCMessage answer;
    ASSERT_TRUE(parseMessageLine(lines.front(), answer));
    EXPECT_EQ(answer.type, "REPLY");
    EXPECT_EQ(answer.text, app.processInfo());
}

} // namespace
} // namespace Kalvor
