#include "File/FileUtils.h"

#include "FileTestSupport.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

namespace Kalvor {
namespace {

using Test::TempDir;
using Test::writeBytes;

using namespace FileUtils;

struct PartsCase {
    const char* path;
    const char* dir;
    const char* name;
    const char* extension;
    const char* withoutExt;
};

TEST(FileUtilsParts, SplitAtEitherSeparatorAndFindTheExtensionInTheNameOnly) {
    const PartsCase cases[] = {
        {"C:\\a\\b.txt", "C:\\a\\", "b.txt", "txt", "C:\\a\\b"},
        {"b.txt", "", "b.txt", "txt", "b"},
        {"/var/log/wardex.log", "/var/log/", "wardex.log", "log", "/var/log/wardex"},
        {"C:/a\\b/c.tar.gz", "C:/a\\b/", "c.tar.gz", "gz", "C:/a\\b/c.tar"},
        {"C:\\logs.d\\wardex", "C:\\logs.d\\", "wardex", "", "C:\\logs.d\\wardex"},
        {"dir\\", "dir\\", "", "", "dir\\"},
        {"name.", "", "name.", "", "name"},
        {"", "", "", "", ""},
    };
    for (const PartsCase& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(dirPart(c.path), c.dir);
        EXPECT_EQ(namePart(c.path), c.name);
        EXPECT_EQ(extensionPart(c.path), c.extension);
        std::string path = c.path;
        EXPECT_EQ(withoutExtension(path), c.withoutExt);
        EXPECT_EQ(path, c.withoutExt);
    }
}

struct RuleCase {
    const char* input;
    char separator;
    const char* expected;
};

TEST(FileUtilsRules, EnsureTrailingSeparatorWritesTheGivenSeparatorOnlyWhenMissing) {
    const RuleCase cases[] = {
        {"C:\\a", '\\', "C:\\a\\"}, {"C:\\a\\", '\\', "C:\\a\\"}, {"C:\\a/", '\\', "C:\\a/"},
        {"", '\\', "\\"},           {"/tmp/a", '/', "/tmp/a/"},   {"", '/', "/"},
    };
    for (const RuleCase& c : cases) {
        std::string path = c.input;
        ensureTrailingSeparator(path, c.separator);
        EXPECT_EQ(path, c.expected) << "input " << c.input;
    }
}

TEST(FileUtilsRules, NormaliseSeparatorsCollapsesRunsButKeepsTheLeadingPair) {
    const RuleCase cases[] = {
        {"C:/a//b\\\\c", '\\', "C:\\a\\b\\c"},
        {"C:/a//b\\\\c", '/', "C:/a/b/c"},
        {"\\\\server\\share", '\\', "\\\\server\\share"},
        {"//server//share", '/', "//server/share"},
        {"\\\\\\server", '\\', "\\\\server"},
        {"a\\", '/', "a/"},
        {"/", '\\', "/"},
        {"", '\\', ""},
    };
    for (const RuleCase& c : cases) {
        std::string path = c.input;
        normaliseSeparators(path, c.separator);
        EXPECT_EQ(path, c.expected) << "input " << c.input;
    }
}

TEST(FileUtilsRules, StripTrailingSeparatorsStopsAtALoneSeparator) {
    const std::pair<const char*, const char*> cases[] = {
        {"C:\\a\\\\", "C:\\a"},
        {"C:\\a/\\", "C:\\a"},
        {"\\", "\\"},
        {"/", "/"},
        {"//", "/"},
        {"", ""},
        {"C:\\", "C:"},
        {"a", "a"},
    };
    for (const auto& [input, expected] : cases) {
        std::string path = input;
        stripTrailingSeparators(path);
        EXPECT_EQ(path, expected) << "input " << input;
    }
}

TEST(FileUtilsRules, DefaultSeparatorIsThePlatformsOwn) {
    std::string path = "a";
    ensureTrailingSeparator(path);
    EXPECT_EQ(path, std::string("a") + kPathSeparator);
    std::string mixed = "a/b\\c";
    normaliseSeparators(mixed);
    EXPECT_EQ(mixed, std::string("a") + kPathSeparator + "b" + kPathSeparator + "c");
}

TEST(FileUtilsMakeDirectories, CreatesTheWholeChainAndAcceptsExistingOnes) {
    TempDir dir;
    const std::string deep = dir.path() + "/one\\two/three/";
    EXPECT_TRUE(makeDirectories(deep));
    FileOps::FileInformation info;
    ASSERT_TRUE(FileUtils::fileInfo(dir.path() + "/one/two/three", info));
    EXPECT_TRUE(info.attributes & FileOps::kDirectory);
    EXPECT_TRUE(makeDirectories(deep));
    EXPECT_TRUE(makeDirectories(""));
}

TEST(FileUtilsMakeDirectories, FailsBelowAFile) {
    TempDir dir;
    writeBytes(dir.file("plain"), "x");
    EXPECT_FALSE(makeDirectories(dir.file("plain") + "/sub"));
}

} // namespace
} // namespace Kalvor
