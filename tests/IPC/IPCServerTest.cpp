// The IPC server: what reaches the handler from the lines in its mailslot, and how the
// listener stops.
#include "IPC/IPCServer.h"
#include "CapturedLog.h"
#include "Common/Exception.h"
#include "IPC/IPCClient.h"
#include "JobInstance/ThreadMessages.h"
#include "Sandbox.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <mutex>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

namespace Kalvor {
namespace {

using Test::CapturedLog;

const std::string kEsc = "\x1b";

struct Received {
    std::string type, id, text, sender;
};

class IPCServerTest : public ::testing::Test {
protected:
    std::unique_ptr<IPCServer> startServer() {
        auto server =
            std::make_unique<IPCServer>(kName, log_.dispatcher(),
                                        [this](const std::string& type, const std::string& id,
                                               const std::string& text, const std::string& sender) {
                                            std::lock_guard<std::mutex> guard(mutex_);
                                            received_.push_back({type, id, text, sender});
                                        });
        EXPECT_TRUE(log_.waitFor("IPC: MailSlot created \"" + kName + "\"."));
        return server;
    }
    void sendLine(const std::string& line) {
        IPCClient client(kName);
        ASSERT_TRUE(client.sendLine(line));
    }
    std::vector<Received> received() {
        std::lock_guard<std::mutex> guard(mutex_);
        return received_;
    }
    bool waitForMessages(std::size_t count) {
        return Kalvor::Test::waitFor([&] { return received().size() >= count; });
    }

