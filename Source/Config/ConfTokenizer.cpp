#include "Config/ConfTokenizer.h"

#include "Common/StringUtils.h"

#include <cstring>

namespace Kalvor {

namespace {

bool isDelimiter(char byte) {
    return byte != '\0' && std::strchr("=(){}\n", byte) != nullptr;
}

bool isQuote(char byte) {
    return byte == '"' || byte == '\'';
}

} // namespace

bool ConfTokenizer::next(Span& span) {
    const std::size_t start = position_;
    if (start >= text_.size())
        return false;
    const char first = text_[start];
    span.begin = start;
    span.isToken = true;
    if (isBlank(first) && first != '\n') {
        std::size_t end = start + 1;
        while (end < text_.size() && text_[end] == first)
            ++end;
        span.end = end;
        span.isToken = false;
    } else if (first == '#') {
        const std::size_t newline = text_.find('\n', start);
        span.end = newline == std::string::npos ? text_.size() : newline;
    } else {
        span.end = tokenEnd(start);
    }
    position_ = span.end;
    return true;
}

std::size_t ConfTokenizer::tokenEnd(std::size_t start) const {
    for (std::size_t i = start; i < text_.size(); ++i) {
        const char byte = text_[i];
        if (isQuote(byte))
            return i == start ? quotedEnd(start) : i;
        if (byte == '/' && i + 1 < text_.size() && (text_[i + 1] == '/' || text_[i + 1] == '*'))
            return i == start ? commentEnd(start) : i;
        if (isDelimiter(byte))
            return i == start ? start + 1 : i;
        if (isBlank(byte))
            return i;
    }
    return text_.size();
}

std::size_t ConfTokenizer::quotedEnd(std::size_t start) const {
    const char quote = text_[start];
    std::size_t i = start + 1;
    while (i < text_.size()) {
        if (text_[i] == '\\')
            i += 2;
        else if (text_[i] == quote)
            return i + 1;
        else
            ++i;
    }
    return text_.size();
}

std::size_t ConfTokenizer::commentEnd(std::size_t start) const {
    if (text_[start + 1] == '*') {
        const std::size_t close = text_.find("*/", start + 2);
        return close == std::string::npos ? text_.size() : close + 2;
    }
    const std::size_t newline = text_.find('\n', start);
    if (newline == std::string::npos)
        return text_.size();
    // A "\r\n" line end stays outside the comment, as a blank span.
    return newline > start + 2 && text_[newline - 1] == '\r' ? newline - 1 : newline;
}

} // namespace Kalvor
