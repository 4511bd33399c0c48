#include "Logger/OutputLog.h"

#include "Logger/LogRotation.h"
#include "LoggerTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <regex>
#include <tuple>

namespace Kalvor {
namespace {

using Kalvor::Test::fileNames;
using Kalvor::Test::readFile;

constexpr uint64_t kMegabyte = 1048576;

bool append(OutputLog& output, const std::string& bytes) {
    return output.append(bytes.data(), bytes.size());
}

// Numbered lines: any lost, doubled or reordered stretch shows in a comparison.
std::string numberedBytes(std::size_t size) {
    std::string bytes;
    char line[16];
    for (int number = 0; bytes.size() < size; ++number) {
        std::snprintf(line, sizeof line, "%08d\n", number);
        bytes += line;
    }
    bytes.resize(size);
    return bytes;
}

class OutputLogTest : public testing::Test {
protected:
    // The rotation settings are the process's: put back what a test changed.
    ~OutputLogTest() override {
        LogRotation::setSizeLimit(sizeLimitBefore);
        LogRotation::setKeptArchives(keptBefore);
    }

    // The archives beside the output file, oldest first by the time and counter in their names.
    std::vector<std::string> archives() const {
        static const std::regex pattern("App_(\\d{8}T\\d{6}Z)_(\\d+)\\.out");
        std::vector<std::tuple<std::string, long long, std::string>> found;
        for (const std::string& name : fileNames(folder.path())) {
            std::smatch match;
            if (std::regex_match(name, match, pattern))
                found.emplace_back(match[1], std::stoll(match[2]), name);
        }
        std::sort(found.begin(), found.end());
        std::vector<std::string> names;
        for (const auto& archive : found)
            names.push_back(std::get<2>(archive));
        return names;
    }

