#include "Logger/LogMessenger.h"

#include "IPC/IPCMessage.h"
#include "IPC/MailSlot.h"
#include "Logger/LogMessengerIPC.h"
#include "Logger/LogParams.h"
#include "Logger/LogRecord.h"
#include "Logger/LogState.h"
#include "LoggerTestSupport.h"

#include <gtest/gtest.h>

#include <memory>

namespace Kalvor {
namespace {

using Kalvor::Test::logLines;
using Kalvor::Test::readFile;

LogRecord entry(LogKind kind, int32_t module, int32_t message, std::string text) {
    LogRecord record;
    record.kind = kind;
    record.sourceNumber = 2;
    record.moduleNumber = module;
    record.time = DateTime(2007, 10, 24, 9, 23, 29);
    record.severity = kWarning;
    record.debugLevel = 3;
    record.messageNumber = kind == LogKind::Debug ? LogRecord::kNoMessageNumber : message;
    record.text = std::move(text);
    return record;
}

class LogMessengerTest : public testing::Test {
protected:
    void SetUp() override {
        LogState::setTimeMode(kTimeZulu);
        auto catalog = std::make_shared<MessageCatalog>();
        catalog->set(23, 7, "The application \"%s\" is not running.");
        LogState::registerCatalog(catalog);
    }

    // The lines the messenger wrote, without the writer's own opened line.
    std::vector<std::string> written() const {
        auto lines = logLines(sandbox.logPath());
        return lines.size() > 2 ? std::vector<std::string>(lines.begin() + 2, lines.end())
                                : std::vector<std::string>();
    }

    Kalvor::Test::LoggerSandbox sandbox;
};

TEST_F(LogMessengerTest, WritesFoundMessagesMissingOnesAndDebugText) {
    LogMessenger messenger;
    ASSERT_TRUE(messenger.writer().setPath(sandbox.logPath()));
    const std::string app = LogParams().add("Editor").text();
    EXPECT_TRUE(messenger.write(entry(LogKind::Catalog, 23, 7, app).wireText()));
    EXPECT_TRUE(messenger.write(entry(LogKind::Catalog, 23, 8, app).wireText()));
    EXPECT_TRUE(messenger.write(entry(LogKind::Catalog, 1, 7, app).wireText()));
    EXPECT_TRUE(messenger.write(entry(LogKind::Debug, 2, 0, "ConfReader: Created.").wireText()));
    EXPECT_EQ(written(), (std::vector<std::string>{
                             "WARNING  2007-10-24T09:23:29Z (2.23.07) The application \"Editor\" "
                             "is not running.",
                             "WARNING  2007-10-24T09:23:29Z (2.23.08) (Message not found.) "
                             "Parameters: Editor  ",
                             "WARNING  2007-10-24T09:23:29Z (2.01.07) (Message not found.) "
                             "Parameters: Editor  ",
                             "debug-3  2007-10-24T09:23:29Z (2.02)    ConfReader: Created.",
                         }));
}

TEST_F(LogMessengerTest, WithoutCatalogEveryEntryIsNotFound) {
    LogState::registerCatalog(nullptr);
    LogMessenger messenger;
    ASSERT_TRUE(messenger.writer().setPath(sandbox.logPath()));
    EXPECT_TRUE(messenger.write(entry(LogKind::Catalog, 23, 7, "").wireText()));
    EXPECT_EQ(written(), std::vector<std::string>{
                             "WARNING  2007-10-24T09:23:29Z (2.23.07) (Message not found.)"});
}

TEST_F(LogMessengerTest, TextThatDoesNotParseWritesNothing) {
    LogMessenger messenger;
    ASSERT_TRUE(messenger.writer().setPath(sandbox.logPath()));
    std::string wire = entry(LogKind::Debug, 2, 0, "x").wireText();
    wire[0] = 'k';
    EXPECT_FALSE(messenger.write(wire));
    EXPECT_FALSE(messenger.write(""));
    EXPECT_EQ(readFile(sandbox.logPath()), "");
}

// One test for everything that needs the core's mailslot: under Wine the name is machine-wide
// and the tests of this binary run in parallel processes.
TEST_F(LogMessengerTest, IPCMessengerForwardsCatalogEntriesToTheCore) {
    auto messenger = std::make_unique<LogMessengerIPC>();
    ASSERT_TRUE(messenger->writer().setPath(sandbox.logPath()));
    const std::string catalogWire =
        entry(LogKind::Catalog, 23, 7, LogParams().add("Editor").text()).wireText();
    const std::string debugWire = entry(LogKind::Debug, 23, 0, "stays local").wireText();

    // No core listening: written locally, reported as not delivered.
    EXPECT_FALSE(messenger->write(catalogWire));
    EXPECT_TRUE(messenger->write(debugWire));

    MailSlot core(MailSlot::kReceiver, LogMessengerIPC::kCoreMailslot);
    EXPECT_TRUE(messenger->write(debugWire));
    EXPECT_TRUE(messenger->write(catalogWire));
    std::vector<std::string> received;
    ASSERT_TRUE(Kalvor::Test::waitFor([&] {
        core.receive(received);
        return !received.empty();
    }));
    // The debug entry written before it would have arrived first.
    IPCMessage message;
    ASSERT_TRUE(parseMessageLine(received[0], message));
    EXPECT_EQ(message.type, "LOGMSG");
    EXPECT_EQ(message.id, "");
    EXPECT_EQ(message.text, catalogWire);
    EXPECT_EQ(message.sender, "");
    EXPECT_EQ(received.size(), 1u);

    // An entry whose message is not in any catalog is still forwarded.
    const std::string unknown = entry(LogKind::Catalog, 38, 1, "").wireText();
    EXPECT_TRUE(messenger->write(unknown));
    received.clear();
    ASSERT_TRUE(Kalvor::Test::waitFor([&] {
        core.receive(received);
        return !received.empty();
    }));
    ASSERT_TRUE(parseMessageLine(received[0], message));
    EXPECT_EQ(message.text, unknown);

    messenger.reset();
    const std::string log = readFile(sandbox.logPath());
    EXPECT_EQ(log.find("stays local") != std::string::npos, true);
    EXPECT_NE(log.find("(2.38.01) (Message not found.)"), std::string::npos) << log;
}

} // namespace
} // namespace Kalvor
