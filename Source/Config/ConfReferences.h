// Expansion of the "${other.key}" references inside a configuration value.
//
// Each reference is replaced by the referenced node's stored value (a DirName value gains a
// trailing separator first), and the search starts again from the front, so references the
// inserted text brings in are expanded too. Text that came in through a reference remembers the
// chain of keys it came through: a reference to a key already on its chain is a cycle and ends
// the expansion, as does growth past kMaxReferences substitutions or kMaxExpandedBytes of text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace Kalvor {

class ConfNode;
class LoggerUnit;

inline constexpr int32_t kMaxReferences = 1000;
inline constexpr std::size_t kMaxExpandedBytes = 65536;

// `key` is the key whose value is expanded, for the log and as the first link of every chain.
// Returns a ConfResult; on any code but CONF_FOUND `value` is unspecified.
int32_t expandReferences(const ConfNode& root, const LoggerUnit& logger, const std::string& key,
                         std::string& value);

} // namespace Kalvor
