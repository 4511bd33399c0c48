// Fixed-seed random inputs for the parsers that read user-written text: no crash, no hang, and
// the answers stay within their contracts. The fuzz targets under tests/fuzz search the same
// ground without bounds.
#include "Common/Exception.h"
#include "ConfTestSupport.h"
#include "Config/ConfNode.h"
#include "Config/ConfParser.h"
#include "Config/ConfReader.h"
#include "Config/ConfTokenizer.h"
#include "Time/DateTime.h"
#include "Time/TimeSpan.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace Kalvor {
namespace {

// Pieces that make the grammar's interesting cases likely; a raw byte now and then.
const char* const kConfPieces[] = {
    "a",
    "b",
    "Kalvor",
    "log",
    "(",
    ")",
    "=",
    "{",
    "}",
    "\n",
    "\r\n",
    " ",
    "\t",
    "'",
    "\"",
    "\\",
    "${",
    "${a}",
    "${a.b}",
    "${b}",
    "}",
    ".",
    "String",
    "DirName",
    "Integer",
    "Bool",
    "TimeSpan",
    "FileName",
    "true",
    "-12",
    "99999999999",
    "C:/x//y",
    "\\\\srv",
    "P1DT2H",
    "#",
    "//",
    "/*",
    "*/",
    "a()=''{",
    "b(String)='${a}'{}",
    "a(DirName)='${b}x'{}",
    "\xC3\xA9",
};

std::string randomConf(std::mt19937& random) {
    std::uniform_int_distribution<int> count(0, 60);
    std::uniform_int_distribution<std::size_t> piece(0, std::size(kConfPieces));
    std::uniform_int_distribution<int> byte(0, 255);
    std::string text;
    for (int n = count(random); n > 0; --n) {
        const std::size_t choice = piece(random);
        if (choice == std::size(kConfPieces))
            text.push_back(static_cast<char>(byte(random)));
        else
            text += kConfPieces[choice];
    }
    return text;
}

// Dotted keys of every node, for the lookups.
void collectKeys(const ConfNode& node, const std::string& prefix, std::vector<std::string>& keys) {
    for (std::size_t i = 0; i < node.childCount() && keys.size() < 100; ++i) {
        const std::string key = prefix + node.child(i).name();
        keys.push_back(key);
        collectKeys(node.child(i), key + ".", keys);
    }
}

TEST(RandomInput, ConfigurationTextsStayWithinTheContract) {
    std::mt19937 random(20261208);
    Kalvor::Test::TempDir folder;
    ConfReader reader(nullptr);
    for (int round = 0; round < 1500; ++round) {
        const std::string text = randomConf(random);

        ConfTokenizer tokenizer(text);
        ConfTokenizer::Span span;
        std::size_t covered = 0;
        while (tokenizer.next(span)) {
            ASSERT_EQ(span.begin, covered) << text;
            ASSERT_GT(span.end, span.begin) << text;
            covered = span.end;
        }
        ASSERT_EQ(covered, text.size()) << text;

        ConfNode root("Root");
        ConfParser parser(text);
        try {
            parser.parse(root);
        } catch (const ConfigException& error) {
            ASSERT_EQ(error.code(), CF_CONF) << text;
            ASSERT_GE(parser.line(), 1) << text;
        }

        // A new file each round: rewriting one in place is slow on some file systems.
        const std::string path = folder.file("random" + std::to_string(round) + ".conf");
        Kalvor::Test::writeTextFile(path, text);
        reader.buildDOM(path);
        std::vector<std::string> keys;
        collectKeys(root, "", keys);
        for (const std::string& key : keys) {
            std::string value = "<untouched>";
            const int32_t code = reader.getString(key, value, true, true);
            ASSERT_TRUE(code >= CONF_FOUND && code <= CONF_ENDLESS_EXPANSION) << text;
            ASSERT_TRUE(code == CONF_FOUND || value == "<untouched>") << text;
            std::string dir;
            const bool gotDir = reader.getDirName(key, dir) == CONF_FOUND && !dir.empty();
            ASSERT_TRUE(!gotDir || dir.back() == '\\' || dir.back() == '/') << text;
            int32_t number = 0;
            bool flag = false;
            DurationRecord duration;
            reader.getInteger(key, number);
            reader.getBool(key, flag);
            reader.getTimeSpan(key, duration);
            std::string file;
            reader.getRaw(key, "FileName", file);
        }
    }
}

const char* const kTimePieces[] = {"P",    "-",   "T",   "D",    "H",    "M",  "S",  "Z",
                                   ":",    "+",   "1",   "2",    "12",   "59", "60", "99999999999",
                                   "2007", "-10", "-24", "1970", "2038", " ",  "W",  "."};

std::string randomTimeText(std::mt19937& random) {
    std::uniform_int_distribution<int> count(0, 12);
    std::uniform_int_distribution<std::size_t> piece(0, std::size(kTimePieces) - 1);
    std::string text;
    for (int n = count(random); n > 0; --n)
        text += kTimePieces[piece(random)];
    return text;
}

TEST(RandomInput, TimeTextsParseOrThrowTimeExceptions) {
    std::mt19937 random(8601);
    const IsoMode modes[] = {IsoMode::DateAndTime, IsoMode::TimeOnly, IsoMode::DateOnly};
    for (int round = 0; round < 20000; ++round) {
        const std::string text = randomTimeText(random);
        try {
            const DurationRecord record = TimeSpan::parse(text);
            TimeSpan span(record);
            (void)span.totalSeconds();
        } catch (const TimeException& error) {
            ASSERT_EQ(error.code(), TM_INPUT) << text;
        }
        try {
            const DateTime time(text, modes[round % 3]);
            ASSERT_GE(time.seconds(), 0) << text;
            (void)time.text(TextForm::Basic, TextZone::LocalWithZone);
        } catch (const TimeException&) {
        }
    }
    DateTime::resetZoneState();
}

} // namespace
} // namespace Kalvor
