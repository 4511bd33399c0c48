#include "Config/ConfParser.h"

#include "Common/Exception.h"
#include "Common/StringUtils.h"

#include <algorithm>
#include <new>
#include <string>

namespace Kalvor {

namespace {

enum class State { Name, Open, Type, Close, Equals, Value, Body };

[[noreturn]] void syntaxError(std::string fault) {
    throw ConfigException(CF_CONF, std::move(fault), KALVOR_HERE);
}

std::string withBackslashesResolved(const std::string& value) {
    std::string result;
    result.reserve(value.size());
    for (std::size_t i = 0; i < value.size(); ++i) {
        result.push_back(value[i]);
        if (value[i] == '\\')
            ++i;
    }
    return result;
}

} // namespace

void ConfParser::parse(ConfNode& root) {
    try {
        parseBody(root, 0);
    } catch (const std::bad_alloc&) {
        throw ConfigException(CF_MEM, "", KALVOR_HERE);
    }
}

int32_t ConfParser::line() const {
    const auto end = text_.begin() + static_cast<std::ptrdiff_t>(lastTokenEnd_);
    return static_cast<int32_t>(std::count(text_.begin(), end, '\n')) + 1;
}

bool ConfParser::parseBody(ConfNode& parent, int32_t depth) {
    State state = State::Name;
    std::unique_ptr<ConfNode> node;
    std::string token;
    while (nextToken(token)) {
        switch (state) {
        case State::Name:
            if (token == "}")
                return false;
            node = std::make_unique<ConfNode>(token);
            node->setSpan(lastTokenBegin_, lastTokenBegin_);
            state = State::Open;
            break;
        case State::Open:
            if (token != "(")
                syntaxError("Missing '('.");
            state = State::Type;
            break;
        case State::Type:
            if (token == ")") {
                state = State::Equals;
            } else {
                node->setType(token);
                state = State::Close;
            }
            break;
        case State::Close:
            if (token != ")")
                syntaxError("Missing ')'.");
            state = State::Equals;
            break;
        case State::Equals:
            if (token != "=")
                syntaxError("Missing '='.");
            state = State::Value;
            break;
        case State::Value:
            unquote(token);
            if (!token.empty())
                node->setValue(withBackslashesResolved(token));
            state = State::Body;
            break;
        case State::Body: {
            if (token != "{")
                syntaxError("Missing '{'.");
            if (depth >= kMaxDepth)
                syntaxError("Bodies nest deeper than " + std::to_string(kMaxDepth) + " levels.");
            const bool ranOut = parseBody(*node, depth + 1);
            node->setSpan(node->begin(), ranOut ? text_.size() : lastTokenEnd_);
            parent.appendChild(std::move(node));
            if (ranOut)
                return true;
            state = State::Name;
            break;
        }
        }
    }
    return true;
}

bool ConfParser::nextToken(std::string& token) {
    ConfTokenizer::Span span;
    while (tokenizer_.next(span)) {
        if (!span.isToken)
            continue;
        lastTokenBegin_ = span.begin;
        lastTokenEnd_ = span.end;
        if (text_[span.begin] == '\n')
            continue;
        token.assign(text_, span.begin, span.end - span.begin);
        return true;
    }
    return false;
}

} // namespace Kalvor
