#include "Logger/LogCommons.h"

#include "Common/StringUtils.h"
#include "Logger/DecimalText.h"

#include <array>

namespace Kalvor {
namespace {

struct TableRow {
    const char* name;
    const char* key;
};

// Rows without a module of their own keep neutral names, so the numbers stay in place.
constexpr std::array<TableRow, LogCommons::kModuleCount> kModules = {{
    {"Core", "core"},         {"Configuration", "configuration"},
    {"Logger", "logger"},     {"Module3", "module3"},
    {"Module4", "module4"},   {"Module5", "module5"},
    {"IPC", "ipc"},           {"Module7", "module7"},
    {"Module8", "module8"},   {"Module9", "module9"},
    {"Module10", "module10"}, {"Module11", "module11"},
    {"Module12", "module12"}, {"Module13", "module13"},
    {"Module14", "module14"}, {"Module15", "module15"},
    {"Module16", "module16"}, {"Module17", "module17"},
    {"Module18", "module18"}, {"Module19", "module19"},
    {"Module20", "module20"}, {"Module21", "module21"},
    {"Module22", "module22"}, {"Wardex", "wardex"},
    {"Module24", "module24"}, {"Module25", "module25"},
    {"Module26", "module26"}, {"Module27", "module27"},
    {"Module28", "module28"}, {"Module29", "module29"},
    {"Module30", "module30"}, {"Module31", "module31"},
    {"Module32", "module32"}, {"Module33", "module33"},
    {"Module34", "module34"}, {"Module35", "module35"},
    {"Module36", "module36"}, {"Module37", "module37"},
    {"Module38", "module38"},
}};

// Application numbers start at 1; row 0 stands for no application.
constexpr std::array<TableRow, 13> kApplications = {{
    {nullptr, nullptr},
    {"Core", "core"},
    {"Wardex", "wardex"},
    {"Application3", "application3"},
    {"Application4", "application4"},
    {"Application5", "application5"},
    {"Application6", "application6"},
    {"Application7", "application7"},
    {"Application8", "application8"},
    {"Application9", "application9"},
    {"Application10", "application10"},
    {"Application11", "application11"},
    {"Application12", "application12"},
}};

constexpr const char* kSeverityNames[] = {"NOTICE", "WARNING", "ERROR", "CRITICAL", "FATAL"};
constexpr const char* kUnknownName = "<<Unknown>>";

template <std::size_t N> const TableRow* rowOf(const std::array<TableRow, N>& table, int32_t n) {
    if (n < 0 || static_cast<std::size_t>(n) >= N || table[n].name == nullptr)
        return nullptr;
    return &table[n];
}

template <std::size_t N>
int32_t numberOf(const std::array<TableRow, N>& table, const std::string& key) {
    const std::string lower = lowerCopy(key);
    for (std::size_t n = 0; n < N; ++n) {
        if (table[n].key != nullptr && lower == table[n].key)
            return static_cast<int32_t>(n);
    }
    return LogCommons::kUnknownNumber;
}

std::string catalogKey(int32_t module, int32_t number) {
    return std::to_string(module) + "." + std::to_string(number);
}

} // namespace

namespace LogCommons {

std::string severityName(int32_t severity) {
    return severity >= kNotice && severity <= kFatal ? kSeverityNames[severity] : "";
}

int32_t severityFromName(const std::string& name) {
    for (int32_t severity = kNotice; severity <= kFatal; ++severity) {
        if (name == kSeverityNames[severity])
            return severity;
    }
    if (name == "NONE" || name == "NOTHING")
        return kSeverityNone;
    return kSeverityUnknown;
}

std::string moduleName(int32_t module) {
    const TableRow* row = rowOf(kModules, module);
    return row != nullptr ? row->name : kUnknownName;
}

std::string moduleKey(int32_t module) {
    const TableRow* row = rowOf(kModules, module);
    return row != nullptr ? row->key : "";
}

int32_t moduleNumber(const std::string& key) {
    const int32_t number = numberOf(kModules, key);
    if (number == kUnknownNumber && lowerCopy(key) == "log")
        return kLoggerModule;
    return number;
}

std::string applicationName(int32_t application) {
    const TableRow* row = rowOf(kApplications, application);
    return row != nullptr ? row->name : kUnknownName;
}

std::string applicationKey(int32_t application) {
    const TableRow* row = rowOf(kApplications, application);
    return row != nullptr ? row->key : "";
}

int32_t applicationNumber(const std::string& key) {
    return numberOf(kApplications, key);
}

bool parseCatalogLine(const std::string& line, int32_t& number, std::string& text) {
    if (line.empty() || matchesAt(line, 0, "//"))
        return false;
    const auto colon = line.find(':');
    if (colon == std::string::npos)
        return false;
    std::string numberPart = line.substr(0, colon);
    text = line.substr(colon + 1);
    trim(numberPart);
    trim(text);
    number = leadingDecimal(numberPart);
    return true;
}

} // namespace LogCommons

void MessageCatalog::set(int32_t module, int32_t number, const std::string& text) {
    messages_[catalogKey(module, number)] = text;
}

std::optional<std::string> MessageCatalog::find(int32_t module, int32_t number) const {
    const auto found = messages_.find(catalogKey(module, number));
    if (found == messages_.end())
        return std::nullopt;
    return found->second;
}

int32_t MessageCatalog::addText(int32_t module, const std::string& text) {
    std::vector<std::string> lines;
    split(text, '\n', lines);
    int32_t stored = 0;
    for (const std::string& line : lines) {
        int32_t number = 0;
        std::string message;
        if (LogCommons::parseCatalogLine(line, number, message)) {
            set(module, number, message);
            ++stored;
        }
    }
    return stored;
}

void MessageCatalog::merge(const MessageCatalog& other) {
    for (const auto& [key, text] : other.messages_)
        messages_[key] = text;
}

} // namespace Kalvor