    const int32_t sizeLimitBefore = LogRotation::sizeLimit();
    const int32_t keptBefore = LogRotation::keptArchives();
    Kalvor::Test::TempDir folder;
    const std::string path = folder.file("App.out");
};

TEST_F(OutputLogTest, BytesArriveUnchangedAfterWhatTheFileHeld) {
    ASSERT_TRUE(Kalvor::Test::writeFile(path, "earlier run\n"));
    const std::string parts[] = {
        "line\n", "windows line\r\n", std::string("nul\0inside", 10), "\r", "no end", "\xff",
    };
    OutputLog output(path);
    EXPECT_EQ(output.path(), path);
    std::string expected = "earlier run\n";
    for (const std::string& part : parts) {
        ASSERT_TRUE(append(output, part)) << output.failure();
        expected += part;
        EXPECT_EQ(readFile(path), expected); // flushed by each append
    }
    EXPECT_TRUE(output.failure().empty());
    EXPECT_TRUE(output.append(nullptr, 0));
    EXPECT_EQ(readFile(path), expected);
}

TEST_F(OutputLogTest, RotatesAtTheLimitNotOneByteBelowNorWithoutALimit) {
    LogRotation::setSizeLimit(0);
    ASSERT_TRUE(Kalvor::Test::writeFile(path, ""));
    Kalvor::Test::resizeFile(path, 2 * kMegabyte);
    OutputLog output(path);
    ASSERT_TRUE(append(output, "x"));
    EXPECT_TRUE(archives().empty());

    LogRotation::setSizeLimit(1);
    Kalvor::Test::resizeFile(path, kMegabyte - 1);
    ASSERT_TRUE(append(output, "a"));
    EXPECT_TRUE(archives().empty());
    ASSERT_TRUE(append(output, "b")); // the file now holds the limit: it rotates first
    ASSERT_EQ(archives().size(), 1u);
    EXPECT_EQ(Kalvor::Test::fileSize(folder.file(archives()[0])), kMegabyte);
    EXPECT_EQ(readFile(path), "b");
}

// Several rotations within one second: each new archive must still sort after the others, or
// the thinning out would delete the newest bytes.
TEST_F(OutputLogTest, RotationKeepsTheNewestBytesInOrderAcrossArchives) {
    LogRotation::setSizeLimit(1);
    LogRotation::setKeptArchives(2);
    const std::string written = numberedBytes(5 * kMegabyte + 12345);
    const std::size_t chunk = 65537; // rotations fall inside lines
    OutputLog output(path);
    for (std::size_t at = 0; at < written.size(); at += chunk)
        ASSERT_TRUE(append(output, written.substr(at, chunk))) << output.failure();

    const std::vector<std::string> kept = archives();
    ASSERT_EQ(kept.size(), 2u);
    EXPECT_EQ(fileNames(folder.path()).size(), 3u); // nothing else was left behind
    std::string newest;
    for (const std::string& archive : kept) {
        const std::string bytes = readFile(folder.file(archive));
        EXPECT_GE(bytes.size(), kMegabyte) << archive;
        EXPECT_LT(bytes.size(), kMegabyte + chunk) << archive;
        newest += bytes;
    }
    newest += readFile(path);
    ASSERT_LE(newest.size(), written.size());
    EXPECT_GT(newest.size(), 2 * kMegabyte);
    EXPECT_TRUE(newest == written.substr(written.size() - newest.size()))
        << "the archives and the file are not the end of what was written";
}

TEST_F(OutputLogTest, ADeletedFileIsMadeAgainByTheNextAppend) {
    OutputLog output(path);
    ASSERT_TRUE(append(output, "before"));
    ASSERT_TRUE(std::filesystem::remove(path));
    if (std::filesystem::exists(path))
        GTEST_SKIP() << "a deleted file keeps its name while it is open here (Wine)";
    ASSERT_TRUE(append(output, "after"));
    EXPECT_EQ(readFile(path), "after");
}

// Nothing tells of a rename by another program: the path is looked at within about a second,
// and what is written meanwhile is in one file or the other, in order.
TEST_F(OutputLogTest, AFileRenamedByAnotherProgramIsLeftWithinASecond) {
    OutputLog output(path);
    ASSERT_TRUE(append(output, "0\n"));
    const std::string moved = path + ".moved";
    std::filesystem::rename(path, moved);
    int written = 0;
    std::string all = "0\n";
    EXPECT_TRUE(Kalvor::Test::waitFor(
        [&] {
            const std::string line = std::to_string(++written) + "\n";
            EXPECT_TRUE(append(output, line));
            all += line;
            return std::filesystem::exists(path);
        },
        std::chrono::seconds(3)));
    const std::string now = readFile(path);
    EXPECT_EQ(now, std::to_string(written) + "\n");
    EXPECT_EQ(readFile(moved) + now, all);
}

TEST_F(OutputLogTest, AFileThatCannotBeMadeFailsUntilItsFolderExists) {
    const std::string missing = folder.file("later");
    OutputLog output(missing + "/App.out");
    EXPECT_FALSE(append(output, "lost"));
    EXPECT_NE(output.failure().find(missing), std::string::npos) << output.failure();
    ASSERT_TRUE(std::filesystem::create_directory(missing));
    ASSERT_TRUE(append(output, "kept"));
    EXPECT_TRUE(output.failure().empty());
    EXPECT_EQ(readFile(missing + "/App.out"), "kept");
}

// posix: a dangling link planted at the path, which must not lead the write to create its
// target; win32: a file another program holds without sharing.
TEST_F(OutputLogTest, APathThatCannotBeOpenedIsNotFollowedAndTriedAgain) {
    OutputLog output(path);
    {
        Kalvor::Test::UnreadableFile blocked(path);
        EXPECT_FALSE(append(output, "lost"));
        EXPECT_NE(output.failure().find(path), std::string::npos) << output.failure();
        EXPECT_FALSE(std::filesystem::exists(path + ".missing"));
    }
    ASSERT_TRUE(append(output, "kept")) << output.failure();
    EXPECT_EQ(readFile(path), "kept");
}

} // namespace
} // namespace Kalvor
