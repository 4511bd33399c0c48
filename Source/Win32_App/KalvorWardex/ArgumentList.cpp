#include "Win32_App/KalvorWardex/ArgumentList.h"

#include "Common/StringUtils.h"

namespace Kalvor {

namespace {

class Scanner {
public:
    Scanner(const std::string& text, std::size_t start, const std::string& markers)
        : text_(text), position_(start), markers_(markers) {}

    bool skipBlanks() {
        while (position_ < text_.size() && isBlank(text_[position_]))
            ++position_;
        return position_ < text_.size();
    }
    bool atMarker() const {
        return position_ < text_.size() && markers_.find(text_[position_]) != std::string::npos;
    }
    void skipMarkers() {
        while (atMarker())
            ++position_;
    }
    // One word up to the next blank outside quotes, quotes removed.
    std::string word() {
        std::string result;
        bool quoted = false;
        for (; position_ < text_.size(); ++position_) {
            const char byte = text_[position_];
            if (byte == '"')
                quoted = !quoted;
            else if (!quoted && isBlank(byte))
                break;
            else
                result += byte;
        }
        return result;
    }

private:
    const std::string& text_;
    std::size_t position_;
    const std::string& markers_;
};

} // namespace

std::vector<Argument> splitArguments(const std::string& text, const std::string& placeholder,
                                     const std::string& markers) {
    std::vector<Argument> entries;
    std::size_t start = 0;
    if (!placeholder.empty() && text.compare(0, placeholder.size(), placeholder) == 0) {
        entries.push_back({"", placeholder});
        start = placeholder.size();
    }
    Scanner scanner(text, start, markers);
    while (scanner.skipBlanks()) {
        if (!scanner.atMarker()) {
            entries.push_back({"", scanner.word()});
            continue;
        }
        scanner.skipMarkers();
        Argument entry{scanner.word(), ""};
        if (scanner.skipBlanks() && !scanner.atMarker())
            entry.value = scanner.word();
        entries.push_back(entry);
    }
    return entries;
}

std::string joinArguments(const std::vector<std::string>& arguments) {
    std::string line;
    for (const std::string& argument : arguments) {
        if (!line.empty())
            line += ' ';
        const bool quote = argument.empty() || argument.find(' ') != std::string::npos ||
                           argument.find('\t') != std::string::npos;
        line += quote ? "\"" + argument + "\"" : argument;
    }
    return line;
}

} // namespace Kalvor
