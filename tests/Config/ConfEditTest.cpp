// wardexctl add and remove as text edits: the rest of the file byte for byte, and a removal
// that undoes an addition exactly.
#include "Config/ConfEdit.h"

#include "Config/ConfNode.h"
#include "Config/ConfParser.h"

#include <gtest/gtest.h>

#include <string>

namespace Kalvor {
namespace {

const std::string kFile = "Kalvor() = '' {\n  directories() = '' { bin(DirName) = '/x/' { } }\n}\n"
                          "wardex() = '' {\n"
                          "  monitor() = '' {\n"
                          "    One() = '' {\n      active(Bool) = 'true' { }\n    }\n"
                          "  }\n"
                          "}\n";

const ConfEdit::Keys kKeys = {{"active(Bool)", "true"},
                              {"id(String)", "web"},
                              {"command(String)", "python3 -c \"print(1)\" \\\\server\\share"}};

// The value the configuration reads back for the key.
std::string valueOf(const std::string& text, const std::string& key) {
    ConfNode root("Root");
    ConfParser(text).parse(root);
    const ConfNode* node = root.find(key);
    return node ? node->value() : "(none)";
}

TEST(ConfEdit, AnAddThatIsRemovedAgainLeavesTheFileByteForByte) {
    for (const std::string& file : {kFile, std::string(
                                               "wardex() = '' {\r\n  monitor() = '' {\r\n  }\r\n}\r\n")}) {
        std::string added, removed, why;
        ASSERT_TRUE(ConfEdit::addApplication(file, "web", kKeys, added, why)) << why;
        EXPECT_EQ(valueOf(added, "wardex.monitor.web.command"), kKeys[2].second)
            << "quotes and backslashes come back as they were";
        EXPECT_EQ(added.find("\r\n") != std::string::npos, file.find("\r\n") != std::string::npos)
            << "the file's own line ends";
        ASSERT_TRUE(ConfEdit::removeApplication(added, "web", removed, why)) << why;
        EXPECT_EQ(removed, file);
    }
}

TEST(ConfEdit, ListsInTheMonitorBodyAndMakesTheSkeletonForAnEmptyFile) {
    std::string added, why;
    ASSERT_TRUE(ConfEdit::addApplication(kFile, "web", kKeys, added, why)) << why;
    EXPECT_EQ(valueOf(added, "wardex.monitor.One.active"), "true");
    EXPECT_EQ(valueOf(added, "wardex.monitor.web.id"), "web");
    const std::string before = kFile.substr(0, kFile.find("  }\n}\n"));
    EXPECT_EQ(added.rfind(before, 0), 0u) << "everything before stays";

    ASSERT_TRUE(ConfEdit::addApplication("", "web", kKeys, added, why)) << why;
    EXPECT_EQ(valueOf(added, "wardex.monitor.web.active"), "true");
}

TEST(ConfEdit, RefusesWhatItCannotDoCleanly) {
    std::string result, why;
    EXPECT_FALSE(ConfEdit::addApplication(kFile, "One", kKeys, result, why));
    EXPECT_NE(why.find("listed already"), std::string::npos) << why;
    EXPECT_FALSE(ConfEdit::addApplication("wardex() = '' {\nmonitor( = '' {}\n}\n", "web", kKeys,
                                          result, why));
    EXPECT_EQ(why.rfind("line 2: ", 0), 0u) << why;
    EXPECT_FALSE(ConfEdit::addApplication("other() = '' { }\nwardex() = '' { }\n", "web", kKeys,
                                          result, why));
    EXPECT_FALSE(ConfEdit::addApplication(kFile, "web", {{"command(String)", "a'b\"c"}}, result,
                                          why));
    EXPECT_FALSE(ConfEdit::removeApplication(kFile, "web", result, why));
    EXPECT_NE(why.find("not listed"), std::string::npos) << why;
}

} // namespace
} // namespace Kalvor
