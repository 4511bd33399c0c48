#include "IPC/win32/MailSlotSecurity.h"

#include "Common/Exception.h"
#include "Common/StringUtils.h"
#include "Common/SystemError.h"

namespace Kalvor {

namespace {

[[noreturn]] void cannotBuild(const char* step) {
    throw IPCException(IC_CANNOT_CREATE_COMM,
                       std::string(step) + ": error code " + intToString(lastSystemError()),
                       KALVOR_HERE);
}

} // namespace

MailSlotSecurity::MailSlotSecurity(MailSlot::Writers writers) {
    if (!::InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION))
        cannotBuild("InitializeSecurityDescriptor");
    if (writers == MailSlot::Writers::kOwnAccount) {
        allowOnly({currentAccountSid(), wellKnownSid(WinLocalSystemSid),
                   wellKnownSid(WinBuiltinAdministratorsSid)});
    } else if (!::SetSecurityDescriptorDacl(&descriptor_, TRUE, nullptr, FALSE)) {
        cannotBuild("SetSecurityDescriptorDacl");
    }
    attributes_.nLength = sizeof attributes_;
    attributes_.lpSecurityDescriptor = &descriptor_;
    attributes_.bInheritHandle = TRUE;
}

void MailSlotSecurity::allowOnly(const std::vector<Sid>& sids) {
    DWORD size = sizeof(ACL);
    for (const Sid& sid : sids) {
        if (sid.empty())
            cannotBuild("a security identifier");
        size += sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD) + static_cast<DWORD>(sid.size());
    }
    acl_.assign(size, 0);
    PACL acl = reinterpret_cast<PACL>(acl_.data());
    if (!::InitializeAcl(acl, size, ACL_REVISION))
        cannotBuild("InitializeAcl");
    for (const Sid& sid : sids) {
        if (!::AddAccessAllowedAce(acl, ACL_REVISION, GENERIC_ALL,
                                   const_cast<BYTE*>(sid.data())))
            cannotBuild("AddAccessAllowedAce");
    }
    if (!::SetSecurityDescriptorDacl(&descriptor_, TRUE, acl, FALSE))
        cannotBuild("SetSecurityDescriptorDacl");
}

} // namespace Kalvor
