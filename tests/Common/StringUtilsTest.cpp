#include "Common/StringUtils.h"

#include <gtest/gtest.h>

namespace Kalvor {
namespace {

using Parts = std::vector<std::string>;

TEST(StringTrim, RemovesBlankBytesAndCountsThem) {
    std::string text = " \t\r\n value \x01\x1f ";
    EXPECT_EQ(trim(text), 9u);
    EXPECT_EQ(text, "value");

    std::string left = "  a b ";
    EXPECT_EQ(trimLeft(left), 2u);
    EXPECT_EQ(left, "a b ");
    EXPECT_EQ(trimRight(left), 1u);
    EXPECT_EQ(left, "a b");
}

TEST(StringTrim, OnlyBlanksGiveEmptyAndZeroByteIsBlank) {
    std::string blanks(" \t \n");
    blanks.push_back('\0');
    EXPECT_EQ(trim(blanks), 5u);
    EXPECT_EQ(blanks, "");
    std::string empty;
    EXPECT_EQ(trim(empty), 0u);
}

TEST(StringTrim, HighBytesAreCharactersSoUtf8Survives) {
    std::string name = "\xc3\xa9t\xc3\xa9 \xe2\x82\xac";
    std::string padded = " " + name + "\xa0";
    trim(padded);
    EXPECT_EQ(padded, name + "\xa0");
    EXPECT_FALSE(isBlank('\x80'));
    EXPECT_FALSE(isBlank('\xff'));
    EXPECT_TRUE(isBlank(' '));
    EXPECT_FALSE(isBlank('!'));
}

TEST(StringCase, LowerCopyLeavesTheArgumentAlone) {
    const std::string mixed = "Kalvor.Directories.LOG";
    EXPECT_EQ(lowerCopy(mixed), "kalvor.directories.log");
    EXPECT_EQ(mixed, "Kalvor.Directories.LOG");
    std::string inPlace = "ABC-xyz\xc3\x89";
    toLower(inPlace);
    EXPECT_EQ(inPlace, "abc-xyz\xc3\x89");
}

TEST(StringUnquote, MatchingQuotesOnly) {
    struct Case {
        const char* in;
        const char* out;
    } cases[] = {
        {"\"text\"", "text"}, {"'text'", "text"},     {"\"", ""},          {"'", ""},
        {"\"\"", ""},         {"\"text'", "\"text'"}, {"'text\"", "'text\""}, {"text", "text"},
        {"", ""},             {"\"a\"b\"", "a\"b"},   {" \"a\"", " \"a\""},
    };
    for (const Case& c : cases) {
        std::string text = c.in;
        unquote(text);
        EXPECT_EQ(text, c.out) << "input: " << c.in;
    }
}

TEST(StringCountChar, CountsWithinTheRangeCutAtTheEnd) {
    const std::string text = "a\nb\nc\n";
    EXPECT_EQ(countChar('\n', text, 0, 3), 1u); // line breaks before byte 3
    EXPECT_EQ(countChar('\n', text, 0, 4), 2u);
    EXPECT_EQ(countChar('\n', text, 2, 100), 2u);
    EXPECT_EQ(countChar('\n', text, 0, std::string::npos), 3u);
    EXPECT_EQ(countChar('\n', text, 6, 1), 0u);
    EXPECT_EQ(countChar('\n', text, 99, 1), 0u);
    EXPECT_EQ(countChar('\n', text, 1, 0), 0u);
}

TEST(StringReplaceAndPad, ReplaceCountsAndPadOnlyGrows) {
    std::string user = "John Q Public";
    EXPECT_EQ(replaceChar(user, ' ', '_'), 2u);
    EXPECT_EQ(user, "John_Q_Public");
    EXPECT_EQ(replaceChar(user, '#', '_'), 0u);

    std::string field = "ab";
    padRight(field, 5, '.');
    EXPECT_EQ(field, "ab...");
    padRight(field, 3, '.');
    EXPECT_EQ(field, "ab...");
}

TEST(StringCutField, TakesTheTextBeforeTheFirstSeparator) {
    std::string key = "Kalvor.directories.log";
    EXPECT_EQ(cutField(key, '.'), "Kalvor");
    EXPECT_EQ(key, "directories.log");
    EXPECT_EQ(cutField(key, '.'), "directories");
    EXPECT_EQ(cutField(key, '.'), "log");
    EXPECT_EQ(key, "");
    EXPECT_EQ(cutField(key, '.'), "");

    std::string leading = ".x";
    EXPECT_EQ(cutField(leading, '.'), "");
    EXPECT_EQ(leading, "x");
}

TEST(StringSplit, EmptyElementsAndLimits) {
    struct Case {
        const char* text;
        std::size_t max;
        Parts parts;
    } cases[] = {
        {"a,b,,c", 0, {"a", "b", "", "c"}},
        {"a,b,,c", 2, {"a", "b,,c"}},
        {"a,b,,c", 3, {"a", "b", ",c"}},
        {"a,b,,c", 1, {"a,b,,c"}},
        {"a,b,,c", 9, {"a", "b", "", "c"}},
        {"a,b,", 0, {"a", "b"}},
        {",a", 0, {"", "a"}},
        {",", 0, {""}},
        {"", 0, {}},
        {"", 3, {}},
        {"plain", 0, {"plain"}},
    };
    for (const Case& c : cases) {
        Parts parts{"left", "over"};
        split(c.text, ',', parts, c.max);
        EXPECT_EQ(parts, c.parts) << "text: \"" << c.text << "\" max " << c.max;
    }
}

TEST(StringSplit, EscSeparatedMessageLine) {
    Parts parts;
    split("Kalvor\x1b" "COMMAND\x1b" "42\x1b" "RUN_PROG a b\x1b", '\x1b', parts, 4);
    EXPECT_EQ(parts, (Parts{"Kalvor", "COMMAND", "42", "RUN_PROG a b\x1b"}));
}

TEST(StringMatchesAt, BoundsAreChecked) {
    EXPECT_TRUE(matchesAt("hello world", 6, "world"));
    EXPECT_TRUE(matchesAt("hello", 0, ""));
    EXPECT_TRUE(matchesAt("hello", 5, ""));
    EXPECT_FALSE(matchesAt("hello", 6, ""));
    EXPECT_FALSE(matchesAt("hello world", 7, "world"));
    EXPECT_FALSE(matchesAt("hello", 3, "lop"));
    EXPECT_FALSE(matchesAt("", 0, "a"));
}

TEST(StringIntToString, PrintfDecimal) {
    EXPECT_EQ(intToString(0), "0");
    EXPECT_EQ(intToString(-42), "-42");
    EXPECT_EQ(intToString(2147483647), "2147483647");
    EXPECT_EQ(intToString(-2147483647 - 1), "-2147483648");
}

bool isControl(char byte) {
    return static_cast<unsigned char>(byte) < 32;
}

TEST(StringEscapeBytes, OnlyTheChosenBytesAreEscaped) {
    struct Case {
        std::string in;
        const char* out;
    } cases[] = {
        {"a\r\nb", "a\\r\\nb"},
        {"\x01\x1a\x1F", "\\x01\\x1a\\x1f"},
        {std::string("\0", 1), "\\x00"},
        {"C:\\x.log \x7f\xff\xe2\x80\xa6", "C:\\x.log \x7f\xff\xe2\x80\xa6"}, // kept as they are
        {"", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(escapeBytes(c.in, isControl), c.out) << c.out;
    EXPECT_EQ(escapeBytes("a\tb\n", [](char byte) { return byte == '\t'; }), "a\\x09b\n");
}

TEST(StringQuotedExcerpt, LongTextsAreCutAndTheirLengthNamed) {
    const std::string kilobyte(1000, 'k');
    EXPECT_EQ(quotedExcerpt(""), "");
    EXPECT_EQ(quotedExcerpt(kilobyte), kilobyte);
    EXPECT_EQ(quotedExcerpt(kilobyte + "+"), kilobyte + "\xE2\x80\xA6(1001 bytes)");
    EXPECT_EQ(quotedExcerpt(std::string(300000, 'k')), kilobyte + "\xE2\x80\xA6(300000 bytes)");
    EXPECT_EQ(quotedExcerpt("abcdef", 3), "abc\xE2\x80\xA6(6 bytes)");
    EXPECT_EQ(quotedExcerpt("abc", 3), "abc");
}

} // namespace
} // namespace Kalvor
