// One root key of the posix registry in memory, read from and written as REGEDIT4 text.
//
// Text: the line "REGEDIT4"; section lines "[HKEY_LOCAL_MACHINE\Key\Path]" naming this hive's
// root; under each, value lines "Name"=... or @=... (the default value) with the data as
// "text" (REG_SZ; \\ and \" escaped), dword:0000002a, hex:.. (REG_BINARY) or hex(N):.. (type N,
// in hex) with comma-separated bytes; a hex line ending in "\" goes on in the next line. Blank
// lines are ignored; a line whose first non-blank byte is ";" is a comment, kept with the
// section or value line that follows it (or at the end) and written back there; any other line
// makes the text not parse. Written with CRLF line ends and every value on one line; LF alone is
// read too.
//
// Key paths are relative to the root ("" is the root), components separated by "\"; empty
// components are dropped. Key and value names compare case-insensitively (ASCII) and keep the
// spelling they were first created with, as on Windows: writing "NAME" over "Name" changes the
// data and keeps "Name". A key exists when it or a key below it has a section; creating a key
// gives its parents sections too. Sections keep their order, new ones are appended.
#pragma once

#include "Common/RegistryTypes.h"

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace Kalvor {

struct RegistryValue {
    std::string name; // "" is the default value
    RegistryType type = RegistryType::None;
    std::string data;

    bool operator==(const RegistryValue& other) const {
        return name == other.name && type == other.type && data == other.data;
    }
};

class RegistryHive {
public:
    explicit RegistryHive(RegistryRoot root) : root_(root) {}

    RegistryRoot root() const { return root_; }

    // Replaces the content with the parsed text. On failure `error` names the line and the
    // content is left empty.
    bool parse(std::string_view text, std::string& error);
    std::string text() const;
    // The key and everything below it, as a REGEDIT4 text of its own.
    std::string exportText(const std::string& path) const;

    // One value line as parse() reads it: "Name"=data or @=data, without the blanks around it.
    // Hex data ending in "\" goes on in the lines that `nextLine` hands out (false when there
    // are none). On failure `why` says what is wrong with the line.
    using NextLine = std::function<bool(std::string_view& line)>;
    static bool parseValueLine(std::string_view line, const NextLine& nextLine,
                               RegistryValue& value, std::string& why);

    // Names that the text form can carry: no CR, LF or zero byte.
    static bool isStorableName(std::string_view name);
    static std::string normalizePath(const std::string& path);

    bool keyExists(const std::string& path) const;
    // Empty for a key without a section of its own.
    std::vector<RegistryValue> values(const std::string& path) const;
    const RegistryValue* findValue(const std::string& path, const std::string& name) const;
    // Names of the keys directly below, in file order.
    std::vector<std::string> subKeys(const std::string& path) const;

    // Each returns whether the hive changed. Paths and names must be storable.
    bool createKey(const std::string& path);
    bool setValue(const std::string& path, RegistryValue value);
    bool deleteValue(const std::string& path, const std::string& name);
    // The key with every key below it.
    bool deleteKey(const std::string& path);

private:
    struct Section {
        std::string path;
        std::vector<RegistryValue> values;
        std::unordered_map<std::string, std::size_t> byName; // lower-case name -> index
        // Comment lines, each with its CRLF: those before the section line, and those before a
        // value line (by lower-case value name).
        std::string comments;
        std::unordered_map<std::string, std::string> valueComments;
    };

    Section* findSection(const std::string& path);
    const Section* findSection(const std::string& path) const;
    Section& addSection(const std::string& path);
    static void putValue(Section& section, RegistryValue value, bool& changed);
    void reindex();
    std::string sectionText(const Section& section) const;
    bool parseLines(std::string_view text, std::string& error);

    RegistryRoot root_;
    std::vector<Section> sections_;
    std::unordered_map<std::string, std::size_t> byPath_; // lower-case path -> index
    std::string trailingComments_;                        // after the last section or value
};

} // namespace Kalvor
