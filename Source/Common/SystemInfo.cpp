#include "Common/SystemInfo.h"

#include "Common/EnvironmentText.h"
#include "Common/RegistryBackend.h"
#include "Common/StringUtils.h"

#include <algorithm>
#include <atomic>
#include <new>
#include <utility>
#include <vector>

namespace Kalvor {

const char* const SystemInfo::kResourceKey = "SOFTWARE\\Kalvor\\Resources";

namespace {

std::atomic<RegistryRoot> currentRootKey{RegistryRoot::LocalMachine};

// (sub-key, value name), lower-cased: the values whose references are being expanded, so that
// a chain leading back to one of them ends there.
using ValueId = std::pair<std::string, std::string>;
using ExpansionChain = std::vector<ValueId>;

ValueId valueId(const std::string& subKey, const std::string& valueName) {
    return {lowerCopy(subKey), lowerCopy(valueName)};
}

bool isStringType(RegistryType type) {
    return type == RegistryType::String || type == RegistryType::ExpandString ||
           type == RegistryType::MultiString;
}

int32_t readExpanded(const std::string& subKey, const std::string& valueName, std::string& value,
                     ExpansionChain& chain, std::string& fault,
                     RegistryType* foundType = nullptr);

// SI_MISSING, or SI_UNREADABLE when the registry could not be read at all.
int32_t notOpened(const std::string& why, std::string* fault) {
    if (fault != nullptr)
        *fault = why;
    return why.empty() ? SI_MISSING : SI_UNREADABLE;
}

void expandReferences(std::string& text, ExpansionChain& chain) {
    std::size_t from = 0;
    for (;;) {
        const std::size_t open = text.find("${", from);
        if (open == std::string::npos || open + 3 >= text.size())
            return;
        const std::size_t close = text.find('}', open + 2);
        if (close == std::string::npos)
            return;
        const std::string name = text.substr(open + 2, close - open - 2);
        const bool inChain = std::find(chain.begin(), chain.end(),
                                       valueId(SystemInfo::kResourceKey, name)) != chain.end();
        std::string replacement;
        std::string ignored;
        if (!inChain &&
            readExpanded(SystemInfo::kResourceKey, name, replacement, chain, ignored) == SI_OK) {
            text.replace(open, close + 1 - open, replacement);
            from = open + replacement.size();
        } else {
            from = close + 1;
        }
    }
}

int32_t readExpanded(const std::string& subKey, const std::string& valueName, std::string& value,
                     ExpansionChain& chain, std::string& fault, RegistryType* foundType) {
    std::string bytes;
    {
        const std::optional<RegistryKey> key =
            RegistryKey::openForRead(SystemInfo::currentRoot(), subKey, &fault);
        if (!key)
            return notOpened(fault, nullptr);
        RegistryType type = RegistryType::None;
        if (!key->query(valueName, type, bytes))
            return SI_MISSING;
        if (foundType != nullptr)
            *foundType = type;
        if (!isStringType(type))
            return SI_WRONG_TYPE;
    }
    while (!bytes.empty() && bytes.back() == '\0')
        bytes.pop_back();
    chain.push_back(valueId(subKey, valueName));
    expandReferences(bytes, chain);
    chain.pop_back();
    value = std::move(bytes);
    return SI_OK;
}

int32_t readIntegerIn(RegistryView view, const std::string& subKey, const std::string& valueName,
                      int32_t& value, std::string* fault) {
    if (fault != nullptr)
        fault->clear();
    try {
        std::string why;
        const std::optional<RegistryKey> key =
            RegistryKey::openForRead(SystemInfo::currentRoot(), subKey, &why, view);
        if (!key)
            return notOpened(why, fault);
        RegistryType type = RegistryType::None;
        std::string bytes;
        if (!key->query(valueName, type, bytes))
            return SI_MISSING;
        if (type != RegistryType::Dword)
            return SI_WRONG_TYPE;
        // A value shorter than 4 bytes is zero-filled rather than read past its end.
        value = static_cast<int32_t>(static_cast<uint32_t>(littleEndianNumber(bytes, 4)));
        return SI_OK;
    } catch (const std::bad_alloc&) {
        return SI_MISSING;
    }
}

} // namespace

int32_t SystemInfo::readString(const std::string& subKey, const std::string& valueName,
                               std::string& value, std::string* fault) {
    try {
        ExpansionChain chain;
        std::string why;
        const int32_t result = readExpanded(subKey, valueName, value, chain, why);
        if (fault != nullptr)
            *fault = why;
        return result;
    } catch (const std::bad_alloc&) {
        return SI_FAILED;
    }
}

int32_t SystemInfo::readInteger(const std::string& subKey, const std::string& valueName,
                                int32_t& value, std::string* fault) {
    return readIntegerIn(RegistryView::Merged, subKey, valueName, value, fault);
}

int32_t SystemInfo::readMachineInteger(const std::string& subKey, const std::string& valueName,
                                       int32_t& value, std::string* fault) {
    return readIntegerIn(RegistryView::MachineOnly, subKey, valueName, value, fault);
}

int32_t SystemInfo::writeValue(const std::string& subKey, const std::string& valueName,
                               RegistryType type, const void* bytes, uint32_t byteCount) {
    try {
        std::optional<RegistryKey> key = RegistryKey::createForWrite(currentRoot(), subKey);
        if (!key)
            return SI_FAILED;
        return key->set(valueName, type, bytes, byteCount) ? SI_OK : SI_FAILED;
    } catch (const std::bad_alloc&) {
        return SI_FAILED;
    }
}

int32_t SystemInfo::writeValue(const std::string& subKey, const std::string& valueName,
                               const std::string& text) {
    return writeValue(subKey, valueName, RegistryType::String, text.data(),
                      static_cast<uint32_t>(text.size()));
}

int32_t SystemInfo::writeValue(const std::string& subKey, const std::string& valueName,
                               int32_t value) {
    const std::string bytes = dwordBytes(static_cast<uint32_t>(value));
    return writeValue(subKey, valueName, RegistryType::Dword, bytes.data(), 4);
}

int32_t SystemInfo::readResourceString(const std::string& valueName, std::string& value) {
    return readString(kResourceKey, valueName, value);
}

int32_t SystemInfo::readResourceInteger(const std::string& valueName, int32_t& value) {
    return readInteger(kResourceKey, valueName, value);
}

int32_t SystemInfo::writeResourceString(const std::string& valueName, const std::string& text) {
    return writeValue(kResourceKey, valueName, text);
}

int32_t SystemInfo::readResourceFolder(const std::string& valueName, FolderValue& folder) {
    folder = FolderValue();
    try {
        ExpansionChain chain;
        std::string text;
        RegistryType type = RegistryType::None;
        const int32_t result =
            readExpanded(kResourceKey, valueName, text, chain, folder.problem, &type);
        if (result == SI_WRONG_TYPE)
            folder.problem = "the registry value \"" + valueName + "\" is a " +
                             registryTypeName(type) + ", not a folder's name (REG_SZ or " +
                             "REG_EXPAND_SZ)";
        if (result != SI_OK)
            return result;
        if (type != RegistryType::ExpandString) {
            folder.path = std::move(text);
            return SI_OK;
        }
        std::string unset;
        if (!expandEnvironmentText(text, folder.path, unset)) {
            folder.problem = "the registry value \"" + valueName + "\" (" + text +
                             ") names the environment variable \"" + unset +
                             "\", which is not set";
            return SI_UNEXPANDABLE;
        }
        folder.expanded = true;
        return SI_OK;
    } catch (const std::bad_alloc&) {
        return SI_FAILED;
    }
}

int32_t SystemInfo::readRaw(const std::string& subKey, const std::string& valueName,
                            RegistryType& type, std::string& bytes, bool machineOnly) {
    try {
        const std::optional<RegistryKey> key = RegistryKey::openForRead(
            currentRoot(), subKey, nullptr,
            machineOnly ? RegistryView::MachineOnly : RegistryView::Merged);
        return key && key->query(valueName, type, bytes) ? SI_OK : SI_MISSING;
    } catch (const std::bad_alloc&) {
        return SI_FAILED;
    }
}

bool SystemInfo::writesAccountValues(const std::string& subKey) {
    return RegistryKey::writesAccountStore(currentRoot(), subKey);
}

std::string SystemInfo::accountValuesName(const std::string& subKey) {
    return RegistryKey::accountStoreName(subKey);
}

RegistryRoot SystemInfo::currentRoot() {
    return currentRootKey.load();
}

void SystemInfo::setCurrentRoot(RegistryRoot root) {
    currentRootKey.store(root);
}

} // namespace Kalvor
