#include "Common/EnvironmentText.h"

#include "Common/UserFolders.h"

namespace Kalvor {

bool expandEnvironmentText(const std::string& text, std::string& expanded, std::string& unset) {
    std::string result;
    std::size_t from = 0;
    for (;;) {
        const std::size_t open = text.find('%', from);
        const std::size_t close = open == std::string::npos ? open : text.find('%', open + 1);
        if (close == std::string::npos) {
            result.append(text, from, std::string::npos);
            break;
        }
        result.append(text, from, open - from);
        const std::string name = text.substr(open + 1, close - open - 1);
        if (name.empty()) {
            // "%%" names nothing: the first stays, the second may open a reference.
            result += '%';
            from = close;
            continue;
        }
        const std::optional<std::string> value = environmentValue(name);
        if (!value) {
            unset = name;
            return false;
        }
        result += *value;
        from = close + 1;
    }
    expanded = std::move(result);
    return true;
}

} // namespace Kalvor
