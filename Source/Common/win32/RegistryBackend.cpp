#include "Common/RegistryBackend.h"

#include "Common/StringUtils.h"
#include "Common/win32/Windows.h"

namespace Kalvor {

// Owns the HKEYs; the predefined roots are never held here. A key read through the account's
// store has its HKEY_CURRENT_USER twin in `account`, asked first.
struct RegistryKey::Native {
    explicit Native(HKEY key, HKEY accountKey = nullptr) : handle(key), account(accountKey) {}
    ~Native() {
        if (handle != nullptr)
            ::RegCloseKey(handle);
        if (account != nullptr)
            ::RegCloseKey(account);
    }
    Native(const Native&) = delete;
    Native& operator=(const Native&) = delete;

    HKEY handle;
    HKEY account;
};

namespace {

HKEY predefinedKey(RegistryRoot root) {
    switch (root) {
    case RegistryRoot::ClassesRoot:
        return HKEY_CLASSES_ROOT;
    case RegistryRoot::CurrentConfig:
        return HKEY_CURRENT_CONFIG;
    case RegistryRoot::CurrentUser:
        return HKEY_CURRENT_USER;
    case RegistryRoot::LocalMachine:
        return HKEY_LOCAL_MACHINE;
    case RegistryRoot::Users:
        return HKEY_USERS;
    }
    return HKEY_LOCAL_MACHINE;
}

// Machine values under SOFTWARE that this account may not change (a standard user's, since
// HKEY_LOCAL_MACHINE\SOFTWARE is read-only to it): they are kept under the same path in
// HKEY_CURRENT_USER, as Windows' VirtualStore keeps them for an older program.
bool keptForTheAccount(RegistryRoot root, const std::string& subKey) {
    if (root != RegistryRoot::LocalMachine || lowerCopy(subKey.substr(0, 9)) != "software\\")
        return false;
    // A key not made yet is as writable as the nearest one above it that exists.
    std::string probe = subKey;
    for (;;) {
        HKEY key = nullptr;
        const LONG opened =
            ::RegOpenKeyExA(HKEY_LOCAL_MACHINE, probe.c_str(), 0,
                            probe.size() == subKey.size() ? KEY_SET_VALUE : KEY_CREATE_SUB_KEY,
                            &key);
        if (opened == ERROR_SUCCESS)
            ::RegCloseKey(key);
        const std::size_t parent = probe.rfind('\\');
        if (opened != ERROR_FILE_NOT_FOUND || parent == std::string::npos)
            return opened == ERROR_ACCESS_DENIED;
        probe.resize(parent);
    }
}

HKEY openKey(HKEY root, const std::string& subKey) {
    HKEY key = nullptr;
    return ::RegOpenKeyExA(root, subKey.c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS ? key
                                                                                      : nullptr;
}

} // namespace

bool RegistryKey::writesAccountStore(RegistryRoot root, const std::string& subKey) {
    return keptForTheAccount(root, subKey);
}

std::string RegistryKey::accountStoreName(const std::string& subKey) {
    return "HKEY_CURRENT_USER\\" + subKey;
}

RegistryKey::RegistryKey(std::unique_ptr<Native> native) : native_(std::move(native)) {}
RegistryKey::RegistryKey(RegistryKey&&) noexcept = default;
RegistryKey& RegistryKey::operator=(RegistryKey&&) noexcept = default;
RegistryKey::~RegistryKey() = default;

// The system's registry does not go corrupt under a reader: every failure to open counts as
// missing, and `fault` stays empty.
std::optional<RegistryKey> RegistryKey::openForRead(RegistryRoot root, const std::string& subKey,
                                                    std::string* fault, RegistryView view) {
    if (fault != nullptr)
        fault->clear();
    HKEY key = openKey(predefinedKey(root), subKey);
    HKEY account = view == RegistryView::Merged && keptForTheAccount(root, subKey)
                       ? openKey(HKEY_CURRENT_USER, subKey)
                       : nullptr;
    if (key == nullptr && account == nullptr)
        return std::nullopt;
    return RegistryKey(std::make_unique<Native>(key, account));
}

std::optional<RegistryKey> RegistryKey::createForWrite(RegistryRoot root,
                                                       const std::string& subKey) {
    const HKEY where = keptForTheAccount(root, subKey) ? HKEY_CURRENT_USER : predefinedKey(root);
    HKEY key = nullptr;
    if (::RegCreateKeyExA(where, subKey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE,
                          nullptr, &key, nullptr) != ERROR_SUCCESS)
        return std::nullopt;
    return RegistryKey(std::make_unique<Native>(key));
}

namespace {

bool queryIn(HKEY key, const std::string& valueName, RegistryType& type, std::string& bytes) {
    // Most values fit the first 100 bytes; a larger one is asked for again at the size the
    // query reported, which can change if another process rewrites the value meanwhile.
    std::string buffer(100, '\0');
    DWORD nativeType = 0;
    DWORD size = static_cast<DWORD>(buffer.size());
    LONG result = ::RegQueryValueExA(key, valueName.c_str(), nullptr, &nativeType,
                                     reinterpret_cast<BYTE*>(&buffer[0]), &size);
    while (result == ERROR_MORE_DATA) {
        buffer.assign(size > buffer.size() ? size : 2 * buffer.size(), '\0');
        size = static_cast<DWORD>(buffer.size());
        result = ::RegQueryValueExA(key, valueName.c_str(), nullptr, &nativeType,
                                    reinterpret_cast<BYTE*>(&buffer[0]), &size);
    }
    if (result != ERROR_SUCCESS)
        return false;
    buffer.resize(size);
    type = static_cast<RegistryType>(nativeType);
    bytes = std::move(buffer);
    return true;
}

} // namespace

bool RegistryKey::query(const std::string& valueName, RegistryType& type,
                        std::string& bytes) const {
    return (native_->account != nullptr &&
            queryIn(native_->account, valueName, type, bytes)) ||
           (native_->handle != nullptr && queryIn(native_->handle, valueName, type, bytes));
}

bool RegistryKey::set(const std::string& valueName, RegistryType type, const void* bytes,
                      uint32_t byteCount) {
    return ::RegSetValueExA(native_->handle, valueName.c_str(), 0, static_cast<DWORD>(type),
                            static_cast<const BYTE*>(bytes), byteCount) == ERROR_SUCCESS;
}

} // namespace Kalvor
