#include "Config/ConfReferences.h"

#include "Config/ConfNode.h"
#include "Config/ConfReader.h"
#include "File/FileUtils.h"
#include "Logger/LoggerUnit.h"

#include <vector>

namespace Kalvor {

namespace {

constexpr int32_t kUnclosedReferenceMessage = 3;

// Where a stretch of the value came from: the key whose stored value it is, and the origin of
// the reference that brought it in (-1 for the value being expanded).
struct Origin {
    std::string key;
    int32_t parent;
};

bool onChain(const std::vector<Origin>& origins, int32_t origin, const std::string& key) {
    for (; origin >= 0; origin = origins[static_cast<std::size_t>(origin)].parent) {
        if (origins[static_cast<std::size_t>(origin)].key == key)
            return true;
    }
    return false;
}

} // namespace

int32_t expandReferences(const ConfNode& root, const LoggerUnit& logger, const std::string& key,
                         std::string& value) {
    // Most values hold no reference: they cost no bookkeeping.
    if (value.find("${") == std::string::npos)
        return CONF_FOUND;
    std::vector<Origin> origins{{key, -1}};
    // The origin of every byte of `value`, index into `origins`.
    std::vector<int32_t> byteOrigins(value.size(), 0);
    int32_t substitutions = 0;

    for (std::size_t start = value.find("${"); start != std::string::npos;
         start = value.find("${")) {
        const std::size_t close = value.find('}', start);
        if (close == std::string::npos) {
            logger.warning(kUnclosedReferenceMessage, LogParams().add(key));
            return CONF_UNCLOSED_REFERENCE;
        }
        const std::string reference = value.substr(start + 2, close - start - 2);
        const ConfNode* node = root.find(reference);
        if (node == nullptr) {
            logger.debug(5, "ConfReader: Found, but reference inside value was not.");
            return CONF_MISSING;
        }
        if (node->type().empty()) {
            logger.debug(5, "ConfReader: Found, but reference inside value didn't have a value.");
            return CONF_NO_TYPE;
        }
        std::string replacement = node->value();
        logger.debug(5, "ConfReader: Reference \"%s\" = \"%s\".",
                     LogParams().add(reference).add(replacement));

        const int32_t origin = byteOrigins[start];
        if (onChain(origins, origin, reference)) {
            logger.debug(1, "ConfReader: Reference \"%s\" in the value of \"%s\" makes a cycle.",
                         LogParams().add(reference).add(key));
            return CONF_ENDLESS_EXPANSION;
        }
        // An empty directory stays empty: with a separator it would name the root.
        if (node->type() == "DirName" && !replacement.empty())
            FileUtils::ensureTrailingSeparator(replacement);
        const std::size_t replaced = close + 1 - start;
        if (++substitutions > kMaxReferences ||
            value.size() - replaced + replacement.size() > kMaxExpandedBytes) {
            logger.debug(1, "ConfReader: Expansion of \"%s\" stopped at %i references or %i bytes.",
                         LogParams().add(key).add(kMaxReferences).add(kMaxExpandedBytes));
            return CONF_ENDLESS_EXPANSION;
        }

        origins.push_back({reference, origin});
        const auto at = byteOrigins.begin() + static_cast<std::ptrdiff_t>(start);
        byteOrigins.erase(at, at + static_cast<std::ptrdiff_t>(replaced));
        byteOrigins.insert(byteOrigins.begin() + static_cast<std::ptrdiff_t>(start),
                           replacement.size(), static_cast<int32_t>(origins.size() - 1));
        value.replace(start, replaced, replacement);
    }
    return CONF_FOUND;
}

} // namespace Kalvor
