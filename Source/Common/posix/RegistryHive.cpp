#include "Common/posix/RegistryHive.h"

#include "Common/posix/TextLines.h"

#include <cstdio>
#include <unordered_set>

namespace Kalvor {

namespace {

const char kHeader[] = "REGEDIT4";
const char kCrLf[] = "\r\n";

char asciiLower(char byte) {
    return byte >= 'A' && byte <= 'Z' ? static_cast<char>(byte + 32) : byte;
}

// Registry names fold ASCII letters only, whatever the locale.
std::string foldCase(std::string_view text) {
    std::string folded(text);
    for (char& byte : folded)
        byte = asciiLower(byte);
    return folded;
}

bool startsWithNoCase(std::string_view text, std::string_view lowerPrefix) {
    if (text.size() < lowerPrefix.size())
        return false;
    for (std::size_t i = 0; i < lowerPrefix.size(); ++i) {
        if (asciiLower(text[i]) != lowerPrefix[i])
            return false;
    }
    return true;
}

int hexDigit(char byte) {
    if (byte >= '0' && byte <= '9')
        return byte - '0';
    if (byte >= 'a' && byte <= 'f')
        return byte - 'a' + 10;
    if (byte >= 'A' && byte <= 'F')
        return byte - 'A' + 10;
    return -1;
}

// 1 to `maxDigits` hex digits and nothing else.
bool parseHexNumber(std::string_view digits, std::size_t maxDigits, uint32_t& number) {
    if (digits.empty() || digits.size() > maxDigits)
        return false;
    number = 0;
    for (char byte : digits) {
        const int digit = hexDigit(byte);
        if (digit < 0)
            return false;
        number = number * 16 + static_cast<uint32_t>(digit);
    }
    return true;
}

// A quoted text starting at text[position]; position ends after the closing quote.
bool parseQuoted(std::string_view text, std::size_t& position, std::string& out) {
    if (position >= text.size() || text[position] != '"')
        return false;
    out.clear();
    for (std::size_t i = position + 1; i < text.size();) {
        const std::size_t special = text.find_first_of("\\\"", i);
        if (special == std::string_view::npos)
            return false;
        out.append(text.data() + i, special - i);
        if (text[special] == '"') {
            position = special + 1;
            return true;
        }
        if (special + 1 >= text.size() || (text[special + 1] != '\\' && text[special + 1] != '"'))
            return false;
        out.push_back(text[special + 1]);
        i = special + 2;
    }
    return false;
}

bool parseHexBytes(std::string_view list, std::string& out) {
    out.clear();
    list = trimBlanks(list);
    if (list.empty())
        return true;
    for (;;) {
        const std::size_t comma = list.find(',');
        uint32_t byte = 0;
        if (!parseHexNumber(trimBlanks(list.substr(0, comma)), 2, byte))
            return false;
        out.push_back(static_cast<char>(byte));
        if (comma == std::string_view::npos)
            return true;
        list.remove_prefix(comma + 1);
    }
}

// The text after "=": "text", dword:NNNNNNNN, hex:.. or hex(N):..
bool parseData(std::string_view data, RegistryValue& value, std::string& why) {
    if (!data.empty() && data.front() == '"') {
        std::size_t end = 0;
        if (!parseQuoted(data, end, value.data) || !trimBlanks(data.substr(end)).empty()) {
            why = "badly quoted text";
            return false;
        }
        value.type = RegistryType::String;
        return true;
    }
    if (startsWithNoCase(data, "dword:")) {
        uint32_t number = 0;
        if (!parseHexNumber(trimBlanks(data.substr(6)), 8, number)) {
            why = "dword: needs 1 to 8 hex digits";
            return false;
        }
        value.type = RegistryType::Dword;
        value.data = dwordBytes(number);
        return true;
    }
    std::size_t listStart = 0;
    if (startsWithNoCase(data, "hex:")) {
        value.type = RegistryType::Binary;
        listStart = 4;
    } else if (startsWithNoCase(data, "hex(")) {
        const std::size_t close = data.find("):");
        uint32_t type = 0;
        if (close == std::string_view::npos ||
            !parseHexNumber(data.substr(4, close - 4), 8, type)) {
            why = "hex(N): needs a hex type number";
            return false;
        }
        value.type = static_cast<RegistryType>(type);
        listStart = close + 2;
    } else {
        why = "unknown kind of data";
        return false;
    }
    if (!parseHexBytes(data.substr(listStart), value.data)) {
        why = "hex data must be comma-separated bytes";
        return false;
    }
    return true;
}

void appendQuoted(std::string& out, const std::string& text) {
    out.push_back('"');
    for (char byte : text) {
        if (byte == '\\' || byte == '"')
            out.push_back('\\');
        out.push_back(byte);
    }
    out.push_back('"');
}

void appendHexBytes(std::string& out, const std::string& bytes) {
    static const char digits[] = "0123456789abcdef";
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i > 0)
            out.push_back(',');
        const auto byte = static_cast<unsigned char>(bytes[i]);
        out.push_back(digits[byte >> 4]);
        out.push_back(digits[byte & 15]);
    }
}

