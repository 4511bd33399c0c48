// The typed lookups of ConfReader.
#include "Config/ConfReader.h"

#include "Common/Exception.h"
#include "Common/StringUtils.h"
#include "Config/ConfNode.h"
#include "Config/ConfReferences.h"
#include "File/FileUtils.h"
#include "Logger/LogState.h"
#include "Logger/LoggerUnit.h"

#include <limits>

namespace Kalvor {

namespace {

// A lookup's trace lines cost more to build than the lookup itself, and a walk over thousands of
// entries makes thousands of them: they are built only when they would be logged.
bool tracing() {
    return LogState::debugLevel() >= 5;
}

// atol's reading (blanks, an optional sign, the digits up to the first other byte), with a
// number beyond the 32-bit range held at its nearer end instead of overflowing.
int32_t clampedDecimal(const std::string& text) {
    std::size_t i = 0;
    while (i < text.size() && isBlank(text[i]))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    const int64_t limit = negative ? -int64_t{std::numeric_limits<int32_t>::min()}
                                   : int64_t{std::numeric_limits<int32_t>::max()};
    int64_t magnitude = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        magnitude = magnitude * 10 + (text[i] - '0');
        if (magnitude >= limit) {
            magnitude = limit;
            break;
        }
    }
    return static_cast<int32_t>(negative ? -magnitude : magnitude);
}

} // namespace

int32_t ConfReader::getRaw(const std::string& key, const std::string& typeName,
                           std::string& value) const {
    if (tracing())
        logger_->debug(5, "ConfReader: Getting %s %s...", LogParams().add(typeName).add(key));
    const ConfNode* node = findNode(key);
    if (node == nullptr) {
        logger_->debug(5, "ConfReader: Not found.");
        return CONF_MISSING;
    }
    if (node->type().empty()) {
        logger_->debug(5, "ConfReader: Found, but has no value.");
        return CONF_NO_TYPE;
    }
    if (node->type() != typeName) {
        logger_->debug(1, "ConfReader: Found, but type is \"%s\", not \"%s\".",
                       LogParams().add(node->type()).add(typeName));
        return CONF_WRONG_TYPE;
    }
    std::string text = node->value();
    if (tracing())
        logger_->debug(5, "ConfReader: Got raw value \"%s\".", LogParams().add(text));
    const int32_t expanded = expandReferences(*root_, *logger_, key, text);
    if (expanded != CONF_FOUND)
        return expanded;

    if (typeName == "DirName" && !text.empty()) {
        FileUtils::normaliseSeparators(text);
        FileUtils::ensureTrailingSeparator(text);
    } else if (typeName == "FileName") {
        FileUtils::normaliseSeparators(text);
    }
    if (tracing())
        logger_->debug(5, "ConfReader: Got final value \"%s\".", LogParams().add(text));
    value = std::move(text);
    return CONF_FOUND;
}

int32_t ConfReader::getString(const std::string& key, std::string& value, bool trimBlanks,
                              bool lowerCase) const {
    std::string text;
    const int32_t result = getRaw(key, "String", text);
    if (result != CONF_FOUND)
        return result;
    if (trimBlanks)
        trim(text);
    if (lowerCase)
        toLower(text);
    value = std::move(text);
    return CONF_FOUND;
}

int32_t ConfReader::getBool(const std::string& key, bool& value) const {
    std::string text;
    const int32_t result = getRaw(key, "Bool", text);
    if (result != CONF_FOUND)
        return result;
    if (text != "true" && text != "false")
        return CONF_NOT_BOOL;
    value = text == "true";
    return CONF_FOUND;
}

int32_t ConfReader::getInteger(const std::string& key, int32_t& value) const {
    std::string text;
    const int32_t result = getRaw(key, "Integer", text);
    if (result == CONF_FOUND)
        value = clampedDecimal(text);
    return result;
}

int32_t ConfReader::getDirName(const std::string& key, std::string& value) const {
    std::string text;
    const int32_t result = getRaw(key, "DirName", text);
    if (result != CONF_FOUND)
        return result;
    trim(text);
    value = std::move(text);
    return CONF_FOUND;
}

int32_t ConfReader::getTimeSpan(const std::string& key, DurationRecord& value) const {
    std::string text;
    const int32_t result = getRaw(key, "TimeSpan", text);
    if (result != CONF_FOUND)
        return result;
    try {
        value = TimeSpan::parse(text);
    } catch (const TimeException&) {
        return CONF_NOT_DURATION;
    }
    return CONF_FOUND;
}

} // namespace Kalvor