    Kalvor::Test::Sandbox sandbox_;
    // Mailslot names are machine-wide under Wine, where the tests run in parallel processes.
    const std::string kName = sandbox_.uniqueName("ServerUnderTest");
    CapturedLog log_;
    std::mutex mutex_;
    std::vector<Received> received_;
};

TEST_F(IPCServerTest, IgnoresLinesNotAddressedExactlyToKalvor) {
    auto server = startServer();
    sendLine("KalvorX" + kEsc + "COMMAND" + kEsc + kEsc + "DIE" + kEsc);
    sendLine("kalvor" + kEsc + "COMMAND" + kEsc + kEsc + "DIE" + kEsc);
    sendLine("Kalvor" + kEsc + "COMMAND" + kEsc + kEsc + "LAST" + kEsc);
    ASSERT_TRUE(waitForMessages(1));
    server->stop();
    ASSERT_EQ(received().size(), 1u);
    EXPECT_EQ(received()[0].text, "LAST");
    EXPECT_EQ(log_.count("IPC: The message was not adressed to Kalvor. Ignoring it."), 2u);
}

TEST_F(IPCServerTest, SplitsFieldsWithEmptyIdAndNoSender) {
    auto server = startServer();
    sendLine("Kalvor" + kEsc + "COMMAND" + kEsc + kEsc + "DIE" + kEsc);
    ASSERT_TRUE(waitForMessages(1));
    server->stop();
    const Received message = received().at(0);
    EXPECT_EQ(message.type, "COMMAND");
    EXPECT_EQ(message.id, "");
    EXPECT_EQ(message.text, "DIE");
    EXPECT_EQ(message.sender, "");
}

TEST_F(IPCServerTest, LineWithoutSeparatorIsOneFirstField) {
    auto server = startServer();
    sendLine("Kalvor COMMAND DIE");
    sendLine("Kalvor");
    ASSERT_TRUE(waitForMessages(1));
    server->stop();
    ASSERT_EQ(received().size(), 1u);
    const Received message = received()[0];
    EXPECT_EQ(message.type + message.id + message.text + message.sender, "");
    EXPECT_TRUE(log_.contains("IPC: Received message line \"Kalvor COMMAND DIE\"."));
}

// The handler gets the whole line; the log quotes its first kilobyte and its length.
TEST_F(IPCServerTest, LongLineIsQuotedInPart) {
    auto server = startServer();
    const std::string text(5000, 'y');
    sendLine("Kalvor" + kEsc + "COMMAND" + kEsc + kEsc + text + kEsc);
    ASSERT_TRUE(waitForMessages(1));
    server->stop();
    EXPECT_EQ(received().at(0).text, text);
    EXPECT_TRUE(log_.contains("IPC: Received message line \"Kalvor\\x1bCOMMAND\\x1b\\x1b" +
                              std::string(984, 'y') + "\xE2\x80\xA6(5017 bytes)\"."));
    EXPECT_FALSE(log_.contains(std::string(985, 'y')));
}

// The listener wakes for each message; two that wait together are taken in one pass. They are
// made to wait by a handler still busy with an earlier one.
TEST_F(IPCServerTest, HandlesTwoWaitingDatagramsInOrderInOnePass) {
    std::promise<void> bothSent;
    std::shared_future<void> sent = bothSent.get_future().share();
    IPCServer server(kName, log_.dispatcher(),
                     [&](const std::string&, const std::string&, const std::string& text,
                         const std::string& sender) {
                         if (text == "HOLD")
                             sent.wait();
                         std::lock_guard<std::mutex> guard(mutex_);
                         received_.push_back({"COMMAND", "", text, sender});
                     });
    std::string failure;
    ASSERT_TRUE(server.waitUntilReady(failure)) << failure;
    {
        IPCClient client(kName);
        ASSERT_TRUE(client.send("COMMAND", "0", "HOLD", "Tester"));
        ASSERT_TRUE(Kalvor::Test::waitFor([&] { return log_.contains("HOLD"); }));
        ASSERT_TRUE(client.send("COMMAND", "1", "FIRST", "Tester"));
        ASSERT_TRUE(client.send("COMMAND", "2", "SECOND", "Tester"));
    }
    bothSent.set_value();
    ASSERT_TRUE(waitForMessages(3));
    server.stop();
    ASSERT_EQ(received().size(), 3u);
    EXPECT_EQ(received()[1].text, "FIRST");
    EXPECT_EQ(received()[2].text, "SECOND");
    EXPECT_EQ(received()[2].sender, "Tester");
    const long counted = log_.indexOf("IPC: Server \"" + kName + "\": Received 2 message(s)...");
    ASSERT_GE(counted, 0);
    EXPECT_LT(counted, log_.indexOf("FIRST"));
}

TEST_F(IPCServerTest, StopEndsTheListenerWithinAPass) {
    auto server = startServer();
    server->stop();
    EXPECT_TRUE(log_.contains("IPC: Exitited IPC listener."));
    EXPECT_TRUE(log_.contains("IPC: Stopped server \"" + kName + "\"."));
    EXPECT_FALSE(server->listening());
    server.reset();
    EXPECT_TRUE(log_.contains("IPC: Destroyed server \"" + kName + "\"."));
    // The name is free again once the listener has gone.
    auto second = startServer();
    second->stop();
}

TEST_F(IPCServerTest, DestroyMessageEndsTheLoopAndStopAfterwardsFindsItEnded) {
    auto server = startServer();
    ASSERT_TRUE(Kalvor::Test::waitFor(
        [&] { return postThreadMessage(server->listenerThreadId(), kWmDestroy, 0, 0); }));
    ASSERT_TRUE(log_.waitFor("IPC: Exitited IPC listener."));
    EXPECT_TRUE(log_.contains("IPC: Received message to exit IPC listener."));
    EXPECT_FALSE(server->listening());
    // The listener has ended already: stop() has nothing to wait for.
    server->stop();
    EXPECT_TRUE(log_.contains("IPC: Stopped server \"" + kName + "\"."));
}

TEST_F(IPCServerTest, TakenMailslotFailsTheListener) {
    auto first = startServer();
    std::string failure = "untouched";
    EXPECT_TRUE(first->waitUntilReady(failure));
    EXPECT_EQ(failure, "");
    CapturedLog secondLog;
    IPCServer second(
        kName, secondLog.dispatcher(),
        [](const std::string&, const std::string&, const std::string&, const std::string&) {});
    EXPECT_FALSE(second.waitUntilReady(failure));
    EXPECT_NE(failure.find("cannot create the mailslot \"" + kName + "\""), std::string::npos)
        << failure;
    EXPECT_TRUE(Kalvor::Test::waitFor([&] { return !second.listening(); }));
    EXPECT_FALSE(secondLog.contains("IPC: MailSlot created"));
    first->stop();
}

// Whatever a handler throws, the listener logs it and goes on with the next message.
TEST_F(IPCServerTest, AThrowingHandlerDoesNotEndTheListener) {
    std::atomic<int> handled{0};
    IPCServer server(kName, log_.dispatcher(),
                     [&](const std::string&, const std::string&, const std::string& text,
                         const std::string&) {
                         ++handled;
                         if (text == "library")
                             throw IPCException(IC_CANNOT_SEND, "from the handler", KALVOR_HERE);
                         if (text == "standard")
                             throw std::runtime_error("standard failure");
                         if (text == "memory")
                             throw std::bad_alloc();
                     });
    std::string failure;
    ASSERT_TRUE(server.waitUntilReady(failure));
    for (const char* text : {"library", "standard", "memory", "last"})
        sendLine("Kalvor" + kEsc + "COMMAND" + kEsc + kEsc + text + kEsc);
    EXPECT_TRUE(Kalvor::Test::waitFor([&] { return handled.load() == 4; }));
    EXPECT_TRUE(server.listening());
    EXPECT_EQ(log_.count("IPC: The handler failed on a message"), 3u);
    EXPECT_TRUE(log_.contains("standard failure"));
    server.stop();
}

} // namespace
} // namespace Kalvor
