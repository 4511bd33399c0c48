#include "Logger/LogParams.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace Kalvor {
namespace {

const std::string S(1, LogParams::kSeparator);

TEST(LogParamsTest, EncodesTypeLetterValueAndSeparator) {
    LogParams params;
    params.add("abc").add(std::string("d e")).add(12).add(-7).add(uint64_t{18446744073709551615u});
    params << int8_t{-3} << static_cast<const char*>(nullptr);
    EXPECT_EQ(params.text(), "sabc" + S + "sd e" + S + "n12" + S + "n-7" + S +
                                 "n18446744073709551615" + S + "n-3" + S + "s" + S);
    EXPECT_TRUE(LogParams().empty());
    EXPECT_EQ(LogParams().text(), "");
}

TEST(LogParamsTest, TextEndingInTheSeparatorGetsNoSecondOne) {
    EXPECT_EQ(LogParams().add("ab" + S).text(), "sab" + S);
    EXPECT_EQ(LogParams().add("ab" + S).add(1).text(), "sab" + S + "n1" + S);
}

// A text from outside cannot end its parameter early, add one, or end the wire text.
TEST(LogParamsTest, StructureBytesInATextAreEscaped) {
    const struct {
        std::string text;
        std::string encoded;
    } cases[] = {
        {"a\x1an9", "sa\\x1an9" + S},
        {"a\x1bq\x1cr", "sa\\x1bq\\x1cr" + S},
        {std::string("a\0b", 3), "sa\\x00b" + S},
        {"ab\x1a\x1a", "sab\\x1a" + S},
        {"line\r\nbreak\t\\", "sline\r\nbreak\t\\" + S}, // left to the log line
    };
    for (const auto& c : cases)
        EXPECT_EQ(LogParams().add(c.text).text(), c.encoded) << c.encoded;
    const std::string list = LogParams().add("x\x1an9").add(5).text();
    EXPECT_EQ(substitutePlaceholders("%s|%i", list), "x\\x1an9|5");
    EXPECT_EQ(renderRawParameters(LogParams().add("x\x1by").text()), "x\\x1by  ");
}

TEST(SubstitutionTest, FillsPlaceholdersByType) {
    const std::string text = LogParams().add("abc").text();
    const std::string number = LogParams().add(42).text();
    const std::string both = LogParams().add("abc").add(42).text();
    const struct {
        const char* format;
        std::string params;
        const char* expected;
    } cases[] = {
        {"plain", "", "plain"},
        {"100%% sure", "", "100% sure"},
        {"%%s", text, "%s"},
        {"a %s b", text, "a abc b"},
        {"%s and %s", text, "abc and <?}"},
        {"n=%i", number, "n=42"},
        {"f=%f", number, "f=42"},
        {"%s %i", both, "abc 42"},
        {"%i", text, "\\abc\\"}, // type mismatch: value between backslashes
        {"%s", number, "\\42\\"},
        {"%d", number, "\\42\\"}, // %d never matches a parameter
        {"%x", text, "\\abc\\"},  // unknown letter uses up a parameter all the same
        {"%x then %s", both, "\\abc\\ then \\42\\"},
        {"ends in %", text, "ends in <?}"},
        {"%", "", "<?}"},
        {"%s", "", "<?}"},
        {"%s%s%s", both + text, "abc\\42\\abc"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(substitutePlaceholders(c.format, c.params), c.expected) << c.format;
}

TEST(SubstitutionTest, EmptyTextParameterStaysEmpty) {
    EXPECT_EQ(substitutePlaceholders("[%s][%s]", LogParams().add("").add("x").text()), "[][x]");
}

TEST(RawRenderingTest, DropsTypeLettersAndShowsSeparatorsAsTwoBlanks) {
    EXPECT_EQ(renderRawParameters(LogParams().add("abc").add(12).text()), "abc  12  ");
    EXPECT_EQ(renderRawParameters(std::string("sab") + LogParams::kAltSeparator + "ncd"), "ab  cd");
    EXPECT_EQ(renderRawParameters(""), "");
    EXPECT_EQ(renderRawParameters("s"), "");
}

} // namespace
} // namespace Kalvor
