// The security attributes a mailslot is created with: a null access list, which lets every
// account write, or one that lets only this process's account, SYSTEM and the Administrators
// in; and the sender's check of whose slot it opened, against the same accounts. Private to the
// library and its tests. Neither copied nor moved: the attributes point into the object.
#pragma once

#include "Common/win32/AccountSid.h"
#include "Common/win32/Windows.h"
#include "IPC/MailSlot.h"

#include <vector>

namespace Kalvor {

class MailSlotSecurity {
public:
    // Throws IPCException IC_CANNOT_CREATE_COMM when the system cannot build it.
    explicit MailSlotSecurity(MailSlot::Writers writers);
    MailSlotSecurity(const MailSlotSecurity&) = delete;
    MailSlotSecurity& operator=(const MailSlotSecurity&) = delete;

    SECURITY_ATTRIBUTES* attributes() { return &attributes_; }
    PSECURITY_DESCRIPTOR descriptor() { return &descriptor_; }

private:
    void allowOnly(const std::vector<Sid>& sids);

    SECURITY_DESCRIPTOR descriptor_{};
    SECURITY_ATTRIBUTES attributes_{};
    std::vector<BYTE> acl_;
};

// The accounts a kOwnAccount slot lets write: this process's user, SYSTEM, the Administrators.
// An entry is empty where the system cannot tell.
std::vector<Sid> ownAccountWriters();

// Whether `owner` is one of ownAccountWriters(), or the owner this process gives what it makes
// (the Administrators for an elevated administrator, the user's primary group under Wine).
bool isOwnAccount(PSID owner);

enum class SlotOwner { kOwnAccount, kOtherAccount, kUnknown };

// Who owns the slot behind `handle`, a receiver's or a client's (which needs READ_CONTROL, as
// GENERIC_WRITE gives). kUnknown when the system shows no owner: Wine keeps none on a client
// handle.
SlotOwner slotOwner(HANDLE handle);

} // namespace Kalvor
