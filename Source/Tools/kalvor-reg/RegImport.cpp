#include "RegImport.h"

#include "Common/posix/TextLines.h"

#include <algorithm>
#include <optional>

namespace Kalvor {

namespace {

const char kHeader[] = "REGEDIT4";

struct Section {
    RegistryRoot root = RegistryRoot::LocalMachine;
    std::string path;
    bool deleted = false;
};

// "[ROOT\path]" or "[-ROOT\path]"; `why` is set when the line is a section line that is wrong.
std::optional<Section> parseSection(std::string_view line, std::string& why) {
    if (line.size() < 2 || line.back() != ']') {
        why = "a section line must end with ]";
        return std::nullopt;
    }
    std::string_view inner = line.substr(1, line.size() - 2);
    Section section;
    section.deleted = !inner.empty() && inner.front() == '-';
    if (section.deleted)
        inner.remove_prefix(1);
    const std::size_t slash = inner.find('\\');
    const std::optional<RegistryRoot> root = findRootKey(std::string(inner.substr(0, slash)));
    if (!root) {
        why = "a section must name a key below a root key's full name, such as "
              "HKEY_LOCAL_MACHINE";
        return std::nullopt;
    }
    section.root = *root;
    if (slash != std::string_view::npos)
        section.path = RegistryHive::normalizePath(std::string(inner.substr(slash + 1)));
    if (!RegistryHive::isStorableName(section.path)) {
        why = "a key name cannot hold a zero byte";
        return std::nullopt;
    }
    if (section.deleted && section.path.empty()) {
        why = "a root key cannot be deleted";
        return std::nullopt;
    }
    return section;
}

// "NAME"=- or @=-: the name is read as the hive reads any value line's, with an empty text
// standing in for the "-". No line that stores a value ends in "=-".
std::optional<std::string> deletedValueName(std::string_view line) {
    constexpr std::string_view kDeletion = "=-";
    if (line.size() < kDeletion.size() || line.substr(line.size() - kDeletion.size()) != kDeletion)
        return std::nullopt;
    const std::string asText = std::string(line.substr(0, line.size() - 1)) + "\"\"";
    RegistryValue value;
    std::string why;
    const auto noMoreLines = [](std::string_view&) { return false; };
    if (!RegistryHive::parseValueLine(asText, noMoreLines, value, why))
        return std::nullopt;
    return value.name;
}

bool parseLines(TextLines& lines, std::vector<ImportStep>& steps, std::string& why) {
    std::string_view line;
    if (!lines.next(line) || line != kHeader) {
        why = "the file does not start with REGEDIT4";
        return false;
    }
    std::optional<Section> section;
    const auto nextLine = [&lines](std::string_view& next) { return lines.next(next); };
    while (lines.next(line)) {
        const std::string_view content = trimBlanks(line);
        if (content.empty() || content.front() == ';')
            continue;
        if (content.front() == '[') {
            section = parseSection(content, why);
            if (!section)
                return false;
            const auto kind =
                section->deleted ? ImportStep::Kind::DeleteKey : ImportStep::Kind::CreateKey;
            steps.push_back({kind, section->root, section->path, {}});
            continue;
        }
        if (!section || section->deleted) {
            why = section ? "a value line under a key that is deleted"
                          : "a value line before the first section";
            return false;
        }
        ImportStep step{ImportStep::Kind::SetValue, section->root, section->path, {}};
        if (const std::optional<std::string> name = deletedValueName(content)) {
            step.kind = ImportStep::Kind::DeleteValue;
            step.value.name = *name;
        } else if (!RegistryHive::parseValueLine(content, nextLine, step.value, why)) {
            return false;
        }
        if (!RegistryHive::isStorableName(step.value.name)) {
            why = "a value name cannot hold a zero byte";
            return false;
        }
        steps.push_back(std::move(step));
    }
    return true;
}

} // namespace

bool parseImportText(std::string_view text, std::vector<ImportStep>& steps, std::string& error) {
    steps.clear();
    TextLines lines(text);
    std::string why;
    if (parseLines(lines, steps, why))
        return true;
    steps.clear();
    error = "line " + std::to_string(std::max<std::size_t>(lines.number(), 1)) + ": " + why;
    return false;
}

std::vector<RegistryRoot> importRoots(const std::vector<ImportStep>& steps) {
    std::vector<RegistryRoot> roots;
    for (const ImportStep& step : steps) {
        if (std::find(roots.begin(), roots.end(), step.root) == roots.end())
            roots.push_back(step.root);
    }
    return roots;
}

ImportOutcome applyImport(const std::vector<ImportStep>& steps, RegistryHive& hive) {
    ImportOutcome outcome;
    for (const ImportStep& step : steps) {
        if (step.root != hive.root())
            continue;
        bool deleted = false;
        switch (step.kind) {
        case ImportStep::Kind::CreateKey:
            outcome.changed = hive.createKey(step.path) || outcome.changed;
            continue;
        case ImportStep::Kind::SetValue:
            outcome.changed = hive.setValue(step.path, step.value) || outcome.changed;
            continue;
        case ImportStep::Kind::DeleteKey:
            deleted = hive.deleteKey(step.path);
            break;
        case ImportStep::Kind::DeleteValue:
            deleted = hive.deleteValue(step.path, step.value.name);
            break;
        }
        outcome.changed = outcome.changed || deleted;
        if (!deleted)
            outcome.missed.push_back(step);
    }
    return outcome;
}

} // namespace Kalvor
