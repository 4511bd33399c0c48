// Splits configuration text into spans: tokens, and the runs of blanks between them.
//
// A token is a delimiter byte ("=", "(", ")", "{", "}" or the newline), a quoted text with its
// quotes (a backslash hides the byte after it; an unclosed quote runs to the end), a comment
// ("#" or "//" to the end of the line, "/*" through "*/") or a run of other non-blank bytes.
// A blank run holds one and the same blank byte repeated (bytes 0-32 but the newline). Comments
// are tokens like any other: the grammar gives them no meaning of its own.
#pragma once

#include <cstddef>
#include <string>

namespace Kalvor {

class ConfTokenizer {
public:
    struct Span {
        std::size_t begin = 0;
        std::size_t end = 0; // one past the last byte
        bool isToken = false;
    };

    // The text must outlive the tokenizer.
    explicit ConfTokenizer(const std::string& text) : text_(text) {}

    // The span at the current position, which then moves past it; false at the end of the text.
    bool next(Span& span);

private:
    std::size_t tokenEnd(std::size_t start) const;
    std::size_t quotedEnd(std::size_t start) const;
    std::size_t commentEnd(std::size_t start) const;

    const std::string& text_;
    std::size_t position_ = 0;
};

} // namespace Kalvor
