// The demo application as the supervisor meets it: a separate process that answers over its
// mailslot, ends when told to, and misbehaves when told to.
#include "DemoTestSupport.h"
#include "Sandbox.h"

#include "IPC/IPCMessage.h"
#include "JobInstance/ProcessInstance.h"

#include <gtest/gtest.h>

namespace Kalvor {
namespace {

using Kalvor::Test::DemoProcess;
using Kalvor::Test::ReplyBox;
using Kalvor::Test::uniqueDemoId;

class DemoApplicationTest : public ::testing::Test {
protected:
    Kalvor::Test::Sandbox sandbox;
    ReplyBox box;
};

std::string line(const std::string& type, const std::string& id, const std::string& text) {
    return buildMessageLine(type, id, text, "DemoTests");
}

TEST_F(DemoApplicationTest, AnswersWithTheProcessAndMainThreadThatAPoliteCloseReaches) {
    DemoProcess app(uniqueDemoId("Info"));
    const auto answer = app.askProcessInfo(box);
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->type, "REPLY");
    EXPECT_EQ(answer->id, "SEND_PROCESS_INFO");
    EXPECT_EQ(answer->text, app.processInfo());
    EXPECT_EQ(answer->sender, app.mailslotName());

    // What the supervisor does with the answer: attach to that process and thread.
    const auto comma = answer->text.find(',');
    ASSERT_NE(comma, std::string::npos);
    ProcessInstance captured(static_cast<uint32_t>(std::stoul(answer->text.substr(0, comma))),
                             static_cast<uint32_t>(std::stoul(answer->text.substr(comma + 1))));
    ASSERT_EQ(captured.status(), JobRunning);
    captured.terminate(false, 0, 20000);
    EXPECT_EQ(captured.status(), JobClosed);
    EXPECT_EQ(app.waitForExit(), 0);
}

TEST_F(DemoApplicationTest, DieEndsItWithZero) {
    DemoProcess app(uniqueDemoId("Die"));
    ASSERT_TRUE(app.askProcessInfo(box));
    app.sendLine(line("COMMAND", "", "DIE"));
    EXPECT_EQ(app.waitForExit(), 0);
}

TEST_F(DemoApplicationTest, APoliteCloseEndsItWithZero) {
    DemoProcess app(uniqueDemoId("Close"));
    ASSERT_TRUE(app.askProcessInfo(box));
    ASSERT_TRUE(app.job().askToClose());
    EXPECT_EQ(app.waitForExit(), 0);
}

TEST_F(DemoApplicationTest, OtherMessagesAndAnIgnoredDieLeaveItAnswering) {
    const struct {
        std::vector<std::string> arguments;
        std::vector<std::string> lines;
    } cases[] = {
        {{"--ignore-die"}, {line("COMMAND", "", "DIE")}},
        {{},
         {line("COMMAND", "", "die"), line("COMMAND", "RECONFIG", "RECONFIG"),
          line("REPLY", "DIE", "DIE"), line("DIE", "", ""),
          "kalvor\x1b"
          "COMMAND\x1b\x1b"
          "DIE\x1b",
          "DIE"}},
    };
    for (const auto& c : cases) {
        DemoProcess app(uniqueDemoId("Stays"), c.arguments);
        ASSERT_TRUE(app.askProcessInfo(box));
        for (const std::string& text : c.lines)
            app.sendLine(text);
        // Lines are taken in order: once this answer is in, all of the above were handled.
        const auto answer = app.askProcessInfo(box);
        ASSERT_TRUE(answer) << c.arguments.size();
        EXPECT_EQ(answer->text, app.processInfo());
        EXPECT_TRUE(app.running()) << c.arguments.size();
    }
}

TEST_F(DemoApplicationTest, CrashModeEndsItNonZeroOnItsOwn) {
    const std::string byArgument = uniqueDemoId("Crash");
    const std::string byEnvironment = uniqueDemoId("Crash");
    Kalvor::Test::ScopedEnv crash("KALVOR_DEMO_CRASH_AFTER_" + byEnvironment, "0.2");
    const struct {
        std::string id;
        std::vector<std::string> arguments;
    } cases[] = {{byArgument, {"--crash-after", "0.2"}}, {byEnvironment, {}}};
    for (const auto& c : cases) {
        DemoProcess app(c.id, c.arguments);
        const auto code = app.waitForExit();
        ASSERT_TRUE(code) << c.id;
        EXPECT_EQ(*code, 3) << c.id;
    }
}

TEST_F(DemoApplicationTest, ASecondInstanceOfAnIdIsRefusedAndTheFirstCarriesOn) {
    const std::string id = uniqueDemoId("Twice");
    DemoProcess first(id);
    ASSERT_TRUE(first.askProcessInfo(box));
    DemoProcess second(id);
    EXPECT_EQ(second.waitForExit(), 1);
    const auto answer = first.askProcessInfo(box);
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->text, first.processInfo());
}

} // namespace
} // namespace Kalvor
