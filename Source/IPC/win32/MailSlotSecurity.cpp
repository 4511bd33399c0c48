#include "IPC/win32/MailSlotSecurity.h"

#include "Common/Exception.h"
#include "Common/StringUtils.h"
#include "Common/SystemError.h"

#include <aclapi.h>

namespace Kalvor {

namespace {

[[noreturn]] void cannotBuild(const char* step) {
    throw IPCException(IC_CANNOT_CREATE_COMM,
                       std::string(step) + ": error code " + intToString(lastSystemError()),
                       KALVOR_HERE);
}

} // namespace

std::vector<Sid> ownAccountWriters() {
    return {currentAccountSid(), wellKnownSid(WinLocalSystemSid),
            wellKnownSid(WinBuiltinAdministratorsSid)};
}

bool isOwnAccount(PSID owner) {
    std::vector<Sid> own = ownAccountWriters();
    own.push_back(defaultOwnerSid());
    for (Sid& sid : own) {
        if (!sid.empty() && ::EqualSid(owner, sid.data()))
            return true;
    }
    return false;
}

SlotOwner slotOwner(HANDLE handle) {
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (::GetSecurityInfo(handle, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr,
                          nullptr, nullptr, &descriptor) != ERROR_SUCCESS)
        return SlotOwner::kUnknown;
    const SlotOwner found = owner == nullptr      ? SlotOwner::kUnknown
                            : isOwnAccount(owner) ? SlotOwner::kOwnAccount
                                                  : SlotOwner::kOtherAccount;
    ::LocalFree(descriptor);
    return found;
}

MailSlotSecurity::MailSlotSecurity(MailSlot::Writers writers) {
    if (!::InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION))
        cannotBuild("InitializeSecurityDescriptor");
    if (writers == MailSlot::Writers::kOwnAccount) {
        allowOnly(ownAccountWriters());
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
        if (!::AddAccessAllowedAce(acl, ACL_REVISION, GENERIC_ALL, const_cast<BYTE*>(sid.data())))
            cannotBuild("AddAccessAllowedAce");
    }
    if (!::SetSecurityDescriptorDacl(&descriptor_, TRUE, acl, FALSE))
        cannotBuild("SetSecurityDescriptorDacl");
}

} // namespace Kalvor
