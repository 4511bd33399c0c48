#include "ConfTestSupport.h"
#include "Config/ConfReader.h"
#include "Config/ConfReferences.h"
#include "Logger/LogCommons.h"
#include "Logger/LogParams.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

namespace Kalvor {
namespace {

using Test::platformPath;

// Values in the file are written as a user writes them: a doubled backslash stores one.
const char* const kFile = R"(
Kalvor() = '' {
    directories() = '' {
        log(DirName) = 'C:\\Kalvor\\log' {}
        conf(DirName) = '${Kalvor.directories.log}conf' {}
    }
}
s(String) = '  Mixed Case  ' {}
b(Bool) = true {}
bf(Bool) = 'false' {}
bcap(Bool) = 'True' {}
bblank(Bool) = ' true' {}
i(Integer) = '   -42' {}
iletters(Integer) = '12abc' {}
inone(Integer) = 'abc' {}
iempty(Integer) = '' {}
iplus(Integer) = '+7' {}
imax(Integer) = '2147483647' {}
imin(Integer) = '-2147483648' {}
ibig(Integer) = '99999999999999999999' {}
ismall(Integer) = '-2147483649' {}
d(DirName) = 'C:/Kalvor//log' {}
dslashed(DirName) = 'C:\\Kalvor\\' {}
dunc(DirName) = '\\\\server\\\\share' {}
dempty(DirName) = '' {}
dpadded(DirName) = '  C:/x' {}
f(FileName) = 'C://dir\\\\file.txt' {}
t(TimeSpan) = 'P1DT12H' {}
tneg(TimeSpan) = 'P-1D' {}
tempty(TimeSpan) = '' {}
tbad(TimeSpan) = 'T1H' {}
untyped() = 'x' {}
emptyquotes(String) = '' {}
refUntyped(String) = 'a${untyped}' {}
refMissing(String) = 'a${nowhere}b' {}
refEmptyKey(String) = '${}' {}
refOpen(String) = '${s}${s' {}
loneClose(String) = 'a}b' {}
refString(String) = '<${s}>' {}
refNested(String) = '${refString}!' {}
refInteger(String) = '${i}' {}
refDirEmpty(String) = '${dempty}x' {}
dollar(String) = '$' {}
joined(String) = '${dollar}{s}' {}
twice(String) = '${s}|${s}' {}
self(String) = '${self}' {}
cycleA(String) = '${cycleB}' {}
cycleB(String) = 'x${cycleA}' {}
)";

class ConfLookupTest : public testing::Test {
protected:
    void SetUp() override { fixture.build(kFile); }

    std::string stringOf(const std::string& key, bool trim = false, bool lower = false) {
        std::string value = "<untouched>";
        EXPECT_EQ(reader.getString(key, value, trim, lower), CONF_FOUND) << key;
        return value;
    }

