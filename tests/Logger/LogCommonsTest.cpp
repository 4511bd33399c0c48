#include "Logger/LogCommons.h"

#include <gtest/gtest.h>

namespace Kalvor {
namespace {

using namespace LogCommons;

TEST(SeverityTest, NamesAndNumbersMapBothWays) {
    const struct {
        const char* name;
        int32_t number;
    } cases[] = {{"NOTICE", 0}, {"WARNING", 1}, {"ERROR", 2},   {"CRITICAL", 3},
                 {"FATAL", 4},  {"NONE", 5},    {"NOTHING", 5}, {"notice", 6},
                 {"Fatal", 6},  {" NOTICE", 6}, {"", 6},        {"NOTICES", 6}};
    for (const auto& c : cases)
        EXPECT_EQ(severityFromName(c.name), c.number) << '"' << c.name << '"';
    for (int32_t n = 0; n <= 4; ++n)
        EXPECT_EQ(severityFromName(severityName(n)), n);
    EXPECT_EQ(severityName(5), "");
    EXPECT_EQ(severityName(-1), "");
}

TEST(ModuleTableTest, KeysAreCaseFoldedAndLogMeansLogger) {
    const struct {
        const char* key;
        int32_t number;
    } cases[] = {{"core", 0},     {"configuration", 1}, {"logger", 2},   {"LOGGER", 2},
                 {"log", 2},      {"Log", 2},           {"ipc", 6},      {"Wardex", 23},
                 {"module7", 7},  {"module38", 38},     {"wardexx", 45}, {"", 45},
                 {"module39", 45}};
    for (const auto& c : cases)
        EXPECT_EQ(moduleNumber(c.key), c.number) << '"' << c.key << '"';
}

TEST(ModuleTableTest, EveryRowHasANameAndItsKeyLeadsBack) {
    for (int32_t n = 0; n < kModuleCount; ++n) {
        EXPECT_NE(moduleName(n), "<<Unknown>>") << n;
        EXPECT_EQ(moduleNumber(moduleKey(n)), n) << n;
    }
    EXPECT_EQ(moduleName(23), "Wardex");
    EXPECT_EQ(moduleName(2), "Logger");
    EXPECT_EQ(moduleName(39), "<<Unknown>>");
    EXPECT_EQ(moduleName(45), "<<Unknown>>");
    EXPECT_EQ(moduleName(-1), "<<Unknown>>");
}

TEST(ApplicationTableTest, StartsAtOneWithCore) {
    EXPECT_EQ(applicationName(1), "Core");
    EXPECT_EQ(applicationNumber("CORE"), 1);
    EXPECT_EQ(applicationName(kWardexApplication), "Wardex");
    EXPECT_EQ(applicationName(0), "<<Unknown>>");
    EXPECT_EQ(applicationNumber("nothing"), kUnknownNumber);
    EXPECT_EQ(applicationNumber(""), kUnknownNumber);
}

TEST(CatalogLineTest, CommentsBlanksAndColons) {
    const struct {
        const char* line;
        bool stored;
        int32_t number;
        const char* text;
    } cases[] = {
        {"12: Hello", true, 12, "Hello"},
        {"  7 :  a: b : c  ", true, 7, "a: b : c"},
        {"//12: commented out", false, 0, ""},
        {"//", false, 0, ""},
        {"/1: one slash is no comment", true, 0, "one slash is no comment"},
        {"", false, 0, ""},
        {"no colon here", false, 0, ""},
        {"5:", true, 5, ""},
        {"x5: letters first", true, 0, "letters first"},
        {"5x: digits first", true, 5, "digits first"},
        {"3: text\r", true, 3, "text"},
        {"99999999999: huge", true, 2147483647, "huge"},
    };
    for (const auto& c : cases) {
        int32_t number = -1;
        std::string text = "unchanged";
        const bool stored = parseCatalogLine(c.line, number, text);
        EXPECT_EQ(stored, c.stored) << c.line;
        if (c.stored) {
            EXPECT_EQ(number, c.number) << c.line;
            EXPECT_EQ(text, c.text) << c.line;
        }
    }
}

TEST(MessageCatalogTest, AddTextCountsStoredLinesAndTheLaterDuplicateWins) {
    MessageCatalog catalog;
    const int32_t stored = catalog.addText(23, "// header\r\n"
                                               "\r\n"
                                               "1: first\r\n"
                                               "2: second: with colon\n"
                                               "1: replaced\n"
                                               "// 3: not a message\n"
                                               "stray text\n");
    EXPECT_EQ(stored, 3);
    EXPECT_EQ(catalog.size(), 2u);
    EXPECT_EQ(catalog.find(23, 1), "replaced");
    EXPECT_EQ(catalog.find(23, 2), "second: with colon");
    EXPECT_FALSE(catalog.find(23, 3));
    EXPECT_FALSE(catalog.find(2, 1));
}

TEST(MessageCatalogTest, KeysKeepModulesApart) {
    // "1.12" and "11.2" must not collide.
    MessageCatalog catalog;
    catalog.set(1, 12, "one-twelve");
    catalog.set(11, 2, "eleven-two");
    EXPECT_EQ(catalog.find(1, 12), "one-twelve");
    EXPECT_EQ(catalog.find(11, 2), "eleven-two");
    MessageCatalog more;
    more.set(1, 12, "newer");
    catalog.merge(more);
    EXPECT_EQ(catalog.find(1, 12), "newer");
}

} // namespace
} // namespace Kalvor
