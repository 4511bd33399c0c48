// The packed layout: every field is written as "<decimal length>:<bytes>". The first field is
// "v2", the second the number of records; then each record is its ten fields in order (name,
// id, state, process id, restarts, last start, active "1" or "0", exit code, exit signal,
// reason; an absent exit code or signal is an empty field). The earlier layout, which earlier
// supervisors send, has no "v2" and seven fields a record (up to active); it is still read. A field is read by its length and never
// searched for a separator, so no byte a name may hold can shift the fields, and the count
// shows a text cut short between records. Unpacking takes only the canonical form (no leading
// zeros, numbers in range, as many records as counted), so one status has one text.
#include "IPC/StatusReport.h"

#include <charconv>
#include <cstddef>

namespace Kalvor {

namespace {

constexpr const char* kLayoutMark = "v2";
constexpr std::size_t kFieldsPerRecord = 10;
constexpr std::size_t kEarlierFieldsPerRecord = 7;

void putField(std::string& text, const std::string& field) {
    text += std::to_string(field.size());
    text += ':';
    text += field;
}

bool isDigit(char byte) {
    return byte >= '0' && byte <= '9';
}

// Reads the field at `at` and moves past it; false when no whole field starts there.
bool takeField(const std::string& text, std::size_t& at, std::string& field) {
    const std::size_t start = at;
    std::size_t length = 0;
    for (; at < text.size() && isDigit(text[at]); ++at) {
        // A length beyond the text is wrong anyway: stopping there keeps it from overflowing.
        if (length > text.size() / 10)
            return false;
        length = length * 10 + static_cast<std::size_t>(text[at] - '0');
    }
    const std::size_t digits = at - start;
    if (digits == 0 || (digits > 1 && text[start] == '0'))
        return false;
    if (at == text.size() || text[at] != ':')
        return false;
    ++at;
    if (length > text.size() - at)
        return false;
    field.assign(text, at, length);
    at += length;
    return true;
}

// Only the text std::to_string would write for the value.
template <typename Number> bool readNumber(const std::string& field, Number& value) {
    const char* const end = field.data() + field.size();
    const auto result = std::from_chars(field.data(), end, value);
    return result.ec == std::errc() && result.ptr == end && std::to_string(value) == field;
}

bool readOptional(const std::string& field, std::optional<int32_t>& value) {
    if (field.empty()) {
        value.reset();
        return true;
    }
    int32_t number = 0;
    if (!readNumber(field, number))
        return false;
    value = number;
    return true;
}

std::string optionalText(const std::optional<int32_t>& value) {
    return value ? std::to_string(*value) : std::string();
}

bool readFlag(const std::string& field, bool& value) {
    if (field != "0" && field != "1")
        return false;
    value = field == "1";
    return true;
}

} // namespace

std::string packStatus(const std::vector<StatusRecord>& records) {
    std::string text;
    putField(text, kLayoutMark);
    putField(text, std::to_string(records.size()));
    for (const StatusRecord& record : records) {
        putField(text, record.name);
        putField(text, record.id);
        putField(text, record.state);
        putField(text, std::to_string(record.processId));
        putField(text, std::to_string(record.restarts));
        putField(text, record.lastStart);
        putField(text, record.active ? "1" : "0");
        putField(text, optionalText(record.exitCode));
        putField(text, optionalText(record.exitSignal));
        putField(text, record.reason);
    }
    return text;
}

namespace {

bool unpackRecords(const std::string& text, std::size_t at, std::size_t fieldsPerRecord,
                   std::vector<StatusRecord>& records) {
    std::string countField;
    uint32_t count = 0;
    if (!takeField(text, at, countField) || !readNumber(countField, count))
        return false;
    std::vector<StatusRecord> read;
    std::vector<std::string> fields(fieldsPerRecord);
    while (at < text.size()) {
        for (std::string& field : fields)
            if (!takeField(text, at, field))
                return false;
        StatusRecord record;
        record.name = fields[0];
        record.id = fields[1];
        record.state = fields[2];
        record.lastStart = fields[5];
        if (!readNumber(fields[3], record.processId) || !readNumber(fields[4], record.restarts) ||
            !readFlag(fields[6], record.active))
            return false;
        if (fieldsPerRecord == kFieldsPerRecord) {
            if (!readOptional(fields[7], record.exitCode) ||
                !readOptional(fields[8], record.exitSignal))
                return false;
            record.reason = fields[9];
        }
        read.push_back(std::move(record));
    }
    if (read.size() != count)
        return false;
    records = std::move(read);
    return true;
}

} // namespace

const char* signalName(int32_t signal) {
    static const char* const kNames[] = {nullptr,   "SIGHUP",  "SIGINT",  "SIGQUIT", "SIGILL",
                                         "SIGTRAP", "SIGABRT", "SIGBUS",  "SIGFPE",  "SIGKILL",
                                         "SIGUSR1", "SIGSEGV", "SIGUSR2", "SIGPIPE", "SIGALRM",
                                         "SIGTERM"};
    if (signal > 0 && signal < static_cast<int32_t>(sizeof kNames / sizeof kNames[0]))
        return kNames[signal];
    return nullptr;
}

bool unpackStatus(const std::string& text, std::vector<StatusRecord>& records) {
    std::size_t at = 0;
    std::string mark;
    if (takeField(text, at, mark) && mark == kLayoutMark)
        return unpackRecords(text, at, kFieldsPerRecord, records);
    return unpackRecords(text, 0, kEarlierFieldsPerRecord, records);
}

} // namespace Kalvor