// Lower-case hex digits, at least `width` of them.
void appendHexNumber(std::string& out, uint32_t number, int width) {
    char digits[9];
    const int length = std::snprintf(digits, sizeof digits, "%0*x", width, number);
    out.append(digits, static_cast<std::size_t>(length));
}

void appendValueLine(std::string& out, const RegistryValue& value) {
    if (value.name.empty())
        out.push_back('@');
    else
        appendQuoted(out, value.name);
    out.push_back('=');
    // A text with a line break or a zero byte could not be read back from its quoted form.
    if (value.type == RegistryType::String && RegistryHive::isStorableName(value.data)) {
        appendQuoted(out, value.data);
    } else if (value.type == RegistryType::Dword && value.data.size() == 4) {
        out += "dword:";
        appendHexNumber(out, static_cast<uint32_t>(littleEndianNumber(value.data, 4)), 8);
    } else {
        if (value.type == RegistryType::Binary) {
            out += "hex:";
        } else {
            out += "hex(";
            appendHexNumber(out, static_cast<uint32_t>(value.type), 1);
            out += "):";
        }
        appendHexBytes(out, value.data);
    }
    out += kCrLf;
}

// "a\b" under "a" and "a" itself, compared in lower case.
bool isAtOrBelow(const std::string& lowerPath, const std::string& lowerKey) {
    if (lowerKey.empty())
        return true;
    return lowerPath.size() >= lowerKey.size() &&
           lowerPath.compare(0, lowerKey.size(), lowerKey) == 0 &&
           (lowerPath.size() == lowerKey.size() || lowerPath[lowerKey.size()] == '\\');
}

// "[HKEY_LOCAL_MACHINE\a\b]" gives "a\b"; false for a line naming another root.
bool parseSectionLine(std::string_view content, RegistryRoot root, std::string& path) {
    if (content.size() < 2 || content.back() != ']')
        return false;
    const std::string inner(content.substr(1, content.size() - 2));
    const std::string rootName = foldCase(rootKeyName(root));
    if (!isAtOrBelow(foldCase(inner), rootName))
        return false;
    path = RegistryHive::normalizePath(inner.substr(rootName.size()));
    return true;
}

} // namespace

bool RegistryHive::parseValueLine(std::string_view content, const NextLine& nextLine,
                                  RegistryValue& value, std::string& why) {
    std::size_t position = 0;
    if (!content.empty() && content.front() == '@') {
        position = 1;
    } else if (!parseQuoted(content, position, value.name)) {
        why = "neither a section nor a value line";
        return false;
    }
    if (position >= content.size() || content[position] != '=') {
        why = "a value name must be followed by =";
        return false;
    }
    const std::string_view data = content.substr(position + 1);
    if (!startsWithNoCase(data, "hex") || data.back() != '\\')
        return parseData(data, value, why);
    std::string joined(data);
    std::string_view next;
    while (!joined.empty() && joined.back() == '\\') {
        joined.pop_back();
        if (!nextLine(next)) {
            why = "hex data goes on past the end of the file";
            return false;
        }
        joined += trimBlanks(next);
    }
    return parseData(joined, value, why);
}

