// The security attributes a mailslot is created with: a null access list, which lets every
// account write, or one that lets only this process's account, SYSTEM and the Administrators
// in. Private to the library and its tests. Neither copied nor moved: the attributes point into
// the object.
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

} // namespace Kalvor
