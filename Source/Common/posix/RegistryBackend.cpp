#include "Common/RegistryBackend.h"

#include "Common/posix/RegistryStore.h"

namespace Kalvor {

// A key opened for reading carries the hive as loaded (merged or the machine's). One opened for
// writing is only its address: each set() is one locked rewrite of the file this account writes
// that also creates the key, so that a write costs one rewrite and not two.
struct RegistryKey::Native {
    Native(RegistryRoot root, std::string keyPath) : path(std::move(keyPath)), hive(root) {}

    std::string path;
    RegistryHive hive;
};

bool RegistryKey::writesAccountStore(RegistryRoot, const std::string&) {
    return !RegistryStore::writesMachineFiles();
}

std::string RegistryKey::accountStoreName(const std::string&) {
    return RegistryStore::accountDirectory();
}

RegistryKey::RegistryKey(std::unique_ptr<Native> native) : native_(std::move(native)) {}
RegistryKey::RegistryKey(RegistryKey&&) noexcept = default;
RegistryKey& RegistryKey::operator=(RegistryKey&&) noexcept = default;
RegistryKey::~RegistryKey() = default;

std::optional<RegistryKey> RegistryKey::openForRead(RegistryRoot root, const std::string& subKey,
                                                    std::string* fault, RegistryView view) {
    auto native = std::make_unique<Native>(root, RegistryHive::normalizePath(subKey));
    const StoreResult loaded = view == RegistryView::MachineOnly
                                   ? RegistryStore::loadMachine(root, native->hive)
                                   : RegistryStore::load(root, native->hive);
    if (fault != nullptr)
        *fault = loaded.ok() ? std::string() : loaded.message;
    if (!loaded.ok() || !native->hive.keyExists(native->path))
        return std::nullopt;
    return RegistryKey(std::move(native));
}

std::optional<RegistryKey> RegistryKey::createForWrite(RegistryRoot root,
                                                       const std::string& subKey) {
    auto native = std::make_unique<Native>(root, RegistryHive::normalizePath(subKey));
    if (!RegistryHive::isStorableName(native->path))
        return std::nullopt;
    return RegistryKey(std::move(native));
}

bool RegistryKey::query(const std::string& valueName, RegistryType& type,
                        std::string& bytes) const {
    const RegistryValue* value = native_->hive.findValue(native_->path, valueName);
    if (value == nullptr)
        return false;
    type = value->type;
    bytes = value->data;
    return true;
}

bool RegistryKey::set(const std::string& valueName, RegistryType type, const void* bytes,
                      uint32_t byteCount) {
    if (!RegistryHive::isStorableName(valueName))
        return false;
    RegistryValue value{valueName, type,
                        byteCount == 0 ? std::string()
                                       : std::string(static_cast<const char*>(bytes), byteCount)};
    // Should another process delete the key after it was opened, this creates it again where
    // Windows would refuse the write.
    return RegistryStore::update(
               native_->hive.root(),
               [&](RegistryHive& hive) { return hive.setValue(native_->path, value); })
        .ok();
}

} // namespace Kalvor
