#include "Common/StringUtils.h"

#include <cctype>

namespace Kalvor {

bool isBlank(char byte) { return static_cast<unsigned char>(byte) <= 32; }

std::size_t trimLeft(std::string& text) {
    std::size_t count = 0;
    while (count < text.size() && isBlank(text[count]))
        ++count;
    text.erase(0, count);
    return count;
}

std::size_t trimRight(std::string& text) {
    std::size_t keep = text.size();
    while (keep > 0 && isBlank(text[keep - 1]))
        --keep;
    const std::size_t count = text.size() - keep;
    text.resize(keep);
    return count;
}

std::size_t trim(std::string& text) {
    const std::size_t right = trimRight(text);
    return right + trimLeft(text);
}

void toLower(std::string& text) {
    for (char& byte : text)
        byte = static_cast<char>(std::tolower(static_cast<unsigned char>(byte)));
}

std::string lowerCopy(const std::string& text) {
    std::string copy = text;
    toLower(copy);
    return copy;
}

void unquote(std::string& text) {
    if (text.empty())
        return;
    const char first = text.front();
    if ((first == '"' || first == '\'') && text.back() == first) {
        text.pop_back();
        if (!text.empty())
            text.erase(0, 1);
    }
}

std::size_t countChar(char byte, const std::string& text, std::size_t start, std::size_t length) {
    if (start >= text.size())
        return 0;
    const std::size_t end = length > text.size() - start ? text.size() : start + length;
    std::size_t count = 0;
    for (std::size_t i = start; i < end; ++i)
        count += text[i] == byte;
    return count;
}

std::size_t replaceChar(std::string& text, char from, char to) {
    std::size_t count = 0;
    for (char& byte : text) {
        if (byte == from) {
            byte = to;
            ++count;
        }
    }
    return count;
}

void padRight(std::string& text, std::size_t length, char fill) {
    if (text.size() < length)
        text.append(length - text.size(), fill);
}

std::string cutField(std::string& text, char separator) {
    const auto at = text.find(separator);
    std::string field;
    if (at == std::string::npos) {
        field.swap(text);
    } else {
        field = text.substr(0, at);
        text.erase(0, at + 1);
    }
    return field;
}

void split(const std::string& text, char separator, std::vector<std::string>& parts,
           std::size_t maxParts) {
    parts.clear();
    std::size_t begin = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (maxParts > 0 && parts.size() + 1 == maxParts)
            break;
        if (text[i] == separator) {
            parts.push_back(text.substr(begin, i - begin));
            begin = i + 1;
        }
    }
    if (begin < text.size())
        parts.push_back(text.substr(begin));
}

bool matchesAt(const std::string& text, std::size_t offset, const std::string& pattern) {
    return offset <= text.size() && text.size() - offset >= pattern.size() &&
           text.compare(offset, pattern.size(), pattern) == 0;
}

std::string intToString(int32_t value) { return std::to_string(value); }

std::string escapeBytes(const std::string& text, bool (*escaped)(char byte)) {
    static constexpr char kHexDigits[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size());
    for (const char byte : text) {
        if (!escaped(byte)) {
            out += byte;
        } else if (byte == '\r') {
            out += "\\r";
        } else if (byte == '\n') {
            out += "\\n";
        } else {
            const auto value = static_cast<unsigned char>(byte);
            out += "\\x";
            out += kHexDigits[value >> 4];
            out += kHexDigits[value & 0xF];
        }
    }
    return out;
}

std::string quotedExcerpt(const std::string& text, std::size_t limit) {
    if (text.size() <= limit)
        return text;
    return text.substr(0, limit) + "\xE2\x80\xA6(" + std::to_string(text.size()) + " bytes)";
}

} // namespace Kalvor
