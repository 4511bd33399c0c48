#include "Common/win32/AccountSid.h"

namespace Kalvor {

namespace {

// The SID a token holds of that kind: its user (TokenUser) or the owner it gives what the
// process makes (TokenOwner).
Sid tokenSid(HANDLE process, TOKEN_INFORMATION_CLASS kind) {
    HANDLE token = nullptr;
    if (!::OpenProcessToken(process, TOKEN_QUERY, &token))
        return {};
    DWORD size = 0;
    ::GetTokenInformation(token, kind, nullptr, 0, &size);
    std::vector<BYTE> information(size > 0 ? size : 1);
    const BOOL got = ::GetTokenInformation(token, kind, information.data(), size, &size);
    ::CloseHandle(token);
    if (!got)
        return {};
    const PSID sid = kind == TokenOwner
                         ? reinterpret_cast<TOKEN_OWNER*>(information.data())->Owner
                         : reinterpret_cast<TOKEN_USER*>(information.data())->User.Sid;
    const BYTE* bytes = static_cast<const BYTE*>(sid);
    return Sid(bytes, bytes + ::GetLengthSid(sid));
}

} // namespace

Sid processAccountSid(HANDLE process) {
    return tokenSid(process, TokenUser);
}

Sid defaultOwnerSid() {
    return tokenSid(::GetCurrentProcess(), TokenOwner);
}

Sid currentAccountSid() {
    return processAccountSid(::GetCurrentProcess());
}

Sid wellKnownSid(WELL_KNOWN_SID_TYPE type) {
    Sid sid(SECURITY_MAX_SID_SIZE);
    DWORD size = static_cast<DWORD>(sid.size());
    if (!::CreateWellKnownSid(type, nullptr, sid.data(), &size))
        return {};
    sid.resize(size);
    return sid;
}

} // namespace Kalvor
