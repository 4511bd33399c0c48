#include "Logger/LogRecord.h"

#include "Common/Exception.h"
#include "Common/StringUtils.h"
#include "Logger/LogParams.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace Kalvor {
namespace {

const char F = LogRecord::kFieldSeparator;
const std::string kStamp = "2007-10-24T09:23:29Z";

LogRecord catalogRecord(int32_t severity, int32_t module, int32_t message, std::string text) {
    LogRecord record;
    record.kind = LogKind::Catalog;
    record.sourceNumber = 1;
    record.moduleNumber = module;
    record.time = DateTime(2007, 10, 24, 9, 23, 29);
    record.severity = severity;
    record.messageNumber = message;
    record.text = std::move(text);
    return record;
}

LogRecord debugRecord(int32_t level, int32_t module, std::string text) {
    LogRecord record;
    record.kind = LogKind::Debug;
    record.sourceNumber = 1;
    record.moduleNumber = module;
    record.time = DateTime(2007, 10, 24, 9, 23, 29);
    record.debugLevel = level;
    record.text = std::move(text);
    return record;
}

TEST(LogLineTest, KindColumnIsPaddedToEightThenOneBlank) {
    const struct {
        LogRecord record;
        const char* column;
    } cases[] = {
        {catalogRecord(4, 2, 1, "x"), "FATAL    "}, {catalogRecord(0, 2, 1, "x"), "NOTICE   "},
        {catalogRecord(3, 2, 1, "x"), "CRITICAL "}, {catalogRecord(9, 2, 1, "x"), "         "},
        {debugRecord(5, 2, "x"), "debug-5  "},      {debugRecord(12, 2, "x"), "debug-12 "},
        {debugRecord(-123, 2, "x"), "debug--123 "},
    };
    for (const auto& c : cases) {
        const std::string line = c.record.line(true, kTimeZulu);
        EXPECT_EQ(line.substr(0, std::string(c.column).size() + kStamp.size()), c.column + kStamp)
            << line;
    }
}

TEST(LogLineTest, IdHasTwoDigitModuleAndMessageNumbers) {
    const struct {
        LogRecord record;
        const char* tail;
    } cases[] = {
        {catalogRecord(0, 7, 5, "text"), " (1.07.05) text"},
        {catalogRecord(0, 23, 12, "text"), " (1.23.12) text"},
        {catalogRecord(0, 0, 100, "text"), " (1.00.100) text"},
        {catalogRecord(0, -1, 0, "text"), " (1.-1.00) text"},
        {debugRecord(1, 2, "text"), " (1.02)    text"},
        {debugRecord(1, 38, ""), " (1.38)    "},
    };
    for (const auto& c : cases) {
        const std::string line = c.record.line(true, kTimeZulu);
        EXPECT_EQ(line.substr(9), kStamp + c.tail) << line;
    }
}

TEST(LogLineTest, MissingMessageShowsRawParameters) {
    const LogRecord withParams = catalogRecord(2, 23, 7, LogParams().add("abc").add(12).text());
    EXPECT_EQ(withParams.line(false, kTimeZulu),
              "ERROR    " + kStamp + " (1.23.07) (Message not found.) Parameters: abc  12  ");
    const LogRecord bare = catalogRecord(2, 23, 1, "");
    EXPECT_EQ(bare.line(false, kTimeZulu),
              "ERROR    " + kStamp + " (1.23.01) (Message not found.)");
}

TEST(LogLineTest, TimeThatIsNoInstantIsMarkedInvalid) {
    LogRecord record = debugRecord(3, 2, "text");
    record.time.reset();
    EXPECT_EQ(record.line(true, kTimeZulu), "debug-3  INVALID TIME STAMP  (1.02)    text");
}

TEST(LogLineTest, LocalModeShowsTheZoneOffset) {
    DateTime::resetZoneState();
    DateTime::setDefaultZoneOffset(120);
    const std::string line = debugRecord(1, 2, "x").line(true, kTimeLocal);
    DateTime::resetZoneState();
    EXPECT_NE(line.find("2007-10-24T11:23:29+02:00 (1.02)"), std::string::npos) << line;
}

TEST(WireTextTest, CatalogAndDebugEntriesSurviveTheRoundTrip) {
    const LogRecord sent[] = {catalogRecord(4, 23, 9, LogParams().add("MEMORY").text()),
                              debugRecord(5, 2, "Main loop: Running as normal."),
                              debugRecord(1, 2, ""), catalogRecord(0, 23, 1, "")};
    for (const LogRecord& original : sent) {
        LogRecord parsed;
        ASSERT_TRUE(LogRecord::parse(original.wireText(), parsed)) << original.wireText();
        EXPECT_EQ(parsed.kind, original.kind);
        EXPECT_EQ(parsed.sourceNumber, original.sourceNumber);
        EXPECT_EQ(parsed.moduleNumber, original.moduleNumber);
        ASSERT_TRUE(parsed.time);
        EXPECT_EQ(parsed.time->seconds(), original.time->seconds());
        EXPECT_EQ(parsed.severity, original.severity);
        EXPECT_EQ(parsed.debugLevel, original.debugLevel);
        EXPECT_EQ(parsed.text, original.text);
        EXPECT_EQ(parsed.messageNumber, original.messageNumber);
    }
}

TEST(WireTextTest, LayoutIsFieldsEachFollowedBySeparator) {
    LogRecord record = catalogRecord(1, 23, 7, "sapp" + std::string(1, LogParams::kSeparator));
    record.time->setSeconds(1193217809);
    EXPECT_EQ(record.wireText(), std::string("Kalvor") + F + "LOG" + F + "1" + F + "23" + F +
                                     "1193217809" + F + "1" + F + "sapp\x1A" + F + "7" + F);
    LogRecord debug = debugRecord(5, 2, "hi");
    debug.time->setSeconds(0);
    EXPECT_EQ(debug.wireText(), std::string("Kalvor") + F + "DEBUG" + F + "1" + F + "2" + F + "0" +
                                    F + "5" + F + "hi" + F);
}

TEST(WireTextTest, ParseRejectsOtherAddresseesAndKinds) {
    const std::string good = debugRecord(1, 2, "x").wireText();
    LogRecord parsed;
    EXPECT_TRUE(LogRecord::parse(good, parsed));
    for (const std::string& bad :
         {"kalvor" + good.substr(6), "KALVOR" + good.substr(6), "Kalvorx" + good.substr(6),
          std::string("Kalvor") + F + "debug" + F + "1" + F, std::string("Kalvor") + F + "LOGS" + F,
          std::string(""), std::string("Kalvor")})
        EXPECT_FALSE(LogRecord::parse(bad, parsed)) << bad;
}

TEST(WireTextTest, LenientNumbersAndStraySeparatorsInText) {
    LogRecord parsed;
    const std::string wire = std::string("Kalvor") + F + "LOG" + F + "x" + F + "07" + F + "-5" + F +
                             "2" + F + "a" + F + "b" + F + "12" + F;
    ASSERT_TRUE(LogRecord::parse(wire, parsed));
    EXPECT_EQ(parsed.sourceNumber, 0);
    EXPECT_EQ(parsed.moduleNumber, 7);
    EXPECT_FALSE(parsed.time); // no instant before 1970
    EXPECT_EQ(parsed.text, std::string("a") + F + "b");
    EXPECT_EQ(parsed.messageNumber, 12);
}

TEST(WireTextTest, QuickDebugTestLooksAtBytesSevenToEleven) {
    EXPECT_TRUE(LogRecord::isDebugWireText(debugRecord(1, 2, "").wireText()));
    EXPECT_FALSE(LogRecord::isDebugWireText(catalogRecord(1, 2, 3, "").wireText()));
    EXPECT_TRUE(LogRecord::isDebugWireText(std::string("Kalvor") + F + "DEBUG" + F));
    EXPECT_FALSE(LogRecord::isDebugWireText(std::string("Kalvor") + F + "DEBU")); // 11 bytes
    EXPECT_TRUE(LogRecord::isDebugWireText("xxxxxxxDEBUGx")); // no parse: only the bytes count
    EXPECT_FALSE(LogRecord::isDebugWireText(""));
}

// What a log file gets from an entry: its wire text read back, a found catalog message filled
// from the parameters, the line.
std::string writtenLine(const LogRecord& record, const char* message = nullptr) {
    LogRecord read;
    EXPECT_TRUE(LogRecord::parse(record.wireText(), read));
    if (message != nullptr)
        read.text = substitutePlaceholders(message, read.text);
    return read.line(message != nullptr, kTimeZulu);
}

bool isLineBreaking(char byte) {
    return byte != '\t' && static_cast<unsigned char>(byte) < 32;
}

// The physical lines of a written line (the file ends it with CRLF); each may hold TAB as its
// only control byte, and each after the first must be a report's "  >  " continuation.
void expectOneEntry(const std::string& line) {
    std::vector<std::string> parts;
    std::size_t from = 0;
    for (auto at = line.find("\r\n"); at != std::string::npos; at = line.find("\r\n", from)) {
        parts.push_back(line.substr(from, at - from));
        from = at + 2;
    }
    parts.push_back(line.substr(from));
    for (std::size_t index = 0; index < parts.size(); ++index) {
        const std::string& part = parts[index];
        EXPECT_EQ(std::count_if(part.begin(), part.end(), isLineBreaking), 0) << line;
        EXPECT_TRUE(index == 0 || part.rfind("  >  ", 0) == 0) << line;
    }
}

const char kHostileBytes[] = "x\r\nFATAL    forged\x1c\x1b\x1a\0\x01tail\t";
const std::string kHostile(kHostileBytes, sizeof kHostileBytes - 1);
const std::string kHostileShown = "x\\r\\nFATAL    forged\\x1c\\x1b\\x1a\\x00\\x01tail\t";

// Wherever a received text enters an entry, it neither starts a line nor shifts a wire field.
TEST(HostileTextTest, CannotStartALineOrShiftAWireField) {
    const LogParams params = LogParams().add(kHostile).add(5);
    const struct {
        const char* where;
        LogRecord record;
        const char* message; // a found catalog message, else none
        std::size_t fields;
    } cases[] = {
        {"debug text", debugRecord(3, 38, "Got " + kHostile), nullptr, 7},
        {"debug parameter",
         debugRecord(3, 38, substitutePlaceholders("Got %s", LogParams().add(kHostile).text())),
         nullptr, 7},
        {"catalog parameter", catalogRecord(4, 23, 7, params.text()), "Got %s %i", 8},
        {"missing message", catalogRecord(4, 23, 7, params.text()), nullptr, 8},
    };
    for (const auto& c : cases) {
        std::vector<std::string> fields;
        split(c.record.wireText(), F, fields);
        EXPECT_EQ(fields.size(), c.fields) << c.where;
        const std::string line = writtenLine(c.record, c.message);
        expectOneEntry(line);
        EXPECT_NE(line.find(kHostileShown), std::string::npos) << c.where << ": " << line;
    }
}

// Reports keep their "  >  " lines; a line break inside their detail is escaped, and a text
// that copies the continuation only ever adds a line that starts with it.
TEST(HostileTextTest, ReportsKeepTheirContinuationLines) {
    const FileException failure(FL_CANNOT_OPEN, "C:\\x.log\r\nFATAL    forged", KALVOR_HERE);
    const std::string report = writtenLine(debugRecord(1, 2, failure.report()));
    expectOneEntry(report);
    EXPECT_NE(report.find("\r\n  >  (C:\\x.log\\r\\nFATAL    forged)\r\n  >  LogRecordTest."),
              std::string::npos)
        << report;
    for (const char* text :
         {"a\r\n  >  FATAL", "\r\n  >  \r\n", "a\r\r\n  >  \n  >  b", "a\r\n  >"})
        expectOneEntry(writtenLine(debugRecord(1, 2, text)));
    EXPECT_EQ(writtenLine(debugRecord(1, 2, "a\r\n  >")).substr(30), "(1.02)    a\\r\\n  >");
}

} // namespace
} // namespace Kalvor
