// The command-line splitter, as the entry points feed it: the placeholder glued to the line.
#include "Win32_App/KalvorWardex/ArgumentList.h"
#include "Win32_App/KalvorWardex/Usage.h"

#include <gtest/gtest.h>

#include <ostream>
#include <vector>

namespace Kalvor {
namespace {

struct SplitCase {
    const char* text;
    const char* markers;
    std::vector<Argument> expected;
};

void PrintTo(const SplitCase& test, std::ostream* out) {
    *out << '"' << test.text << "\" with markers \"" << test.markers << '"';
}

class SplitArguments : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitArguments, GivesPlaceholderThenEntries) {
    const SplitCase& test = GetParam();
    EXPECT_EQ(splitArguments(test.text, "dummy", test.markers), test.expected) << test.text;
}

INSTANTIATE_TEST_SUITE_P(
    Table, SplitArguments,
    ::testing::Values(
        SplitCase{"", "-", {}}, SplitCase{"dummy", "-", {{"", "dummy"}}},
        SplitCase{"dummy-c FILE", "-", {{"", "dummy"}, {"c", "FILE"}}},
        SplitCase{"dummy -c FILE", "-", {{"", "dummy"}, {"c", "FILE"}}},
        SplitCase{"dummy/c C:\\conf\\w.conf", "-/", {{"", "dummy"}, {"c", "C:\\conf\\w.conf"}}},
        // On posix "/" begins a path, not an option.
        SplitCase{"dummy-c /etc/kalvor/wardex.conf",
                  "-",
                  {{"", "dummy"}, {"c", "/etc/kalvor/wardex.conf"}}},
        SplitCase{"dummy-c \"my dir/a-b.conf\"", "-", {{"", "dummy"}, {"c", "my dir/a-b.conf"}}},
        SplitCase{"dummy-c \"-odd name\"", "-", {{"", "dummy"}, {"c", "-odd name"}}},
        SplitCase{"dummy--help", "-", {{"", "dummy"}, {"help", ""}}},
        SplitCase{"dummy-x -c FILE", "-", {{"", "dummy"}, {"x", ""}, {"c", "FILE"}}},
        // A hyphen inside a word is part of it.
        SplitCase{"dummy-c my-file.conf extra",
                  "-",
                  {{"", "dummy"}, {"c", "my-file.conf"}, {"", "extra"}}},
        SplitCase{"dummy   -c   FILE  ", "-", {{"", "dummy"}, {"c", "FILE"}}}));

TEST(JoinArguments, QuotesArgumentsWithBlanksSoTheSplitterKeepsThem) {
    const std::string line = joinArguments({"-c", "/tmp/my dir/w.conf"});
    EXPECT_EQ(line, "-c \"/tmp/my dir/w.conf\"");
    const std::vector<Argument> expected{{"", "dummy"}, {"c", "/tmp/my dir/w.conf"}};
    EXPECT_EQ(splitArguments("dummy" + line, "dummy", "-"), expected);
    EXPECT_EQ(joinArguments({}), "");
}

} // namespace
} // namespace Kalvor

namespace Kalvor {
namespace {

TEST(AsksForHelp, FindsTheHelpOptionsButNotValues) {
    EXPECT_TRUE(asksForHelp("--help", "-"));
    EXPECT_TRUE(asksForHelp("-c x.conf -h", "-"));
    EXPECT_TRUE(asksForHelp("/?", "-/"));
    EXPECT_FALSE(asksForHelp("/?", "-"));
    EXPECT_FALSE(asksForHelp("-c \"--help\"", "-"));
    EXPECT_FALSE(asksForHelp("", "-"));
}

} // namespace
} // namespace Kalvor
