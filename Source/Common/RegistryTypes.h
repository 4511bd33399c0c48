// Vocabulary shared by every registry unit: the predefined root keys with their names, and the
// value types by their Windows numbers.
//
// Root names compare case-insensitively (ASCII), as the registry's own names do.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace Kalvor {

enum class RegistryRoot { ClassesRoot, CurrentConfig, CurrentUser, LocalMachine, Users };

inline constexpr RegistryRoot kRegistryRoots[] = {
    RegistryRoot::ClassesRoot, RegistryRoot::CurrentConfig, RegistryRoot::CurrentUser,
    RegistryRoot::LocalMachine, RegistryRoot::Users};

// "HKEY_CLASSES_ROOT", "HKEY_CURRENT_CONFIG", "HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE",
// "HKEY_USERS".
const char* rootKeyName(RegistryRoot root);

// The root with that full name; nullopt for any other text.
std::optional<RegistryRoot> findRootKey(const std::string& name);

// Any 32-bit number is a valid type; these are the ones the suite names.
enum class RegistryType : uint32_t {
    None = 0,
    String = 1,       // REG_SZ
    ExpandString = 2, // REG_EXPAND_SZ
    Binary = 3,       // REG_BINARY
    Dword = 4,        // REG_DWORD, little-endian
    MultiString = 7,  // REG_MULTI_SZ
    Qword = 11        // REG_QWORD
};

// "REG_SZ", "REG_DWORD" and so on, as reg.exe names them.
std::string registryTypeName(RegistryType type);

// Registry numbers are stored little-endian whatever the machine.
std::string dwordBytes(uint32_t number);
// The number in the first `count` bytes (at most 8); bytes past the end count as zero.
uint64_t littleEndianNumber(const std::string& bytes, std::size_t count);

} // namespace Kalvor
