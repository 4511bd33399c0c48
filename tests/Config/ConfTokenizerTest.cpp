#include "Config/ConfTokenizer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace Kalvor {
namespace {

// Spans as "T:text" for tokens and "-:text" for blank runs.
std::vector<std::string> spans(const std::string& text) {
    ConfTokenizer tokenizer(text);
    std::vector<std::string> result;
    ConfTokenizer::Span span;
    std::size_t expectedBegin = 0;
    while (tokenizer.next(span)) {
        EXPECT_EQ(span.begin, expectedBegin) << "spans must cover the text without gaps";
        EXPECT_GT(span.end, span.begin);
        expectedBegin = span.end;
        result.push_back((span.isToken ? "T:" : "-:") +
                         text.substr(span.begin, span.end - span.begin));
    }
    EXPECT_EQ(expectedBegin, text.size());
    return result;
}

struct TokenCase {
    const char* name;
    std::string text;
    std::vector<std::string> expected;
};

// Test names say enough; the bytes of a case are shown by the failure itself.
void PrintTo(const TokenCase& c, std::ostream* out) {
    *out << c.name;
}

class ConfTokenizerCases : public testing::TestWithParam<TokenCase> {};

TEST_P(ConfTokenizerCases, SplitsTextIntoSpans) {
    EXPECT_EQ(spans(GetParam().text), GetParam().expected);
}

const TokenCase kTokenCases[] = {
    {"BlankRunsHoldOneByte", "a  \t\tb", {"T:a", "-:  ", "-:\t\t", "T:b"}},
    {"DelimitersStandAlone", "x=(y){}", {"T:x", "T:=", "T:(", "T:y", "T:)", "T:{", "T:}"}},
    {"NewlineIsADelimiterToken", "a\n\nb", {"T:a", "T:\n", "T:\n", "T:b"}},
    {"QuotedTextKeepsBlanksAndDelimiters", "'a = {b}' c", {"T:'a = {b}'", "-: ", "T:c"}},
    {"BackslashHidesAQuote", "'it\\'s' x", {"T:'it\\'s'", "-: ", "T:x"}},
    {"OtherQuoteDoesNotClose", "\"x'y\"z", {"T:\"x'y\"", "T:z"}},
    {"QuoteInsideAWordStartsAToken", "ab'cd'", {"T:ab", "T:'cd'"}},
    {"UnclosedQuoteRunsToTheEnd", "'open\n}", {"T:'open\n}"}},
    {"BackslashAtTheEndOfAnOpenQuote", "'a\\", {"T:'a\\"}},
    {"HashCommentRunsToTheLineEnd", "# a = b\nc", {"T:# a = b", "T:\n", "T:c"}},
    {"HashInsideAWordIsPartOfIt", "a#b", {"T:a#b"}},
    {"SlashCommentLeavesTheCarriageReturn", "// c\r\nx", {"T:// c", "-:\r", "T:\n", "T:x"}},
    {"SlashCommentWithoutLineEnd", "x//y", {"T:x", "T://y"}},
    {"BlockCommentSpansLines", "/* a\n b */c", {"T:/* a\n b */", "T:c"}},
    {"BlockCommentNeedsItsOwnClose", "/*/ x */", {"T:/*/ x */"}},
    {"UnclosedBlockComment", "/* x", {"T:/* x"}},
    {"LoneSlashesAreWordBytes", "a/b x/", {"T:a/b", "-: ", "T:x/"}},
    {"HighBytesAreCharacters",
     "k\xC3\xA9y \xE2\x82\xAC",
     {"T:k\xC3\xA9y", "-: ", "T:\xE2\x82\xAC"}},
    {"ControlBytesAreBlanks",
     std::string("\x01\x01"
                 "a\x00"
                 "b",
                 5),
     {"-:\x01\x01", "T:a", std::string("-:\x00", 3), "T:b"}},
    {"EmptyText", "", {}},
};

INSTANTIATE_TEST_SUITE_P(Table, ConfTokenizerCases, testing::ValuesIn(kTokenCases),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace Kalvor