    Kalvor::Test::ReaderFixture fixture;
    ConfReader& reader = *fixture.reader;
};

TEST_F(ConfLookupTest, TheFileBuildsCleanly) {
    EXPECT_TRUE(fixture.debugTexts(1).empty());
    EXPECT_TRUE(fixture.logged("ConfReader: DOM tree built."));
}

// Every getter, every code it can give, and the output left alone on each non-zero code.
TEST_F(ConfLookupTest, ResultCodesOfEveryGetter) {
    struct Case {
        const char* key;
        int32_t string, boolean, integer, dirName, timeSpan;
    };
    const Case cases[] = {
        {"nowhere", 2, 2, 2, 2, 2},    {"untyped", 1, 1, 1, 1, 1},    {"s", 0, 3, 3, 3, 3},
        {"b", 3, 0, 3, 3, 3},          {"bcap", 3, 4, 3, 3, 3},       {"i", 3, 3, 0, 3, 3},
        {"d", 3, 3, 3, 0, 3},          {"t", 3, 3, 3, 3, 0},          {"tbad", 3, 3, 3, 3, 5},
        {"refUntyped", 1, 3, 3, 3, 3}, {"refMissing", 2, 3, 3, 3, 3}, {"refOpen", 6, 3, 3, 3, 3},
        {"self", 7, 3, 3, 3, 3},       {"Kalvor", 1, 1, 1, 1, 1},
    };
    for (const Case& c : cases) {
        std::string text = "<untouched>";
        bool flag = true;
        int32_t number = 1234;
        std::string dir = "<untouched>";
        DurationRecord span;
        span.days = 99;
        EXPECT_EQ(reader.getString(c.key, text, true, true), c.string) << c.key;
        EXPECT_EQ(reader.getBool(c.key, flag), c.boolean) << c.key;
        EXPECT_EQ(reader.getInteger(c.key, number), c.integer) << c.key;
        EXPECT_EQ(reader.getDirName(c.key, dir), c.dirName) << c.key;
        EXPECT_EQ(reader.getTimeSpan(c.key, span), c.timeSpan) << c.key;
        EXPECT_TRUE(c.string == 0 || text == "<untouched>") << c.key;
        EXPECT_TRUE(c.boolean == 0 || flag) << c.key;
        EXPECT_TRUE(c.integer == 0 || number == 1234) << c.key;
        EXPECT_TRUE(c.dirName == 0 || dir == "<untouched>") << c.key;
        EXPECT_TRUE(c.timeSpan == 0 || span.days == 99) << c.key;
    }
}

TEST_F(ConfLookupTest, StringFlags) {
    EXPECT_EQ(stringOf("s"), "  Mixed Case  ");
    EXPECT_EQ(stringOf("s", true), "Mixed Case");
    EXPECT_EQ(stringOf("s", false, true), "  mixed case  ");
    EXPECT_EQ(stringOf("s", true, true), "mixed case");
    EXPECT_EQ(stringOf("emptyquotes"), "");
}

TEST_F(ConfLookupTest, BoolIsExact) {
    bool value = false;
    EXPECT_EQ(reader.getBool("b", value), CONF_FOUND);
    EXPECT_TRUE(value);
    EXPECT_EQ(reader.getBool("bf", value), CONF_FOUND);
    EXPECT_FALSE(value);
    EXPECT_EQ(reader.getBool("bblank", value), CONF_NOT_BOOL);
}

TEST_F(ConfLookupTest, IntegerReadsLikeAtolButClamps) {
    const std::pair<const char*, int32_t> cases[] = {
        {"i", -42},          {"iletters", 12},    {"inone", 0},
        {"iempty", 0},       {"iplus", 7},        {"imax", INT32_MAX},
        {"imin", INT32_MIN}, {"ibig", INT32_MAX}, {"ismall", INT32_MIN},
    };
    for (const auto& [key, expected] : cases) {
        int32_t value = 1234;
        EXPECT_EQ(reader.getInteger(key, value), CONF_FOUND) << key;
        EXPECT_EQ(value, expected) << key;
    }
}

TEST_F(ConfLookupTest, DirNameSeparatorRules) {
    const std::pair<const char*, std::string> cases[] = {
        {"d", platformPath("C:\\Kalvor\\log\\")},
        {"dslashed", platformPath("C:\\Kalvor\\")},
        // The leading pair of a network path survives; the rest collapses.
        {"dunc", "\\" + platformPath("\\server\\share\\")},
        {"dempty", ""},
        {"dpadded", platformPath("C:\\x\\")},
        {"Kalvor.directories.log", platformPath("C:\\Kalvor\\log\\")},
        // The referenced DirName gains its separator before "conf" is appended.
        {"Kalvor.directories.conf", platformPath("C:\\Kalvor\\log\\conf\\")},
    };
    for (const auto& [key, expected] : cases) {
        std::string value = "<untouched>";
        EXPECT_EQ(reader.getDirName(key, value), CONF_FOUND) << key;
        EXPECT_EQ(value, expected) << key;
    }
}

TEST_F(ConfLookupTest, FileNameIsNormalisedWithoutTrailingSeparator) {
    std::string value;
    EXPECT_EQ(reader.getRaw("f", "FileName", value), CONF_FOUND);
    EXPECT_EQ(value, platformPath("C:\\dir\\file.txt"));
    EXPECT_EQ(reader.getRaw("d", "FileName", value), CONF_WRONG_TYPE);
    // Types without path rules come back as stored.
    EXPECT_EQ(reader.getRaw("d", "DirName", value), CONF_FOUND);
    EXPECT_EQ(reader.getRaw("s", "String", value), CONF_FOUND);
    EXPECT_EQ(value, "  Mixed Case  ");
}

TEST_F(ConfLookupTest, TimeSpanRecords) {
    DurationRecord span;
    EXPECT_EQ(reader.getTimeSpan("t", span), CONF_FOUND);
    EXPECT_EQ(span.days, 1);
    EXPECT_EQ(span.hours, 12);
    EXPECT_FALSE(span.negative);
    EXPECT_EQ(reader.getTimeSpan("tneg", span), CONF_FOUND);
    EXPECT_EQ(span.days, 1);
    EXPECT_TRUE(span.negative);
    span.days = 5;
    EXPECT_EQ(reader.getTimeSpan("tempty", span), CONF_FOUND);
    EXPECT_EQ(span.days, 0);
}

TEST_F(ConfLookupTest, ReferencesAreExpanded) {
    EXPECT_EQ(stringOf("refString"), "<  Mixed Case  >");
    EXPECT_EQ(stringOf("refNested"), "<  Mixed Case  >!");
    // The referenced node's type is not compared with the one asked for.
    EXPECT_EQ(stringOf("refInteger"), "   -42");
    // An empty DirName reference stays empty: with a separator it would name the root.
    EXPECT_EQ(stringOf("refDirEmpty"), "x");
    // The search starts again from the front: "$" and "{s}" make a new reference.
    EXPECT_EQ(stringOf("joined"), "  Mixed Case  ");
    EXPECT_EQ(stringOf("twice"), "  Mixed Case  |  Mixed Case  ");
    EXPECT_EQ(stringOf("loneClose"), "a}b");
    std::string value;
    EXPECT_EQ(reader.getString("refEmptyKey", value), CONF_MISSING);
}

TEST_F(ConfLookupTest, LookupLogLines) {
    std::string value;
    fixture.clearLog();
    reader.getString("refString", value);
    EXPECT_EQ(fixture.debugTexts(5),
              (std::vector<std::string>{"ConfReader: Getting String refString...",
                                        "ConfReader: Got raw value \"<${s}>\".",
                                        "ConfReader: Reference \"s\" = \"  Mixed Case  \".",
                                        "ConfReader: Got final value \"<  Mixed Case  >\"."}));

    const std::pair<const char*, const char*> failures[] = {
        {"nowhere", "ConfReader: Not found."},
        {"untyped", "ConfReader: Found, but has no value."},
        {"refMissing", "ConfReader: Found, but reference inside value was not."},
        {"refUntyped", "ConfReader: Found, but reference inside value didn't have a value."},
    };
    for (const auto& [key, text] : failures) {
        fixture.clearLog();
        reader.getString(key, value);
        EXPECT_EQ(fixture.debugTexts(5).back(), text) << key;
        EXPECT_TRUE(fixture.debugTexts(1).empty()) << key;
    }

    fixture.clearLog();
    bool flag;
    reader.getBool("s", flag);
    EXPECT_EQ(fixture.debugTexts(1),
              std::vector<std::string>{"ConfReader: Found, but type is \"String\", not \"Bool\"."});
}

TEST_F(ConfLookupTest, UnclosedReferenceIsACatalogWarning) {
    std::string value;
    fixture.clearLog();
    EXPECT_EQ(reader.getString("refOpen", value), CONF_UNCLOSED_REFERENCE);
    const auto entries = fixture.catalogEntries();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].moduleNumber, LogCommons::kConfigurationModule);
    EXPECT_EQ(entries[0].messageNumber, 3);
    EXPECT_EQ(entries[0].severity, kWarning);
    EXPECT_EQ(entries[0].text, LogParams().add("refOpen").text());
}