bool RegistryHive::isStorableName(std::string_view name) {
    return name.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos;
}

std::string RegistryHive::normalizePath(const std::string& path) {
    std::string normal;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find('\\', start);
        if (end == std::string::npos)
            end = path.size();
        if (end > start) {
            if (!normal.empty())
                normal.push_back('\\');
            normal.append(path, start, end - start);
        }
        start = end + 1;
    }
    return normal;
}

bool RegistryHive::parse(std::string_view text, std::string& error) {
    sections_.clear();
    byPath_.clear();
    trailingComments_.clear();
    if (parseLines(text, error))
        return true;
    sections_.clear();
    byPath_.clear();
    trailingComments_.clear();
    return false;
}

bool RegistryHive::parseLines(std::string_view text, std::string& error) {
    TextLines reader(text);
    std::string_view line;
    if (!reader.next(line) || line != kHeader) {
        error = "line 1: the file does not start with REGEDIT4";
        return false;
    }
    Section* section = nullptr;
    std::string comments; // waiting for the line they stand before
    while (reader.next(line)) {
        const std::string_view content = trimBlanks(line);
        std::string why;
        if (content.empty())
            continue;
        if (content.front() == ';') {
            comments.append(content.data(), content.size());
            comments += kCrLf;
        } else if (content.front() == '[') {
            std::string path;
            if (parseSectionLine(content, root_, path)) {
                section = findSection(path);
                if (section == nullptr)
                    section = &addSection(path);
                section->comments += comments;
                comments.clear();
            } else {
                why = std::string("a section must name a key of ") + rootKeyName(root_);
            }
        } else if (section == nullptr) {
            why = "a value line before the first section";
        } else {
            RegistryValue value;
            bool changed = false;
            const auto nextLine = [&reader](std::string_view& next) { return reader.next(next); };
            if (parseValueLine(content, nextLine, value, why)) {
                if (!comments.empty())
                    section->valueComments[foldCase(value.name)] += comments;
                comments.clear();
                putValue(*section, std::move(value), changed);
            }
        }
        if (!why.empty()) {
            error = "line " + std::to_string(reader.number()) + ": " + why;
            return false;
        }
    }
    trailingComments_ = std::move(comments);
    return true;
}

std::string RegistryHive::sectionText(const Section& section) const {
    std::string out = section.comments + "[";
    out += rootKeyName(root_);
    if (!section.path.empty())
        out += "\\" + section.path;
    out += "]";
    out += kCrLf;
    for (const RegistryValue& value : section.values) {
        if (!section.valueComments.empty()) {
            const auto comments = section.valueComments.find(foldCase(value.name));
            if (comments != section.valueComments.end())
                out += comments->second;
        }
        appendValueLine(out, value);
    }
    return out;
}

std::string RegistryHive::text() const {
    return exportText("");
}

std::string RegistryHive::exportText(const std::string& path) const {
    const std::string key = foldCase(normalizePath(path));
    std::string out = std::string(kHeader) + kCrLf;
    for (const Section& section : sections_) {
        if (isAtOrBelow(foldCase(section.path), key))
            out += kCrLf + sectionText(section);
    }
    if (key.empty() && !trailingComments_.empty())
        out += kCrLf + trailingComments_;
    out += kCrLf;
    return out;
}

RegistryHive::Section* RegistryHive::findSection(const std::string& path) {
    const auto found = byPath_.find(foldCase(path));
    return found == byPath_.end() ? nullptr : &sections_[found->second];
}

const RegistryHive::Section* RegistryHive::findSection(const std::string& path) const {
    const auto found = byPath_.find(foldCase(path));
    return found == byPath_.end() ? nullptr : &sections_[found->second];
}

RegistryHive::Section& RegistryHive::addSection(const std::string& path) {
    byPath_[foldCase(path)] = sections_.size();
    sections_.push_back(Section{path, {}, {}, {}, {}});
    return sections_.back();
}

