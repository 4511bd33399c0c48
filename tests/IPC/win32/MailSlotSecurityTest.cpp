// The access lists a win32 mailslot is made with, and the sender's check of the slot's owner.
// Wine does not check a mailslot's access list when a writer opens it (a writer that the list
// leaves out still opens the slot), so what is checked is the list itself, as built and as read
// back from a receiver's slot. Nor does Wine keep an owner on a client handle: a sender's refusal
// can only be shown on Windows.
#include "IPC/win32/MailSlotSecurity.h"

#include "Common/Exception.h"
#include "Common/win32/UniqueHandle.h"
#include "Sandbox.h"

#include <gtest/gtest.h>

#include <aclapi.h>

#include <cstdint>
#include <optional>
#include <set>
#include <vector>

namespace Kalvor {
namespace {

struct Ace {
    BYTE type;
    ACCESS_MASK mask;
    Sid sid;
};

// nullopt for a null access list, which lets every account in.
std::optional<std::vector<Ace>> accessList(PSECURITY_DESCRIPTOR descriptor) {
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL acl = nullptr;
    EXPECT_TRUE(::GetSecurityDescriptorDacl(descriptor, &present, &acl, &defaulted));
    EXPECT_TRUE(present);
    if (acl == nullptr)
        return std::nullopt;
    std::vector<Ace> aces;
    for (DWORD index = 0; index < acl->AceCount; ++index) {
        void* entry = nullptr;
        EXPECT_TRUE(::GetAce(acl, index, &entry));
        const auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(entry);
        const BYTE* sid = reinterpret_cast<const BYTE*>(&allowed->SidStart);
        aces.push_back({allowed->Header.AceType, allowed->Mask,
                        Sid(sid, sid + ::GetLengthSid(const_cast<BYTE*>(sid)))});
    }
    return aces;
}

std::vector<Sid> sidsOf(const std::vector<Ace>& aces) {
    std::vector<Sid> sids;
    for (const Ace& ace : aces)
        sids.push_back(ace.sid);
    return sids;
}

// MailSlot keeps its handle to itself: a receiver's is the mailslot handle that appears when it
// is made (GetMailslotInfo answers for mailslot handles only). A test process holds few handles,
// all numbered low.
std::set<HANDLE> mailslotHandles() {
    std::set<HANDLE> found;
    for (std::uintptr_t value = 4; value < 0x4000; value += 4) {
        const HANDLE handle = reinterpret_cast<HANDLE>(value);
        if (::GetMailslotInfo(handle, nullptr, nullptr, nullptr, nullptr))
            found.insert(handle);
    }
    return found;
}

// The access list of the slot a receiver made with `make()` holds, read back from the system.
template <typename Make> std::optional<std::vector<Ace>> receiversAccessList(Make make) {
    const std::set<HANDLE> before = mailslotHandles();
    const MailSlot receiver = make();
    std::vector<HANDLE> added;
    for (HANDLE handle : mailslotHandles())
        if (before.count(handle) == 0)
            added.push_back(handle);
    if (added.size() != 1) {
        ADD_FAILURE() << added.size() << " new mailslot handles";
        return std::vector<Ace>{};
    }
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const DWORD error = ::GetSecurityInfo(added[0], SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                                          nullptr, nullptr, nullptr, nullptr, &descriptor);
    if (error != ERROR_SUCCESS) {
        ADD_FAILURE() << "GetSecurityInfo: error " << error;
        return std::vector<Ace>{};
    }
    std::optional<std::vector<Ace>> aces = accessList(descriptor);
    ::LocalFree(descriptor);
    return aces;
}

std::vector<Sid> ownWriters() {
    return {currentAccountSid(), wellKnownSid(WinLocalSystemSid),
            wellKnownSid(WinBuiltinAdministratorsSid)};
}

class MailSlotSecurityTest : public ::testing::Test {
protected:
    Kalvor::Test::Sandbox sandbox;
};

TEST_F(MailSlotSecurityTest, TheOwnAccountListAdmitsItsAccountSystemAndAdministratorsOnly) {
    MailSlotSecurity security(MailSlot::Writers::kOwnAccount);
    const std::optional<std::vector<Ace>> aces = accessList(security.descriptor());
    ASSERT_TRUE(aces);
    EXPECT_EQ(sidsOf(*aces), ownWriters());
    for (const Ace& ace : *aces) {
        EXPECT_EQ(ace.type, ACCESS_ALLOWED_ACE_TYPE);
        EXPECT_EQ(ace.mask, static_cast<DWORD>(GENERIC_ALL));
    }
    EXPECT_FALSE(accessList(MailSlotSecurity(MailSlot::Writers::kEveryone).descriptor()));
}

// Read back from the slots themselves: what a receiver made without a choice holds is the own
// account's list, and only a caller that asks gets the open one.
TEST_F(MailSlotSecurityTest, AReceiverIsItsOwnAccountsUnlessEveryoneIsAskedFor) {
    const std::string name = sandbox.uniqueName("DefaultSlot");
    const std::optional<std::vector<Ace>> own =
        receiversAccessList([&] { return MailSlot(MailSlot::kReceiver, name); });
    ASSERT_TRUE(own);
    EXPECT_EQ(sidsOf(*own), ownWriters());
    for (const Ace& ace : *own) {
        EXPECT_EQ(ace.type, ACCESS_ALLOWED_ACE_TYPE);
        EXPECT_NE(ace.sid, wellKnownSid(WinWorldSid));
    }
    EXPECT_FALSE(receiversAccessList(
        [&] { return MailSlot(MailSlot::kReceiver, name, MailSlot::Writers::kEveryone); }));

    // Its own account still writes to it.
    MailSlot receiver(MailSlot::kReceiver, name);
    MailSlot(MailSlot::kLocalSender, name).send("mine");
    std::vector<Datagram> received;
    receiver.receive(received);
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].text, "mine");
    EXPECT_FALSE(received[0].sender);
}

