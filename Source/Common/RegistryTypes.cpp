#include "Common/RegistryTypes.h"

#include "Common/StringUtils.h"

namespace Kalvor {

const char* rootKeyName(RegistryRoot root) {
    switch (root) {
    case RegistryRoot::ClassesRoot:
        return "HKEY_CLASSES_ROOT";
    case RegistryRoot::CurrentConfig:
        return "HKEY_CURRENT_CONFIG";
    case RegistryRoot::CurrentUser:
        return "HKEY_CURRENT_USER";
    case RegistryRoot::LocalMachine:
        return "HKEY_LOCAL_MACHINE";
    case RegistryRoot::Users:
        return "HKEY_USERS";
    }
    return "";
}

std::optional<RegistryRoot> findRootKey(const std::string& name) {
    const std::string wanted = lowerCopy(name);
    for (RegistryRoot root : kRegistryRoots) {
        if (lowerCopy(rootKeyName(root)) == wanted)
            return root;
    }
    return std::nullopt;
}

std::string dwordBytes(uint32_t number) {
    const char bytes[4] = {static_cast<char>(number), static_cast<char>(number >> 8),
                           static_cast<char>(number >> 16), static_cast<char>(number >> 24)};
    return std::string(bytes, 4);
}

uint64_t littleEndianNumber(const std::string& bytes, std::size_t count) {
    uint64_t number = 0;
    for (std::size_t i = count < bytes.size() ? count : bytes.size(); i-- > 0;)
        number = (number << 8) | static_cast<unsigned char>(bytes[i]);
    return number;
}

std::string registryTypeName(RegistryType type) {
    static const char* const names[] = {"REG_NONE",
                                        "REG_SZ",
                                        "REG_EXPAND_SZ",
                                        "REG_BINARY",
                                        "REG_DWORD",
                                        "REG_DWORD_BIG_ENDIAN",
                                        "REG_LINK",
                                        "REG_MULTI_SZ",
                                        "REG_RESOURCE_LIST",
                                        "REG_FULL_RESOURCE_DESCRIPTOR",
                                        "REG_RESOURCE_REQUIREMENTS_LIST",
                                        "REG_QWORD"};
    const auto number = static_cast<uint32_t>(type);
    return number < sizeof names / sizeof names[0] ? names[number]
                                                   : "REG_0x" + std::to_string(number);
}

} // namespace Kalvor