void RegistryHive::putValue(Section& section, RegistryValue value, bool& changed) {
    const auto [found, added] =
        section.byName.try_emplace(foldCase(value.name), section.values.size());
    if (added) {
        section.values.push_back(std::move(value));
        changed = true;
        return;
    }
    RegistryValue& old = section.values[found->second];
    if (old.type == value.type && old.data == value.data)
        return;
    old.type = value.type;
    old.data = std::move(value.data);
    changed = true;
}

void RegistryHive::reindex() {
    byPath_.clear();
    for (std::size_t i = 0; i < sections_.size(); ++i)
        byPath_[foldCase(sections_[i].path)] = i;
}

bool RegistryHive::keyExists(const std::string& path) const {
    const std::string key = foldCase(normalizePath(path));
    if (key.empty() || byPath_.count(key) != 0)
        return true;
    for (const Section& section : sections_) {
        if (isAtOrBelow(foldCase(section.path), key))
            return true;
    }
    return false;
}

std::vector<RegistryValue> RegistryHive::values(const std::string& path) const {
    const Section* section = findSection(normalizePath(path));
    return section == nullptr ? std::vector<RegistryValue>() : section->values;
}

const RegistryValue* RegistryHive::findValue(const std::string& path,
                                             const std::string& name) const {
    const Section* section = findSection(normalizePath(path));
    if (section == nullptr)
        return nullptr;
    const auto found = section->byName.find(foldCase(name));
    return found == section->byName.end() ? nullptr : &section->values[found->second];
}

std::vector<std::string> RegistryHive::subKeys(const std::string& path) const {
    const std::string key = foldCase(normalizePath(path));
    const std::size_t skip = key.empty() ? 0 : key.size() + 1;
    std::vector<std::string> names;
    std::unordered_set<std::string> seen;
    for (const Section& section : sections_) {
        if (section.path.size() <= skip || !isAtOrBelow(foldCase(section.path), key))
            continue;
        const std::string name = section.path.substr(skip, section.path.find('\\', skip) - skip);
        if (seen.insert(foldCase(name)).second)
            names.push_back(name);
    }
    return names;
}

bool RegistryHive::createKey(const std::string& path) {
    const std::string key = normalizePath(path);
    bool changed = false;
    std::size_t end = 0;
    while (end < key.size()) {
        end = key.find('\\', end + 1);
        if (end == std::string::npos)
            end = key.size();
        const std::string parent = key.substr(0, end);
        if (findSection(parent) == nullptr) {
            addSection(parent);
            changed = true;
        }
    }
    return changed;
}

bool RegistryHive::setValue(const std::string& path, RegistryValue value) {
    const std::string key = normalizePath(path);
    bool changed = createKey(key);
    Section* section = findSection(key);
    if (section == nullptr)
        section = &addSection(key); // the root itself
    putValue(*section, std::move(value), changed);
    return changed;
}

bool RegistryHive::deleteValue(const std::string& path, const std::string& name) {
    Section* section = findSection(normalizePath(path));
    if (section == nullptr)
        return false;
    const auto found = section->byName.find(foldCase(name));
    if (found == section->byName.end())
        return false;
    section->values.erase(section->values.begin() + static_cast<std::ptrdiff_t>(found->second));
    section->valueComments.erase(found->first);
    section->byName.clear();
    for (std::size_t i = 0; i < section->values.size(); ++i)
        section->byName[foldCase(section->values[i].name)] = i;
    return true;
}

bool RegistryHive::deleteKey(const std::string& path) {
    const std::string key = foldCase(normalizePath(path));
    const std::size_t before = sections_.size();
    std::vector<Section> kept;
    kept.reserve(sections_.size());
    for (Section& section : sections_) {
        if (!isAtOrBelow(foldCase(section.path), key))
            kept.push_back(std::move(section));
    }
    sections_ = std::move(kept);
    reindex();
    return sections_.size() != before;
}

} // namespace Kalvor
