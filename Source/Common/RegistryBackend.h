// The platform half of SystemInfo: one open registry key. Internal to Common and its tests.
//
// win32: an HKEY from RegOpenKeyExA (KEY_READ) or RegCreateKeyExA (KEY_WRITE), closed with the
// object. posix: a key of the root's hive in the registry store; a key opened for reading holds
// the hive as it was when opened, and one opened for writing is created, with its parents, by
// the first set(), which is where a file that cannot be written is found out.
//
// As Windows' VirtualStore does for a program that is not elevated: an account that may not
// write the machine's values (posix: other than root and the owner of the registry folder;
// win32: a standard user under HKEY_LOCAL_MACHINE\SOFTWARE) writes to a store of its own, and
// reads that store over the machine values (RegistryView::Merged). RegistryView::MachineOnly
// reads the machine values alone, for a value whose meaning is set for every account (the
// administrator's) and must not be shadowed by one account.
//
// Running out of memory throws std::bad_alloc; every other failure is a false or empty result.
#pragma once

#include "Common/RegistryTypes.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace Kalvor {

enum class RegistryView { Merged, MachineOnly };

class RegistryKey {
public:
    // Empty when the key does not exist or cannot be opened. When the registry itself could not
    // be read (posix: a hive file, the machine's or the account's, that does not parse or is not
    // a regular file), `*fault` says why, naming the file and the line; it is left empty for a
    // key that is simply missing.
    static std::optional<RegistryKey> openForRead(RegistryRoot root, const std::string& subKey,
                                                  std::string* fault = nullptr,
                                                  RegistryView view = RegistryView::Merged);
    // Opens the key, creating it and its parents when missing; empty when that fails. Where
    // writesAccountStore() says so, in this account's store.
    static std::optional<RegistryKey> createForWrite(RegistryRoot root, const std::string& subKey);
    // Whether this account's writes under the key go to a store of its own rather than to the
    // machine's values; posix: an account that neither is root nor owns the registry folder;
    // win32: one that may not set values in the HKEY_LOCAL_MACHINE\SOFTWARE key (a standard
    // user), whose store is the same path under HKEY_CURRENT_USER.
    static bool writesAccountStore(RegistryRoot root, const std::string& subKey);
    // Where that store is, for an operator to find it.
    static std::string accountStoreName(const std::string& subKey);

    RegistryKey(RegistryKey&&) noexcept;
    RegistryKey& operator=(RegistryKey&&) noexcept;
    ~RegistryKey();

    // The value's type and bytes exactly as stored; false when it cannot be queried.
    bool query(const std::string& valueName, RegistryType& type, std::string& bytes) const;
    // False when the value could not be stored.
    bool set(const std::string& valueName, RegistryType type, const void* bytes,
             uint32_t byteCount);

private:
    struct Native;
    explicit RegistryKey(std::unique_ptr<Native> native);

    std::unique_ptr<Native> native_;
};

} // namespace Kalvor
