// libFuzzer target: any bytes as a message catalog text, each line read by parseCatalogLine and
// the whole text stored by MessageCatalog::addText. The answers are checked against a reading of
// the catalog rules written here; traps when they differ.
#include "Logger/LogCommons.h"

#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>

namespace {

void check(bool condition) {
    if (!condition)
        __builtin_trap();
}

bool blank(char byte) {
    return static_cast<unsigned char>(byte) <= 32;
}

std::size_t firstNonBlank(const std::string& text) {
    std::size_t at = 0;
    while (at < text.size() && blank(text[at]))
        ++at;
    return at;
}

// atoi's reading through strtoll, which saturates where atoi would be undefined.
int32_t referenceNumber(const std::string& part) {
    const std::string digits = part.substr(firstNonBlank(part));
    const long long value = std::strtoll(digits.c_str(), nullptr, 10);
    return value < INT32_MIN ? INT32_MIN : value > INT32_MAX ? INT32_MAX : int32_t(value);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    using namespace Kalvor;
    const std::string text(reinterpret_cast<const char*>(data), size);
    constexpr int32_t kModule = LogCommons::kLoggerModule;

    std::map<int32_t, std::string> expected;
    int32_t storedLines = 0;
    for (std::size_t start = 0; start < text.size();) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        const std::string line = text.substr(start, end - start);
        start = end + 1;

        int32_t number = -1;
        std::string message = "<untouched>";
        const bool stored = LogCommons::parseCatalogLine(line, number, message);
        const std::size_t colon = line.find(':');
        check(stored == (colon != std::string::npos && line.compare(0, 2, "//") != 0));
        if (!stored)
            continue;

        check(number == referenceNumber(line.substr(0, colon)));
        // The text is what follows the colon, without blanks around it.
        const std::string after = line.substr(colon + 1);
        const std::size_t from = firstNonBlank(after);
        check(after.compare(from, message.size(), message) == 0);
        const std::string tail = after.substr(from + message.size());
        check(firstNonBlank(tail) == tail.size());
        check(message.empty() || (!blank(message.front()) && !blank(message.back())));

        expected[number] = message;
        ++storedLines;
    }

    MessageCatalog catalog;
    check(catalog.addText(kModule, text) == storedLines);
    check(catalog.size() == expected.size());
    for (const auto& [number, message] : expected) {
        check(catalog.find(kModule, number) == message);
        // Keys of one module never answer for another.
        check(!catalog.find(kModule + 1, number));
    }
    return 0;
}
