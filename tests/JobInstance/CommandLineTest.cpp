#include "JobInstance/CommandLine.h"

#include "JobInstance/ProcessInstance.h"

#include <gtest/gtest.h>

namespace Kalvor {
namespace {

TEST(BuildCommandLine, QuotesOnlyAPathWithABlankAndKeepsTheArgumentsAsTheyAre) {
    struct Case {
        const char* path;
        const char* arguments;
        const char* line;
    };
    const Case cases[] = {
        {"C:\\Program Files\\Kalvor\\app.exe", "-c \"x y\"",
         "\"C:\\Program Files\\Kalvor\\app.exe\" -c \"x y\""},
        {"C:\\Kalvor\\app.exe", "", "C:\\Kalvor\\app.exe "},
        {"/opt/kalvor/app", "a  b ", "/opt/kalvor/app a  b "},
        {"", "", " "},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(buildCommandLine(c.path, c.arguments), c.line) << c.path;
        EXPECT_EQ(ProcessInstance(c.path, c.arguments).commandLine(), c.line) << c.path;
    }
}

// What wardexctl add writes is split back into the very words it was given.
TEST(JoinCommandLine, IsSplitBackIntoTheSameWords) {
    const std::vector<std::vector<std::string>> cases = {
        {"python3", "-m", "http.server", "8765"},
        {"C:\\Program Files\\app.exe", "", "with blank", "quote\"inside", "end\\"},
        {"prog", "back\\\\\"slash", "tab\there", "\\\\server\\share\\"},
    };
    for (const auto& words : cases)
        EXPECT_EQ(splitCommandLine(joinCommandLine(words)), words) << joinCommandLine(words);
    EXPECT_EQ(joinCommandLine({"python3", "-m", "http.server"}), "python3 -m http.server");
}

TEST(SplitCommandLine, FollowsTheWindowsRules) {
    using Arguments = std::vector<std::string>;
    struct Case {
        const char* line;
        Arguments arguments;
    };
    const Case cases[] = {
        // The program name: quotes group, backslashes stay.
        {R"(app)", {"app"}},
        {R"("C:\Program Files\app.exe" x)", {R"(C:\Program Files\app.exe)", "x"}},
        {R"("C:\dir\"x)", {R"(C:\dir\x)"}},
        {R"(C:\a"b c"\d.exe y)", {R"(C:\ab c\d.exe)", "y"}},
        {"", {""}},
        // Separators: blanks and tabs; runs of them and a trailing one add nothing.
        {"app  a\tb \t c  ", {"app", "a", "b", "c"}},
        {"app ", {"app"}},
        // Quoted parts, also inside an argument, and empty quoted arguments.
        {R"(app "abc" d e)", {"app", "abc", "d", "e"}},
        {R"(app a\\b d"e f"g h)", {"app", R"(a\\b)", "de fg", "h"}},
        {R"(app "" x "")", {"app", "", "x", ""}},
        {R"(app "unterminated quote)", {"app", "unterminated quote"}},
        // Backslashes before a quote: 2n give n and a delimiter, 2n+1 give n and a quote.
        {R"(app a\\\"b c d)", {"app", R"(a\"b)", "c", "d"}},
        {R"(app a\\\\"b c" d e)", {"app", R"(a\\b c)", "d", "e"}},
        {R"(app \"x\")", {"app", R"("x")"}},
        {R"(app "C:\dir\\" next)", {"app", R"(C:\dir\)", "next"}},
        {R"(app a\b\ c\\)", {"app", R"(a\b\)", R"(c\\)"}},
        // "" inside a quoted part is a literal quote, and the part goes on.
        {R"(app a"b"" c d)", {"app", R"(ab" c d)"}},
        {R"(app "a""b")", {"app", R"(a"b)"}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(splitCommandLine(c.line), c.arguments) << c.line;
}

} // namespace
} // namespace Kalvor
