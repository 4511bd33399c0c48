// The parameter list of a catalog entry or a formatted debug entry, and the two ways the list is
// read back: placeholder substitution into a message text, and the raw rendering shown when the
// message is missing.
//
// Encoding: per parameter one type letter ("s" text, "n" number), the value as text, and the
// separator byte 0x1A. A text that already ends in 0x1A gets no second separator. Lists travel
// inside the log wire text and to the core process, so the encoding is an external format.
// Texts come from anywhere, received messages too: the zero byte and 0x1A-0x1C inside a text
// are written escaped ("\x00", "\x1a", "\x1b", "\x1c"), so a text is always one parameter
// and cannot end or shift a field of the wire text.
#pragma once

#include <sstream>
#include <string>
#include <type_traits>

namespace Kalvor {

class LogParams {
public:
    static constexpr char kSeparator = '\x1A';
    // Read like kSeparator by the raw rendering.
    static constexpr char kAltSeparator = '\x1B';

    LogParams() = default;

    LogParams& add(const std::string& text);
    // A null pointer is an empty text.
    LogParams& add(const char* text);
    // Any integer but char and bool, written as a standard stream writes it.
    template <typename Integer, typename = std::enable_if_t<std::is_integral_v<Integer> &&
                                                            !std::is_same_v<Integer, bool> &&
                                                            !std::is_same_v<Integer, char>>>
    LogParams& add(Integer value) {
        std::ostringstream text;
        text << +value;
        encoded_ += 'n';
        encoded_ += text.str();
        encoded_ += kSeparator;
        return *this;
    }

    template <typename Value> LogParams& operator<<(const Value& value) { return add(value); }

    std::string text() const { return encoded_; }
    bool empty() const { return encoded_.empty(); }

private:
    std::string encoded_;
};

// Fills the placeholders of `format` from the encoded list: "%s" takes a text, "%i" and "%f" a
// number, "%%" writes "%". A parameter of another type than expected (and every "%d", "%p" or
// unknown letter that finds none of its own) is written between backslashes; a placeholder
// without a parameter left, or a "%" that ends the format, writes "<?}".
std::string substitutePlaceholders(const std::string& format, const std::string& parameters);

// The list as a reader sees it: type letters dropped, each separator shown as two blanks.
std::string renderRawParameters(const std::string& parameters);

} // namespace Kalvor
