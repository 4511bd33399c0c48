#include "Common/RegistryBackend.h"

#include "Common/win32/Windows.h"

namespace Kalvor {

// Owns the HKEY; the predefined roots are never held here.
struct RegistryKey::Native {
    explicit Native(HKEY key) : handle(key) {}
    ~Native() { ::RegCloseKey(handle); }
    Native(const Native&) = delete;
    Native& operator=(const Native&) = delete;

    HKEY handle;
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

} // namespace

RegistryKey::RegistryKey(std::unique_ptr<Native> native) : native_(std::move(native)) {}
RegistryKey::RegistryKey(RegistryKey&&) noexcept = default;
RegistryKey& RegistryKey::operator=(RegistryKey&&) noexcept = default;
RegistryKey::~RegistryKey() = default;

// The system's registry does not go corrupt under a reader: every failure to open counts as
// missing, and `fault` stays empty. Windows itself decides what a process sees: one view.
std::optional<RegistryKey> RegistryKey::openForRead(RegistryRoot root, const std::string& subKey,
                                                    std::string* fault, RegistryView) {
    if (fault != nullptr)
        fault->clear();
    HKEY key = nullptr;
    if (::RegOpenKeyExA(predefinedKey(root), subKey.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return std::nullopt;
    return RegistryKey(std::make_unique<Native>(key));
}

std::optional<RegistryKey> RegistryKey::createForWrite(RegistryRoot root,
                                                       const std::string& subKey) {
    HKEY key = nullptr;
    if (::RegCreateKeyExA(predefinedKey(root), subKey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                          KEY_WRITE, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return std::nullopt;
    return RegistryKey(std::make_unique<Native>(key));
}

bool RegistryKey::query(const std::string& valueName, RegistryType& type,
                        std::string& bytes) const {
    // Most values fit the first 100 bytes; a larger one is asked for again at the size the
    // query reported, which can change if another process rewrites the value meanwhile.
    std::string buffer(100, '\0');
    DWORD nativeType = 0;
    DWORD size = static_cast<DWORD>(buffer.size());
    LONG result = ::RegQueryValueExA(native_->handle, valueName.c_str(), nullptr, &nativeType,
                                     reinterpret_cast<BYTE*>(&buffer[0]), &size);
    while (result == ERROR_MORE_DATA) {
        buffer.assign(size > buffer.size() ? size : 2 * buffer.size(), '\0');
        size = static_cast<DWORD>(buffer.size());
        result = ::RegQueryValueExA(native_->handle, valueName.c_str(), nullptr, &nativeType,
                                    reinterpret_cast<BYTE*>(&buffer[0]), &size);
    }
    if (result != ERROR_SUCCESS)
        return false;
    buffer.resize(size);
    type = static_cast<RegistryType>(nativeType);
    bytes = std::move(buffer);
    return true;
}

bool RegistryKey::set(const std::string& valueName, RegistryType type, const void* bytes,
                      uint32_t byteCount) {
    return ::RegSetValueExA(native_->handle, valueName.c_str(), 0, static_cast<DWORD>(type),
                            static_cast<const BYTE*>(bytes), byteCount) == ERROR_SUCCESS;
}

} // namespace Kalvor
