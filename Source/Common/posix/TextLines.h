// The lines of a REGEDIT4 text, for the hive parser and for kalvor-reg's import alike: split at
// LF with a CR before the LF dropped, counted so that an error can name its line.
#pragma once

#include <cstddef>
#include <string_view>

namespace Kalvor {

class TextLines {
public:
    explicit TextLines(std::string_view text) : text_(text) {}

    bool next(std::string_view& line) {
        if (position_ >= text_.size())
            return false;
        std::size_t end = text_.find('\n', position_);
        if (end == std::string_view::npos)
            end = text_.size();
        line = text_.substr(position_, end - position_);
        position_ = end + 1;
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        ++number_;
        return true;
    }
    // The number of the line last handed out, from 1.
    std::size_t number() const { return number_; }

private:
    std::string_view text_;
    std::size_t position_ = 0;
    std::size_t number_ = 0;
};

// Without the spaces and tabs around it.
inline std::string_view trimBlanks(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

} // namespace Kalvor
