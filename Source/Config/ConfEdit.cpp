#include "Config/ConfEdit.h"

#include "Common/Exception.h"
#include "Config/ConfParser.h"

#include <memory>

namespace Kalvor::ConfEdit {

namespace {

const char* const kSkeleton = "wardex() = '' {\n  monitor() = '' {\n  }\n}\n";

// The tree of the text; null with `why` when it does not parse.
std::unique_ptr<ConfNode> parsed(const std::string& text, std::string& why) {
    auto root = std::make_unique<ConfNode>("Root");
    ConfParser parser(text);
    try {
        parser.parse(*root);
    } catch (const ConfigException& error) {
        why = "line " + std::to_string(parser.line()) + ": " +
              (error.detail().empty() ? error.describe() : error.detail());
        return nullptr;
    }
    return root;
}

// In the quotes the value does not hold, each backslash doubled: the reader takes a backslash
// and hides the byte after it, and no quote inside the value can be hidden. Empty when the value
// holds both quotes.
std::string quotedValue(const std::string& value) {
    const char quote = value.find('\'') == std::string::npos   ? '\''
                       : value.find('"') == std::string::npos ? '"'
                                                              : '\0';
    if (quote == '\0')
        return "";
    std::string quoted(1, quote);
    for (const char byte : value) {
        if (byte == '\\')
            quoted += '\\';
        quoted += byte;
    }
    return quoted + quote;
}

std::size_t lineStart(const std::string& text, std::size_t at) {
    const std::size_t newline = at == 0 ? std::string::npos : text.rfind('\n', at - 1);
    return newline == std::string::npos ? 0 : newline + 1;
}

bool onlyBlanks(const std::string& text, std::size_t from, std::size_t to) {
    return text.find_first_not_of(" \t", from) >= to;
}

} // namespace

bool addApplication(const std::string& given, const std::string& name, const Keys& keys,
                    std::string& result, std::string& why) {
    const std::string text = given.empty() ? std::string(kSkeleton) : given;
    const std::unique_ptr<ConfNode> root = parsed(text, why);
    if (!root)
        return false;
    const ConfNode* monitor = root->find("wardex.monitor");
    if (monitor == nullptr || monitor->end() == 0 || text[monitor->end() - 1] != '}') {
        why = "the file has no closed \"wardex.monitor\" body";
        return false;
    }
    if (monitor->findChild(name) != nullptr) {
        why = "\"" + name + "\" is listed already";
        return false;
    }
    const std::size_t close = monitor->end() - 1;
    const std::size_t start = lineStart(text, close);
    const bool ownLine = onlyBlanks(text, start, close);
    const std::string eol = text.find("\r\n") != std::string::npos ? "\r\n" : "\n";
    const std::string indent = (ownLine ? text.substr(start, close - start) : "") + "  ";
    std::string entry = indent + name + "() = '' {" + eol;
    for (const auto& [key, value] : keys) {
        const std::string quoted = quotedValue(value);
        if (quoted.empty()) {
            why = "a value cannot hold both ' and \" (" + key + ")";
            return false;
        }
        entry += indent + "  " + key + " = " + quoted + " { }" + eol;
    }
    entry += indent + "}" + eol;
    result = ownLine ? text.substr(0, start) + entry + text.substr(start)
                     : text.substr(0, close) + eol + entry + text.substr(close);
    return true;
}

bool removeApplication(const std::string& text, const std::string& name, std::string& result,
                       std::string& why) {
    const std::unique_ptr<ConfNode> root = parsed(text, why);
    if (!root)
        return false;
    const ConfNode* monitor = root->find("wardex.monitor");
    const ConfNode* entry = monitor != nullptr ? monitor->findChild(name) : nullptr;
    if (entry == nullptr) {
        why = "\"" + name + "\" is not listed";
        return false;
    }
    std::size_t from = entry->begin();
    std::size_t to = entry->end();
    // The whole lines, where nothing else stands on them.
    const std::size_t start = lineStart(text, from);
    std::size_t lineEnd = text.find('\n', to);
    lineEnd = lineEnd == std::string::npos ? text.size() : lineEnd + 1;
    if (onlyBlanks(text, start, from) && text.find_first_not_of(" \t\r\n", to) >= lineEnd) {
        from = start;
        to = lineEnd;
    }
    result = text.substr(0, from) + text.substr(to);
    return true;
}

} // namespace Kalvor::ConfEdit
