#include "Common/SystemError.h"

#include "SystemErrorProbes.h"
#include "TestSupport.h"

#include <functional>

#include <gtest/gtest.h>

namespace Kalvor {
namespace {

// Inside a test body, plain "Test" names GoogleTest's class.
namespace support = Kalvor::Test;

// Error 2 is "file not found" on both platforms (ENOENT, ERROR_FILE_NOT_FOUND).
TEST(SystemErrorText, GivesTheSystemsWordsWithoutATrailingLineBreak) {
    const std::string text = systemErrorText(2);
    ASSERT_FALSE(text.empty());
    EXPECT_NE(text.back(), '\n');
    EXPECT_NE(text.back(), '\r');
    EXPECT_NE(systemErrorText(2), systemErrorText(5));
}

TEST(SystemErrorText, UnknownNumbersStillGiveSomeText) {
    EXPECT_FALSE(systemErrorText(987654).empty());
}

struct Failure {
    const char* what;
    std::function<support::Provoked(const support::TempDir&)> provoke;
    std::errc expected;
};

// The conditions the backends decide by, each from a real failure of the platform's own call.
TEST(SystemError, RealFailuresMapToTheConditionsCallersDecideBy) {
    const support::TempDir folder;
    const std::string file = folder.file("present");
    ASSERT_TRUE(support::writeFile(file, "x"));
    const Failure failures[] = {
        {"missing file", [](auto& dir) { return support::openMissingFile(dir.file("absent")); },
         std::errc::no_such_file_or_directory},
        {"file in a missing folder",
         [](auto& dir) { return support::openMissingFile(dir.file("absent") + "/file"); },
         std::errc::no_such_file_or_directory},
        {"existing file created anew", [&](auto&) { return support::createExistingFile(file); },
         std::errc::file_exists},
        {"existing folder created anew",
         [](auto& dir) { return support::createExistingFolder(dir.path()); },
         std::errc::file_exists},
        {"refused access", [&](auto&) { return support::refuseAccess(file); },
         std::errc::permission_denied},
        {"invalid handle", [](auto&) { return support::closeInvalidHandle(); },
         std::errc::bad_file_descriptor},
    };
    for (const Failure& failure : failures) {
        SCOPED_TRACE(failure.what);
        const support::Provoked provoked = failure.provoke(folder);
        ASSERT_NE(provoked.native, 0) << "the call did not fail";
        EXPECT_EQ(provoked.error.condition, failure.expected);
        EXPECT_EQ(systemError(provoked.native).condition, failure.expected);
        // Detail texts keep the platform's own number and words.
        EXPECT_EQ(provoked.error.native, provoked.native);
        EXPECT_EQ(provoked.error.text(), systemErrorText(provoked.native));
        EXPECT_EQ(provoked.error.text().rfind("Unknown error", 0), std::string::npos);
    }
}

TEST(SystemError, NoErrorAndUnknownNumbersKeepTheirNumber) {
    EXPECT_EQ(systemError(0).condition, std::errc{});
    EXPECT_EQ(systemError(987654).native, 987654);
    EXPECT_FALSE(systemError(987654).text().empty());
}

} // namespace
} // namespace Kalvor
