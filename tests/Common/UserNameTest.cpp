#include "Common/UserName.h"

#include <gtest/gtest.h>

namespace Kalvor {
namespace {

TEST(CurrentUserName, IsAPlainNonEmptyName) {
    const std::string name = currentUserName();
    ASSERT_FALSE(name.empty());
    EXPECT_EQ(name.find('\0'), std::string::npos);
    EXPECT_EQ(currentUserName(), name);
}

} // namespace
} // namespace Kalvor
