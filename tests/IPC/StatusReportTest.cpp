// The packed status: whatever a name or id holds comes back unchanged, and a text that is not
// exactly a packed status is refused without reading past its end.
#include "IPC/StatusReport.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

namespace Kalvor {
namespace {

// Every byte a name may hold: all but the zero byte and ESC.
std::string everyAllowedByte() {
    std::string bytes;
    for (int code = 1; code < 256; ++code)
        if (code != 27)
            bytes += static_cast<char>(code);
    return bytes;
}

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

const StatusRecord kSteady = record("Demo One", "D1", "running", 4711, 2, "2024-05-01T10:00:00Z",
                                    true);
// The same record in the layout of earlier supervisors, which is still read.
const std::string kEarlierSteady = "1:18:Demo One2:D17:running4:47111:220:2024-05-01T10:00:00Z1:1";

TEST(StatusReport, PacksTheCountAndEachFieldAsLengthColonBytes) {
    EXPECT_EQ(packStatus({kSteady}),
              "2:v21:18:Demo One2:D17:running4:47111:220:2024-05-01T10:00:00Z1:10:0:0:");
    EXPECT_EQ(packStatus({}), "2:v21:0");
    std::vector<StatusRecord> records;
    ASSERT_TRUE(unpackStatus(kEarlierSteady, records));
    EXPECT_EQ(records, std::vector<StatusRecord>{kSteady});
}

TEST(StatusReport, HowTheLastProcessEndedAndWhyComeBack) {
    StatusRecord killed = kSteady;
    killed.state = "stopped";
    killed.exitCode = -1;
    killed.exitSignal = 9;
    killed.reason = "signal 9 (SIGKILL)";
    StatusRecord exited = kSteady;
    exited.exitCode = 3;
    std::vector<StatusRecord> records;
    ASSERT_TRUE(unpackStatus(packStatus({killed, exited}), records));
    EXPECT_EQ(records, (std::vector<StatusRecord>{killed, exited}));
    EXPECT_FALSE(records[1].exitSignal);
}

TEST(StatusReport, AnyNameAndIdComeBackUnchanged) {
    const std::vector<std::vector<StatusRecord>> cases = {
        {},
        {kSteady},
        {record("", "", "", 0, 0, "", false)},
        {record("3:abc", "1:", "stopped", 1, 1, "", true),
         record("12:34", "0:", "given up", 0, 4, "", false)},
        {record("7:not started1:1", ":::", "not started", 0, 0, "", false)},
        {record("  blanks  ", "0", "running", std::numeric_limits<uint32_t>::max(),
                std::numeric_limits<int32_t>::max(), "x", true)},
        {record(everyAllowedByte(), everyAllowedByte(), "running", 1, -1, everyAllowedByte(),
                true)},
        {kSteady, kSteady, record("10", "9", "stopped", 9, 9, "9", false)},
    };
    for (const auto& records : cases) {
        const std::string packed = packStatus(records);
        std::vector<StatusRecord> unpacked{kSteady, kSteady, kSteady};
        ASSERT_TRUE(unpackStatus(packed, unpacked)) << packed;
        EXPECT_EQ(unpacked, records) << packed;
        EXPECT_EQ(packed.find('\0'), std::string::npos);
        EXPECT_EQ(packed.find('\x1b'), std::string::npos);
    }
}

TEST(StatusReport, MalformedTextsAreRefusedAndLeaveTheRecords) {
    // Built on the earlier layout, whose rules the current one keeps.
    const std::string whole = kEarlierSteady;
    const std::string oneRecord = whole.substr(3);
    const std::string tail = "2:D17:running4:47111:220:2024-05-01T10:00:00Z1:1";
    const std::string beforePid = "1:18:Demo One2:D17:running";
    const std::string afterPid = "1:220:2024-05-01T10:00:00Z1:1";
    const std::string lastStart = "20:2024-05-01T10:00:00Z1:1";
    const std::vector<std::string> bad = {
        "", // not even a count
        "x",
        "1",
        "1:",
        ":",
        "-1:",
        "1:x",
        "1:1",          // one record counted, none there
        "1:2" + oneRecord, // two counted, one there
        "1:0" + oneRecord,
        "2:01" + oneRecord,                           // a count with a leading zero
        "1:108:Demo One" + tail,                   // a length with a leading zero
        "1:19:Demo One" + tail,                    // a length one too long
        "1:199999999999999999999999999:" + tail,   // a length beyond any size
        whole + "1:x",                             // a record cut short
        whole.substr(0, whole.size() - 1) + "2",   // active neither 0 nor 1
        beforePid + "3:abc" + afterPid,            // not a number
        beforePid + "2:-1" + afterPid,             // no process has a sign
        beforePid + "10:4294967296" + afterPid,    // beyond 32 bits
        beforePid + "3:007" + afterPid,            // leading zeros
        beforePid + "0:" + afterPid,               // empty number
        beforePid + "4:4711" + "2:+2" + lastStart, // a plus sign
        beforePid + "4:4711" + "10:2147483648" + lastStart,
    };
    for (const std::string& text : bad) {
        std::vector<StatusRecord> records{kSteady};
        EXPECT_FALSE(unpackStatus(text, records)) << text;
        EXPECT_EQ(records, std::vector<StatusRecord>{kSteady}) << text;
    }
}

TEST(StatusReport, EveryCutOfAPackedTextIsRefused) {
    const std::string whole =
        packStatus({kSteady, record("a:b", "", "stopped", 0, 3, "", false)});
    std::vector<StatusRecord> records;
    for (std::size_t length = 1; length < whole.size(); ++length)
        EXPECT_FALSE(unpackStatus(whole.substr(0, length), records)) << length;
    EXPECT_TRUE(unpackStatus(whole, records));
    EXPECT_EQ(records.size(), 2u);
}

} // namespace
} // namespace Kalvor
