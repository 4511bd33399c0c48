#include "IPC/IPCMessage.h"

#include "Common/Exception.h"

#include <gtest/gtest.h>

namespace Kalvor {
namespace {

const std::string E(1, '\x1b');

TEST(MessageLine, LaysTheFieldsOutEachFollowedByEsc) {
    const struct {
        std::string type, id, text, sender, line;
    } cases[] = {
        {"LOGMSG", "", "a log text", "", "Kalvor" + E + "LOGMSG" + E + E + "a log text" + E},
        {"COMMAND", "SEND_PROCESS_INFO", "", "Wardex_me",
         "Kalvor" + E + "COMMAND" + E + "SEND_PROCESS_INFO" + E + E + "Wardex_me" + E},
        {"", "", "", "", "Kalvor" + E + E + E + E},
        {"REPLY", "SEND_PROCESS_INFO", "12,34", "",
         "Kalvor" + E + "REPLY" + E + "SEND_PROCESS_INFO" + E + "12,34" + E},
    };
    for (const auto& c : cases)
        EXPECT_EQ(buildMessageLine(c.type, c.id, c.text, c.sender), c.line) << c.type;
}

TEST(MessageLine, RefusesAFieldHoldingEsc) {
    const std::string bad = "a" + E + "b";
    const std::string fields[4][4] = {
        {bad, "", "", ""}, {"T", bad, "", ""}, {"T", "", bad, ""}, {"T", "", "", bad}};
    for (const auto& f : fields) {
        try {
            buildMessageLine(f[0], f[1], f[2], f[3]);
            ADD_FAILURE() << "accepted an ESC inside a field";
        } catch (const IPCException& error) {
            EXPECT_EQ(error.code(), IC_CANNOT_SEND);
        }
    }
}

TEST(MessageLine, ParsesAsTheServerReadsIt) {
    const struct {
        std::string line;
        bool addressed;
        IPCMessage message;
    } cases[] = {
        {"Kalvor" + E + "COMMAND" + E + E + "DIE" + E, true, {"COMMAND", "", "DIE", ""}},
        {"Kalvor" + E + "REPLY" + E + "ID" + E + "1,2" + E + "App_me" + E,
         true,
         {"REPLY", "ID", "1,2", "App_me"}},
        {"Kalvor", true, {"", "", "", ""}},
        {"Kalvor" + E + "T" + E + "I" + E + "X" + E + "S" + E + "extra" + E,
         true,
         {"T", "I", "X", "S"}},
        {"Kalvor" + E + "T" + E + "I", true, {"T", "I", "", ""}},
        {"kalvor" + E + "COMMAND" + E + E + "DIE" + E, false, {}},
        {"KalvorX" + E + "COMMAND" + E + E + "DIE" + E, false, {}},
        {"", false, {}},
    };
    for (const auto& c : cases) {
        IPCMessage message;
        ASSERT_EQ(parseMessageLine(c.line, message), c.addressed) << c.line;
        if (!c.addressed)
            continue;
        EXPECT_EQ(message.type, c.message.type);
        EXPECT_EQ(message.id, c.message.id);
        EXPECT_EQ(message.text, c.message.text);
        EXPECT_EQ(message.sender, c.message.sender);
    }
}

} // namespace
} // namespace Kalvor
