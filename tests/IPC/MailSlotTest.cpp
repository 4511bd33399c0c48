// The mailslot contract, the same on both platforms.
#include "IPC/MailSlot.h"

#include "Common/Exception.h"
#include "Common/SystemError.h"
#include "IPCTestSupport.h"
#include "JobInstance/Monopoly.h"
#include "Sandbox.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace Kalvor {
namespace {

class MailSlotTest : public ::testing::Test {
protected:
    Kalvor::Test::Sandbox sandbox;
};

// Receives until `count` texts have arrived (or a generous deadline passed).
std::vector<std::string> receiveCount(MailSlot& receiver, std::size_t count) {
    std::vector<std::string> texts;
    Kalvor::Test::waitFor([&] {
        receiver.receive(texts);
        return texts.size() >= count;
    });
    return texts;
}

template <typename Action> IPCException ipcFailure(Action action) {
    try {
        action();
    } catch (const IPCException& error) {
        return error;
    }
    ADD_FAILURE() << "no IPCException thrown";
    return IPCException(IC_NONE);
}

TEST_F(MailSlotTest, SendToANameWithoutReceiverFailsWithTheFileNotFoundText) {
    MailSlot sender(MailSlot::kLocalSender, sandbox.uniqueName("nobody"));
    const IPCException error = ipcFailure([&] { sender.send("hello"); });
    EXPECT_EQ(error.code(), IC_CANNOT_SEND);
    EXPECT_EQ(error.detail(), systemErrorText(2));
    ASSERT_FALSE(error.trail().empty());
    EXPECT_EQ(error.trail().front().name, "MailSlot.");
}

TEST_F(MailSlotTest, ReceiveOnAnEmptySlotLeavesTheListAlone) {
    MailSlot receiver(MailSlot::kReceiver, sandbox.uniqueName("empty"));
    std::vector<std::string> texts{"already there"};
    receiver.receive(texts);
    EXPECT_EQ(texts, std::vector<std::string>{"already there"});
}

TEST_F(MailSlotTest, WaitingTextsAreAppendedInTheOrderWritten) {
    const std::string name = sandbox.uniqueName("order");
    MailSlot receiver(MailSlot::kReceiver, name);
    MailSlot sender(MailSlot::kLocalSender, name);
    for (const char* text : {"first", "second", "third"})
        EXPECT_TRUE(sender.send(text));
    std::vector<std::string> texts{"earlier"};
    receiver.receive(texts);
    EXPECT_EQ(texts, (std::vector<std::string>{"earlier", "first", "second", "third"}));
}

TEST_F(MailSlotTest, TextsArriveByteForByte) {
    const std::string name = sandbox.uniqueName("bytes");
    MailSlot receiver(MailSlot::kReceiver, name);
    MailSlot sender(MailSlot::kLocalSender, name);
    std::string everyByte;
    for (int byte = 1; byte < 256; ++byte)
        everyByte += static_cast<char>(byte);
    const std::vector<std::string> sent{"", everyByte, std::string(150000, 'x')};
    for (const std::string& text : sent)
        sender.send(text);
    const std::vector<std::string> received = receiveCount(receiver, sent.size());
    ASSERT_EQ(received.size(), sent.size());
    for (std::size_t i = 0; i < sent.size(); ++i) {
        EXPECT_EQ(received[i].size(), sent[i].size()) << "text " << i;
        EXPECT_TRUE(received[i] == sent[i]) << "text " << i << " differs";
    }
}

TEST_F(MailSlotTest, ADatagramIsReadUpToItsFirstZeroByteOrWhole) {
    const std::string name = sandbox.uniqueName("raw");
    MailSlot receiver(MailSlot::kReceiver, name);
    Kalvor::Test::sendRawDatagram(name, "no terminator");
    Kalvor::Test::sendRawDatagram(name, std::string("cut\0here", 8));
    Kalvor::Test::sendRawDatagram(name, "x");
    EXPECT_EQ(receiveCount(receiver, 3), (std::vector<std::string>{"no terminator", "cut", "x"}));
}

TEST_F(MailSlotTest, TheModeDecidesWhichOperationsWork) {
    const std::string name = sandbox.uniqueName("modes");
    MailSlot receiver(MailSlot::kReceiver, name);
    EXPECT_EQ(ipcFailure([&] { receiver.send("to myself"); }).code(), IC_NOT_SENDER);

    MailSlot sender(MailSlot::kLocalSender, name);
    std::vector<std::string> texts;
    EXPECT_EQ(ipcFailure([&] { sender.receive(texts); }).code(), IC_NOT_RECEIVER);
    EXPECT_EQ(ipcFailure([] { MailSlot(3, "x"); }).code(), IC_CANNOT_CREATE_COMM);

    // The receiver's refused send opened nothing that could have delivered the text.
    sender.send("from the sender");
    EXPECT_EQ(receiveCount(receiver, 1), std::vector<std::string>{"from the sender"});
}

TEST_F(MailSlotTest, ASenderNeverCreatesTheSlot) {
    const std::string name = sandbox.uniqueName("nocreate");
    {
        MailSlot sender(MailSlot::kLocalSender, name);
        EXPECT_EQ(ipcFailure([&] { sender.send("lost"); }).code(), IC_CANNOT_SEND);
        EXPECT_EQ(ipcFailure([&] { sender.send("lost again"); }).code(), IC_CANNOT_SEND);
    }
    MailSlot receiver(MailSlot::kReceiver, name);
    std::vector<std::string> texts;
    receiver.receive(texts);
    EXPECT_TRUE(texts.empty());
}

TEST_F(MailSlotTest, ASecondReceiverOfTheNameIsRefused) {
    const std::string name = sandbox.uniqueName("twice");
    MailSlot first(MailSlot::kReceiver, name);
    EXPECT_EQ(ipcFailure([&] { MailSlot(MailSlot::kReceiver, name); }).code(),
              IC_CANNOT_CREATE_COMM);
    MailSlot sender(MailSlot::kLocalSender, name);
    sender.send("still the first's");
    EXPECT_EQ(receiveCount(first, 1), std::vector<std::string>{"still the first's"});
}

TEST_F(MailSlotTest, AfterAFailedWriteTheNextSendOpensTheSlotAgain) {
    if (Kalvor::Test::runningUnderWine())
        GTEST_SKIP() << "Wine accepts writes to a mailslot whose receiver has gone";
    const std::string name = sandbox.uniqueName("reopen");
    MailSlot sender(MailSlot::kLocalSender, name);
    {
        MailSlot gone(MailSlot::kReceiver, name);
        sender.send("to the first receiver");
    }
    MailSlot second(MailSlot::kReceiver, name);
    EXPECT_EQ(ipcFailure([&] { sender.send("into the void"); }).code(), IC_CANNOT_SEND);
    EXPECT_TRUE(sender.send("to the second receiver"));
    EXPECT_EQ(receiveCount(second, 1), std::vector<std::string>{"to the second receiver"});
}

TEST_F(MailSlotTest, ABroadcastReachesTheLocalReceiver) {
    if (Kalvor::Test::runningUnderWine())
        GTEST_SKIP() << "Wine has no broadcast mailslots";
    const std::string name = sandbox.uniqueName("broadcast");
    MailSlot receiver(MailSlot::kReceiver, name);
    MailSlot sender(MailSlot::kBroadcastSender, name);
    sender.send("to everyone");
    EXPECT_EQ(receiveCount(receiver, 1), std::vector<std::string>{"to everyone"});
}

TEST_F(MailSlotTest, ATextWithAZeroByteIsRefusedRatherThanCut) {
    const std::string name = sandbox.uniqueName("zero");
    MailSlot receiver(MailSlot::kReceiver, name);
    MailSlot sender(MailSlot::kLocalSender, name);
    EXPECT_EQ(ipcFailure([&] { sender.send(std::string("cut\0off", 7)); }).code(), IC_CANNOT_SEND);
}

TEST_F(MailSlotTest, ASenderWaitsWhileAnotherHoldsTheWriterLock) {
    const std::string name = sandbox.uniqueName("lock");
    MailSlot receiver(MailSlot::kReceiver, name);
    MailSlot sender(MailSlot::kLocalSender, name);
    Monopoly otherWriter("Kalvor_MailSlot");
    // On win32 the lock is machine-wide: a parallel test may hold it for a moment.
    ASSERT_TRUE(Kalvor::Test::waitFor([&] { return otherWriter.acquire(); }));

    std::atomic<bool> sent{false};
    std::thread writer([&] {
        try {
            sent = sender.send("after my turn");
        } catch (const IPCException&) {
        }
    });
    std::vector<std::string> texts;
    // Looking for a moment: nothing may be written while the lock is held elsewhere.
    EXPECT_FALSE(Kalvor::Test::waitFor(
        [&] {
            receiver.receive(texts);
            return !texts.empty();
        },
        std::chrono::milliseconds(200)));
    otherWriter.release();
    writer.join();
    EXPECT_TRUE(sent);
    EXPECT_EQ(receiveCount(receiver, 1), std::vector<std::string>{"after my turn"});
}

TEST_F(MailSlotTest, ASenderGivesUpOnAWriterLockThatIsNeverFreed) {
    if (!Kalvor::Test::namedLocksArePrivate())
        GTEST_SKIP() << "holding the machine-wide writer lock would stall the parallel tests";
    const std::string name = sandbox.uniqueName("stuck");
    MailSlot receiver(MailSlot::kReceiver, name);
    MailSlot sender(MailSlot::kLocalSender, name);
    Monopoly stuckWriter("Kalvor_MailSlot");
    ASSERT_TRUE(stuckWriter.acquire());
    EXPECT_EQ(ipcFailure([&] { sender.send("never"); }).code(), IC_CANNOT_SEND);
    stuckWriter.release();
    EXPECT_TRUE(sender.send("now"));
    EXPECT_EQ(receiveCount(receiver, 1), std::vector<std::string>{"now"});
}

TEST_F(MailSlotTest, WritersOfOneProcessTakeTurns) {
    const std::string name = sandbox.uniqueName("turns");
    MailSlot receiver(MailSlot::kReceiver, name);
    constexpr int kWriters = 3;
    constexpr int kEach = 300;
    std::atomic<int> failures{0};
    std::vector<std::thread> writers;
    for (int w = 0; w < kWriters; ++w)
        writers.emplace_back([&name, &failures, w] {
            try {
                MailSlot sender(MailSlot::kLocalSender, name);
                for (int i = 0; i < kEach; ++i)
                    sender.send(std::to_string(w) + ":" + std::to_string(i));
            } catch (const IPCException&) {
                ++failures;
            }
        });
    std::vector<std::string> texts;
    // The receiver keeps draining meanwhile, as the Windows slot would buffer.
    Kalvor::Test::waitFor([&] {
        receiver.receive(texts);
        return texts.size() >= kWriters * kEach;
    });
    for (std::thread& writer : writers)
        writer.join();
    receiver.receive(texts);
    EXPECT_EQ(failures, 0);
    ASSERT_EQ(texts.size(), static_cast<std::size_t>(kWriters * kEach));
    int next[kWriters] = {};
    for (const std::string& text : texts) {
        const int writer = std::stoi(text.substr(0, text.find(':')));
        EXPECT_EQ(text, std::to_string(writer) + ":" + std::to_string(next[writer]++));
    }
}

} // namespace
} // namespace Kalvor
