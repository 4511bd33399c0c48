// Lock files and the safe update against a second process: the helper FileWriterHelper.
#include "ChildProcess.h"
#include "File/FileOps.h"
#include "File/FilePlain.h"
#include "FileTestSupport.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

namespace Kalvor {
namespace {

using Test::ChildProcess;
using Test::fileLines;
using Test::helperProgramPath;
using Test::fileExists;
using Test::patternBytes;
using Test::readFile;
using Test::TempDir;
using Test::waitFor;
using Test::writeBytes;

const std::string kHelper = "FileWriterHelper";

uint64_t fileSize(const std::string& path) {
    FileOps::FileInformation info;
    if (!FileOps::fileInfo(path, info))
        return 0;
    return (static_cast<uint64_t>(info.sizeHigh) << 32) | info.sizeLow;
}

bool exitedCleanly(ChildProcess& child) {
    return child.waitForExit() == 0;
}

TEST(CrossProcessTokens, TwoProcessesInTheSameSecondGetDifferentTokens) {
    const std::string helper = helperProgramPath(kHelper);
    for (int round = 0; round < 5; ++round) {
        TempDir dir;
        ChildProcess first(helper, {"token", dir.file("first")});
        ChildProcess second(helper, {"token", dir.file("second")});
        ASSERT_TRUE(first.started() && second.started()) << helper;
        ASSERT_TRUE(exitedCleanly(first));
        ASSERT_TRUE(exitedCleanly(second));
        const std::string a = readFile(dir.file("first"));
        const std::string b = readFile(dir.file("second"));
        ASSERT_EQ(a.size(), 26u) << a;
        ASSERT_EQ(b.size(), 26u) << b;
        if (a.substr(0, 16) != b.substr(0, 16))
            continue; // they straddled a second; try again
        EXPECT_NE(a.substr(16), b.substr(16));
        return;
    }
    FAIL() << "the helpers never made their tokens in the same second";
}

// A writer killed in the middle of a large safe update: the file stays as it was, and once the
// dead writer's lock has expired the next writer takes over.
TEST(CrossProcessCrash, KilledWriterLeavesTheFileIntactAndItsLockExpires) {
    constexpr uint64_t kPastTheOriginal = 4 * 1024 * 1024;
    TempDir dir;
    const std::string path = dir.file("data.bin");
    const std::string original = patternBytes(256 * 1024, 'o');
    writeBytes(path, original);

    {
        ChildProcess writer(helperProgramPath(kHelper), {"write", path, "3"});
        ASSERT_TRUE(writer.started());
        // Beyond the size of the copy, so the helper is writing its own data.
        ASSERT_TRUE(waitFor(
            [&] {
                return fileSize(path + ".tmp") >= kPastTheOriginal || writer.exitCode().has_value();
            },
            std::chrono::seconds(60)));
        ASSERT_FALSE(writer.exitCode().has_value()) << "exit code " << *writer.exitCode();
        writer.kill();
    }
    EXPECT_TRUE(readFile(path) == original) << "the original file changed";
    ASSERT_TRUE(fileExists(path + ".lock"));
    const std::vector<std::string> lines = fileLines(path + ".lock");
    ASSERT_EQ(lines.size(), 4u);
    const DateTime expiry(lines[1], IsoMode::DateAndTime);

    int refusals = 0;
    const bool tookOver = waitFor(
        [&] {
            FilePlain file(path);
            try {
                file.open(FileBase::kWrite);
            } catch (const FileException& error) {
                EXPECT_EQ(error.code(), FL_IS_LOCKED);
                ++refusals;
                return false;
            }
            EXPECT_FALSE(DateTime().before(expiry)) << "taken over before the lock expired";
            file.write("taken over");
            file.close();
            return true;
        },
        std::chrono::seconds(30));
    ASSERT_TRUE(tookOver) << refusals << " refusals";
    EXPECT_EQ(readFile(path), "taken over");
    EXPECT_FALSE(fileExists(path + ".lock"));
    EXPECT_FALSE(fileExists(path + ".tmp"));
}

} // namespace
} // namespace Kalvor
