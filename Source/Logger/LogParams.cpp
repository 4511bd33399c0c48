#include "Logger/LogParams.h"

#include "Common/StringUtils.h"
#include "Logger/LogRecord.h"

#include <vector>

namespace Kalvor {
namespace {

constexpr const char* kMissingParameter = "<?}";

char expectedTypeLetter(char placeholder) {
    switch (placeholder) {
    case 'd':
        return 'e'; // no parameter carries "e": "%d" always shows its value between backslashes
    case 'f':
    case 'i':
        return 'n';
    case 'p':
        return 'p';
    case 's':
        return 's';
    default:
        return '?';
    }
}

// The bytes that structure a list or a wire text, or end it for the core process.
bool isStructureByte(char byte) {
    return byte == '\0' || byte == LogParams::kSeparator || byte == LogParams::kAltSeparator ||
           byte == LogRecord::kFieldSeparator;
}

} // namespace

LogParams& LogParams::add(const std::string& text) {
    const bool terminated = !text.empty() && text.back() == kSeparator;
    encoded_ += 's';
    encoded_ += escapeBytes(terminated ? text.substr(0, text.size() - 1) : text, isStructureByte);
    encoded_ += kSeparator;
    return *this;
}

LogParams& LogParams::add(const char* text) {
    return add(std::string(text != nullptr ? text : ""));
}

std::string substitutePlaceholders(const std::string& format, const std::string& parameters) {
    std::vector<std::string> values;
    split(parameters, LogParams::kSeparator, values);
    std::size_t next = 0;
    std::string out;
    out.reserve(format.size() + parameters.size());
    for (std::size_t at = 0; at < format.size(); ++at) {
        if (format[at] != '%') {
            out += format[at];
            continue;
        }
        if (at + 1 < format.size() && format[at + 1] == '%') {
            out += '%';
            ++at;
            continue;
        }
        if (at + 1 == format.size() || next == values.size()) {
            out += kMissingParameter;
            ++at;
            continue;
        }
        const std::string& value = values[next++];
        const char expected = expectedTypeLetter(format[++at]);
        const std::string shown = value.empty() ? value : value.substr(1);
        if (expected != '?' && !value.empty() && value.front() == expected)
            out += shown;
        else
            out += "\\" + shown + "\\";
    }
    return out;
}

std::string renderRawParameters(const std::string& parameters) {
    std::string out;
    out.reserve(parameters.size() * 2);
    for (std::size_t at = 1; at < parameters.size(); ++at) {
        const char byte = parameters[at];
        if (byte == LogParams::kSeparator || byte == LogParams::kAltSeparator) {
            out += "  ";
            ++at; // the next parameter's type letter
        } else {
            out += byte;
        }
    }
    return out;
}

} // namespace Kalvor