TEST_F(ConfLookupTest, CyclesEndWithTheirOwnCode) {
    std::string value = "<untouched>";
    fixture.clearLog();
    EXPECT_EQ(reader.getString("self", value), CONF_ENDLESS_EXPANSION);
    EXPECT_EQ(fixture.debugTexts(1),
              std::vector<std::string>{"ConfReader: Reference \"self\" in the value of \"self\" "
                                       "makes a cycle."});
    fixture.clearLog();
    EXPECT_EQ(reader.getString("cycleB", value), CONF_ENDLESS_EXPANSION);
    EXPECT_EQ(fixture.debugTexts(1),
              std::vector<std::string>{"ConfReader: Reference \"cycleB\" in the value of "
                                       "\"cycleB\" makes a cycle."});
    EXPECT_EQ(value, "<untouched>");
}

TEST_F(ConfLookupTest, ExpansionThatOnlyGrowsIsStopped) {
    // Each level doubles the references: 2^14 substitutions without a cycle.
    std::string text;
    for (int level = 0; level < 14; ++level) {
        text += "g" + std::to_string(level) + "(String)='${g" + std::to_string(level + 1) + "}${g" +
                std::to_string(level + 1) + "}'{}\n";
    }
    text += "g14(String)='leaf'{}\nsmall(String)='${g8}'{}";
    fixture.build(text);
    std::string value;
    EXPECT_EQ(reader.getString("g0", value), CONF_ENDLESS_EXPANSION);
    EXPECT_EQ(fixture.debugTexts(1).back(),
              "ConfReader: Expansion of \"g0\" stopped at 1000 references or 65536 bytes.");
    EXPECT_EQ(reader.getString("small", value), CONF_FOUND);
    EXPECT_EQ(value.size(), 4u * 64);
}

} // namespace
} // namespace Kalvor
