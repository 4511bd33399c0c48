#include "Common/UserName.h"

#include <gtest/gtest.h>

#include <pwd.h>
#include <unistd.h>

namespace Kalvor {
namespace {

TEST(CurrentUserName, NamesTheEffectiveUser) {
    const std::string name = currentUserName();
    const struct passwd* entry = ::getpwnam(name.c_str());
    if (entry == nullptr)
        EXPECT_EQ(name, std::to_string(::geteuid()));
    else
        EXPECT_EQ(entry->pw_uid, ::geteuid());
}

} // namespace
} // namespace Kalvor
