#include "IPC/IPCClient.h"

#include "Common/Exception.h"
#include "IPC/MailSlot.h"
#include "IPCTestSupport.h"
#include "Sandbox.h"

#include <gtest/gtest.h>

#include <functional>

namespace Kalvor {
namespace {

class IPCClientTest : public ::testing::Test {
protected:
    Kalvor::Test::Sandbox sandbox;
};

std::vector<std::string> receiveCount(MailSlot& receiver, std::size_t count) {
    std::vector<std::string> texts;
    Kalvor::Test::waitFor([&] {
        receiver.receive(texts);
        return texts.size() >= count;
    });
    return texts;
}

TEST_F(IPCClientTest, SendsTheMessageLineToTheTarget) {
    const std::string name = sandbox.uniqueName("client");
    MailSlot receiver(MailSlot::kReceiver, name);
    IPCClient client(name);
    EXPECT_TRUE(client.send("LOGMSG", "", "a text"));
    EXPECT_TRUE(client.send("COMMAND", "SEND_PROCESS_INFO", "", "Wardex_me"));
    EXPECT_TRUE(client.sendLine("raw line"));
    EXPECT_EQ(receiveCount(receiver, 3),
              (std::vector<std::string>{"Kalvor\x1bLOGMSG\x1b\x1b"
                                        "a text\x1b",
                                        "Kalvor\x1b"
                                        "COMMAND\x1bSEND_PROCESS_INFO\x1b\x1bWardex_me\x1b",
                                        "raw line"}));
}

TEST_F(IPCClientTest, OpensNothingBeforeItsFirstSend) {
    const std::string name = sandbox.uniqueName("idle");
    {
        IPCClient idle(name);
        EXPECT_FALSE(idle.hasChannel());
        EXPECT_EQ(idle.target(), name);
    }
    MailSlot receiver(MailSlot::kReceiver, name);
    IPCClient client(name);
    client.send("COMMAND", "", "STATUS_CHECK");
    EXPECT_TRUE(client.hasChannel());
}

TEST_F(IPCClientTest, FailuresCarryTheClientsLocationLast) {
    const std::string missing = sandbox.uniqueName("missing");
    const struct {
        const char* what;
        std::function<void(IPCClient&)> send;
        const char* firstLocation;
    } cases[] = {
        {"send to a missing target", [](IPCClient& c) { c.send("COMMAND", "", "DIE"); },
         "MailSlot."},
        {"line to a missing target", [](IPCClient& c) { c.sendLine("x"); }, "MailSlot."},
        {"field holding ESC",
         [](IPCClient& c) {
             c.send("COMMAND", "",
                    "a\x1b"
                    "b");
         },
         "IPCMessage."},
    };
    for (const auto& c : cases) {
        IPCClient client(missing);
        try {
            c.send(client);
            ADD_FAILURE() << c.what << ": nothing thrown";
        } catch (const IPCException& error) {
            EXPECT_EQ(error.code(), IC_CANNOT_SEND) << c.what;
            ASSERT_GE(error.trail().size(), 2u) << c.what;
            EXPECT_EQ(error.trail().front().name, c.firstLocation) << c.what;
            EXPECT_EQ(error.trail().back().name, "IPCClient.") << c.what;
        }
    }
}

} // namespace
} // namespace Kalvor
