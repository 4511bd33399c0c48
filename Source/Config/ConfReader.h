// One configuration file read into a tree, answering lookups by dotted key.
//
// buildDOM() replaces the tree with the file's entries and never throws: an unreadable file
// leaves the previous tree, and so does a syntax error when there is one (the first build keeps
// the entries completed before the fault); either is logged (catalog messages 1 and 2 of the
// Configuration module, with the line of the fault) and told in buildDOM()'s result. A
// key such as "Kalvor.directories.log" names one child per component, from the top-level
// entries down; case matters and the first of equal siblings wins.
//
// The typed lookups check the declared type, expand "${other.key}" references, apply the
// type's path rules (output separator: the platform's) and answer a ConfResult; on any code but
// CONF_FOUND the output is left untouched. Lookups do not lock: the owner must not look up while
// another thread builds.
#pragma once

#include "JobInstance/Monopoly.h"
#include "Time/TimeSpan.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace Kalvor {

class ConfNode;
class LoggerUnit;

enum ConfResult : int32_t {
    CONF_FOUND = 0,
    CONF_NO_TYPE = 1,    // the node, or a node referenced in its value, was written with "()"
    CONF_MISSING = 2,    // the key, or a key referenced in the value, names no node
    CONF_WRONG_TYPE = 3, // declared with another type than the one asked for
    CONF_NOT_BOOL = 4,   // neither "true" nor "false"
    CONF_NOT_DURATION = 5,
    CONF_UNCLOSED_REFERENCE = 6, // "${" without a "}" after it
    CONF_ENDLESS_EXPANSION = 7,  // a reference cycle, or growth past the bounds (ConfReferences.h)
};

class ConfReader {
public:
    // The unit of the Configuration module, whose catalog holds the reader's messages; null
    // logs nothing.
    explicit ConfReader(std::shared_ptr<const LoggerUnit> logger);
    ~ConfReader();
    ConfReader(const ConfReader&) = delete;
    ConfReader& operator=(const ConfReader&) = delete;

    // Empty when the file was read whole; else "<file>: <why>" ("…, line N" for a syntax error).
    std::string buildDOM(const std::string& fileName);

    // Null when the key is empty, names no node, or no tree was built yet.
    const ConfNode* findNode(const std::string& key) const;
    // Appends the names of the node's children, in file order: CONF_FOUND, or CONF_MISSING.
    int32_t getSubObjects(const std::string& key, std::vector<std::string>& names) const;

    // The value with its references expanded; "DirName" and "FileName" values get uniform
    // separators, and a non-empty DirName a trailing one.
    int32_t getRaw(const std::string& key, const std::string& typeName, std::string& value) const;
    // Type "String"; blanks (bytes 0-32) trimmed from both ends and bytes lower-cased on request.
    int32_t getString(const std::string& key, std::string& value, bool trim = false,
                      bool lowerCase = false) const;
    // Type "Bool": exactly "true" or "false".
    int32_t getBool(const std::string& key, bool& value) const;
    // Type "Integer", read as atol reads it (no digits give 0 and CONF_FOUND), but clamped to
    // the 32-bit range.
    int32_t getInteger(const std::string& key, int32_t& value) const;
    // Type "DirName", then trimmed.
    int32_t getDirName(const std::string& key, std::string& value) const;
    // Type "TimeSpan", a "P..." duration text.
    int32_t getTimeSpan(const std::string& key, DurationRecord& value) const;

private:
    std::string parseText(const std::string& fileName, const std::string& text);

    std::shared_ptr<const LoggerUnit> logger_;
    Monopoly buildLock_;
    std::unique_ptr<ConfNode> root_;
};

} // namespace Kalvor
