// The access lists a win32 mailslot is made with. Wine does not enforce them on mailslots, so
// what is checked is the descriptor itself: exactly the three writers, or none at all.
#include "IPC/win32/MailSlotSecurity.h"

#include <gtest/gtest.h>

#include <vector>

namespace Kalvor {
namespace {

std::vector<Sid> allowedSids(MailSlotSecurity& security) {
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL acl = nullptr;
    EXPECT_TRUE(::GetSecurityDescriptorDacl(security.descriptor(), &present, &acl, &defaulted));
    EXPECT_TRUE(present);
    std::vector<Sid> sids;
    for (DWORD index = 0; acl != nullptr && index < acl->AceCount; ++index) {
        void* entry = nullptr;
        EXPECT_TRUE(::GetAce(acl, index, &entry));
        const auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(entry);
        EXPECT_EQ(allowed->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
        EXPECT_EQ(allowed->Mask, static_cast<DWORD>(GENERIC_ALL));
        const BYTE* sid = reinterpret_cast<const BYTE*>(&allowed->SidStart);
        sids.emplace_back(sid, sid + ::GetLengthSid(const_cast<BYTE*>(sid)));
    }
    return sids;
}

TEST(MailSlotSecurity, TheOwnAccountSlotAdmitsItsAccountSystemAndAdministratorsOnly) {
    MailSlotSecurity security(MailSlot::Writers::kOwnAccount);
    EXPECT_EQ(allowedSids(security),
              (std::vector<Sid>{currentAccountSid(), wellKnownSid(WinLocalSystemSid),
                                wellKnownSid(WinBuiltinAdministratorsSid)}));
    // A slot made with it still works for its own account.
    MailSlot receiver(MailSlot::kReceiver, "GuardedSlotTest", MailSlot::Writers::kOwnAccount);
    MailSlot(MailSlot::kLocalSender, "GuardedSlotTest").send("mine");
    std::vector<Datagram> received;
    receiver.receive(received);
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].text, "mine");
    EXPECT_FALSE(received[0].sender);
}

TEST(MailSlotSecurity, AnOpenSlotHasANullAccessList) {
    MailSlotSecurity security(MailSlot::Writers::kEveryone);
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL acl = reinterpret_cast<PACL>(1);
    ASSERT_TRUE(::GetSecurityDescriptorDacl(security.descriptor(), &present, &acl, &defaulted));
    EXPECT_TRUE(present);
    EXPECT_EQ(acl, nullptr);
}

} // namespace
} // namespace Kalvor