// The account numbered one past this one's: a stand-in for another account of the machine.
Sid neighbouringAccountSid() {
    Sid sid = currentAccountSid();
    const BYTE last = *::GetSidSubAuthorityCount(sid.data()) - 1;
    ++*::GetSidSubAuthority(sid.data(), last);
    return sid;
}

TEST_F(MailSlotSecurityTest, OnlyThisAccountSystemAndTheAdministratorsCountAsOwn) {
    for (Sid sid : ownWriters())
        EXPECT_TRUE(isOwnAccount(sid.data()));
    for (Sid sid : {wellKnownSid(WinWorldSid), wellKnownSid(WinBuiltinUsersSid),
                    wellKnownSid(WinAuthenticatedUserSid), neighbouringAccountSid()})
        EXPECT_FALSE(isOwnAccount(sid.data()));
}

// A slot owned by `owner`, open to every writer; none where the system refuses to give it that
// owner (Windows, without the privilege to name another).
UniqueHandle slotOwnedBy(const std::string& name, Sid owner) {
    SECURITY_DESCRIPTOR descriptor{};
    EXPECT_TRUE(::InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION));
    EXPECT_TRUE(::SetSecurityDescriptorOwner(&descriptor, owner.data(), FALSE));
    EXPECT_TRUE(::SetSecurityDescriptorDacl(&descriptor, TRUE, nullptr, FALSE));
    SECURITY_ATTRIBUTES attributes{sizeof attributes, &descriptor, FALSE};
    return UniqueHandle(::CreateMailslotA(("\\\\.\\mailslot\\" + name).c_str(), 0, 0, &attributes));
}

TEST_F(MailSlotSecurityTest, ASlotOfAnotherAccountIsToldFromOwnOnes) {
    const UniqueHandle own(
        ::CreateMailslotA(("\\\\.\\mailslot\\" + sandbox.uniqueName("Own")).c_str(), 0, 0,
                          MailSlotSecurity(MailSlot::Writers::kOwnAccount).attributes()));
    ASSERT_TRUE(own);
    EXPECT_EQ(slotOwner(own.get()), SlotOwner::kOwnAccount);
    const UniqueHandle other = slotOwnedBy(sandbox.uniqueName("Other"), neighbouringAccountSid());
    if (!other)
        GTEST_SKIP() << "this account may not make a slot owned by another";
    EXPECT_EQ(slotOwner(other.get()), SlotOwner::kOtherAccount);
}

TEST_F(MailSlotSecurityTest, ASenderRefusesASlotOfAnotherAccount) {
    const std::string name = sandbox.uniqueName("Foreign");
    const UniqueHandle slot = slotOwnedBy(name, neighbouringAccountSid());
    if (!slot)
        GTEST_SKIP() << "this account may not make a slot owned by another";
    const UniqueHandle client(::CreateFileA(("\\\\.\\mailslot\\" + name).c_str(), GENERIC_WRITE,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(client);
    if (slotOwner(client.get()) == SlotOwner::kUnknown)
        GTEST_SKIP() << "the system shows no owner on a mailslot client handle (Wine)";
    MailSlot sender(MailSlot::kLocalSender, name);
    try {
        sender.send("not for them");
        ADD_FAILURE() << "sent to another account's slot";
    } catch (const IPCException& error) {
        EXPECT_EQ(error.code(), IC_CANNOT_SEND);
        EXPECT_EQ(error.detail(), name + " belongs to another account");
    }
    DWORD waiting = 0;
    ASSERT_TRUE(::GetMailslotInfo(slot.get(), nullptr, nullptr, &waiting, nullptr));
    EXPECT_EQ(waiting, 0u);
}

} // namespace
} // namespace Kalvor
