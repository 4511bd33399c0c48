#include "StatusOutput.h"

#include "IpcCommand.h"

#include <algorithm>
#include <array>
#include <cstdio>

namespace Kalvor {

namespace {

constexpr std::size_t kColumns = 6;
constexpr const char* kColumnGap = "  ";
using Row = std::array<std::string, kColumns>;

// Terminals show a UTF-8 sequence as one character: its continuation bytes take no column.
std::size_t displayWidth(const std::string& text) {
    return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char byte) {
        return (static_cast<unsigned char>(byte) & 0xC0) != 0x80;
    }));
}

// "exit 3", "SIGKILL" where the number has a usual name, "signal 64" otherwise; "-" unknown.
std::string lastExitText(const StatusRecord& record) {
    if (record.exitSignal) {
        const char* name = signalName(*record.exitSignal);
        return name ? name : "signal " + std::to_string(*record.exitSignal);
    }
    if (record.exitCode)
        return "exit " + std::to_string(*record.exitCode);
    return "-";
}

Row rowOf(const StatusRecord& record) {
    return {visibleText(record.name),
            visibleText(record.state),
            record.processId == 0 ? "-" : std::to_string(record.processId),
            std::to_string(record.restarts),
            record.lastStart.empty() ? "-" : visibleText(record.lastStart),
            lastExitText(record)};
}

std::string jsonNumber(const std::optional<int32_t>& value) {
    return value ? std::to_string(*value) : "null";
}

} // namespace

std::string statusTable(const std::vector<StatusRecord>& records) {
    std::vector<Row> rows{{"NAME", "STATE", "PID", "RESTARTS", "STARTED", "LAST EXIT"}};
    for (const StatusRecord& record : records)
        rows.push_back(rowOf(record));
    std::array<std::size_t, kColumns> widths{};
    for (const Row& row : rows)
        for (std::size_t column = 0; column < kColumns; ++column)
            widths[column] = std::max(widths[column], displayWidth(row[column]));
    std::string table;
    for (const Row& row : rows) {
        for (std::size_t column = 0; column + 1 < kColumns; ++column) {
            table += row[column];
            table.append(widths[column] - displayWidth(row[column]), ' ');
            table += kColumnGap;
        }
        table += row[kColumns - 1];
        table += '\n';
    }
    return table;
}

std::string jsonString(const std::string& bytes) {
    std::string text = "\"";
    for (const char byte : bytes) {
        const auto code = static_cast<unsigned char>(byte);
        if (byte == '"' || byte == '\\') {
            text += '\\';
            text += byte;
        } else if (code < 0x20 || code >= 0x7F) {
            char escape[7];
            std::snprintf(escape, sizeof escape, "\\u%04X", static_cast<unsigned>(code));
            text += escape;
        } else {
            text += byte;
        }
    }
    return text + "\"";
}

std::string statusJson(const std::vector<StatusRecord>& records) {
    if (records.empty())
        return "[]\n";
    std::string json = "[\n";
    for (std::size_t i = 0; i < records.size(); ++i) {
        const StatusRecord& record = records[i];
        json += "  {\"name\": " + jsonString(record.name) + ", \"id\": " + jsonString(record.id) +
                ", \"state\": " + jsonString(record.state) + ", \"pid\": " +
                (record.processId == 0 ? "null" : std::to_string(record.processId)) +
                ", \"restarts\": " + std::to_string(record.restarts) + ", \"last_start\": " +
                (record.lastStart.empty() ? "null" : jsonString(record.lastStart)) +
                ", \"active\": " + (record.active ? "true" : "false") +
                ", \"exit_code\": " + jsonNumber(record.exitCode) +
                ", \"exit_signal\": " + jsonNumber(record.exitSignal) + ", \"reason\": " +
                (record.reason.empty() ? "null" : jsonString(record.reason)) + "}";
        json += i + 1 < records.size() ? ",\n" : "\n";
    }
    return json + "]\n";
}

} // namespace Kalvor
