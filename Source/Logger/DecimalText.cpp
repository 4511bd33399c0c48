#include "Logger/DecimalText.h"

#include "Common/StringUtils.h"

#include <climits>

namespace Kalvor {

int64_t leadingDecimal64(const std::string& text) {
    constexpr int64_t kLimit = int64_t(1) << 40;
    std::size_t at = 0;
    while (at < text.size() && isBlank(text[at]))
        ++at;
    bool negative = false;
    if (at < text.size() && (text[at] == '+' || text[at] == '-'))
        negative = text[at++] == '-';
    int64_t value = 0;
    for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at)
        value = value < kLimit ? value * 10 + (text[at] - '0') : kLimit;
    if (value > kLimit)
        value = kLimit;
    return negative ? -value : value;
}

int32_t leadingDecimal(const std::string& text) {
    const int64_t value = leadingDecimal64(text);
    return value < INT32_MIN ? INT32_MIN : value > INT32_MAX ? INT32_MAX : int32_t(value);
}

} // namespace Kalvor
