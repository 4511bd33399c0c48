#include "Common/SystemError.h"

#include <gtest/gtest.h>

namespace Kalvor {
namespace {

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

} // namespace
} // namespace Kalvor
