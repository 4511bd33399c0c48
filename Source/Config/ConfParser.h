// The grammar of a configuration file, over the tokens of ConfTokenizer. Each entry is
//   name ( [type] ) = value { entries }
// and line breaks carry no meaning. A "}" where a name is due closes the body (at the top level
// it ends the file); a body left open at the end of the text is accepted. A node joins its parent
// only once its body is complete, so after a syntax error the tree holds the entries finished
// before it. Values are unquoted ('...' or "...") and then copied with each backslash hiding the
// byte after it.
#pragma once

#include "Config/ConfNode.h"
#include "Config/ConfTokenizer.h"

#include <cstdint>
#include <string>

namespace Kalvor {

class ConfParser {
public:
    // Deeper bodies are a syntax error rather than a risk to the stack.
    static constexpr int32_t kMaxDepth = 200;

    // The text must outlive the parser.
    explicit ConfParser(const std::string& text) : text_(text), tokenizer_(text) {}

    // Appends the file's top-level entries to `root`. Throws ConfigException CF_CONF with the
    // fault as its detail ("Missing '='." and the like), CF_MEM when memory runs out.
    void parse(ConfNode& root);

    // The line, counted from 1, on which the last token read ends.
    int32_t line() const;

private:
    // True when the text ran out, false when a "}" closed the body.
    bool parseBody(ConfNode& parent, int32_t depth);
    // The next token the grammar sees: blank spans and line breaks are passed over.
    bool nextToken(std::string& token);

    const std::string& text_;
    ConfTokenizer tokenizer_;
    std::size_t lastTokenBegin_ = 0;
    std::size_t lastTokenEnd_ = 0;
};

} // namespace Kalvor
