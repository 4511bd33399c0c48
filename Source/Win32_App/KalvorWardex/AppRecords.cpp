#include "Win32_App/KalvorWardex/AppRecords.h"

#include "Common/Exception.h"
#include "Common/SystemError.h"
#include "File/FilePlain.h"
#include "Time/TimeSpan.h"

#include <charconv>
#include <exception>
#include <utility>

namespace Kalvor {

namespace {

const char kVersionLine[] = "WardexApps 1";
constexpr char kFieldSeparator = '\t';
constexpr std::size_t kFieldCount = 5;

// A write takes well under a second; a supervisor killed while writing leaves its lock behind,
// and the next one's writes are refused only until it expires.
constexpr int32_t kLockSeconds = 10;

bool writable(const std::string& text) {
    return text.find_first_of(std::string("\t\r\n\0", 4)) == std::string::npos;
}

std::vector<std::string> splitFields(const std::string& line) {
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = line.find(kFieldSeparator, start);
        fields.push_back(line.substr(start, end - start));
        if (end == std::string::npos)
            return fields;
        start = end + 1;
    }
}

// Decimal digits only, within the type: no sign, blank or hex that from_chars might let by.
template <typename Number> bool parseNumber(const std::string& text, Number& value) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    const auto parsed = std::from_chars(text.data(), text.data() + text.size(), value);
    return parsed.ec == std::errc() && parsed.ptr == text.data() + text.size();
}

bool parseRecord(const std::string& line, AppRecord& record) {
    if (line.find_first_of(std::string("\r\0", 2)) != std::string::npos)
        return false;
    const std::vector<std::string> fields = splitFields(line);
    if (fields.size() != kFieldCount)
        return false;
    record.name = fields[0];
    record.program = fields[4];
    return parseNumber(fields[1], record.processId) && parseNumber(fields[2], record.threadId) &&
           parseNumber(fields[3], record.startTime);
}

// The lines that end in LF, each without it (and without a CR before it, for a file that an
// editor has touched). What follows the last LF was cut short.
std::vector<std::string> completeLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end = text.find('\n'); end != std::string::npos;
         start = end + 1, end = text.find('\n', start)) {
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(std::move(line));
    }
    return lines;
}

// The File library's exception says what failed; the system error left by the call that failed
// says why (a link at the path, a missing folder, no right to write), which is what an operator
// needs. A lock held by another writer is no system error.
std::string failureText(const Exception& failure, int32_t systemError) {
    std::string text = failure.describe();
    if (!failure.detail().empty())
        text += " (" + failure.detail() + ")";
    if (systemError != 0 && failure.code() != FL_IS_LOCKED)
        text += ": " + systemErrorText(systemError);
    return text;
}

} // namespace

AppRecordFile::AppRecordFile(std::string path) : path_(std::move(path)) {}

std::vector<AppRecord> AppRecordFile::read() const {
    std::string text;
    try {
        FilePlain file(path_);
        file.open(FileBase::kRead);
        text = file.readAll();
        file.close();
    } catch (const Exception&) {
        return {};
    } catch (const std::exception&) {
        return {};
    }
    const std::vector<std::string> lines = completeLines(text);
    std::vector<AppRecord> records;
    if (lines.empty() || lines[0] != kVersionLine)
        return records;
    for (std::size_t index = 1; index < lines.size(); ++index) {
        AppRecord record;
        if (parseRecord(lines[index], record))
            records.push_back(std::move(record));
    }
    return records;
}

bool AppRecordFile::write(const std::vector<AppRecord>& records, std::string& why) const {
    why.clear();
    if (path_.empty()) {
        why = "no file is named for the application records";
        return false;
    }
    std::string text = std::string(kVersionLine) + '\n';
    std::string leftOut;
    for (const AppRecord& record : records) {
        if (!writable(record.name) || !writable(record.program)) {
            leftOut += leftOut.empty() ? "" : ", ";
            leftOut += std::to_string(record.processId);
            continue;
        }
        text += record.name + kFieldSeparator + std::to_string(record.processId) + kFieldSeparator +
                std::to_string(record.threadId) + kFieldSeparator +
                std::to_string(record.startTime) + kFieldSeparator + record.program + '\n';
    }
    try {
        FilePlain file(path_);
        file.setLockDuration(TimeSpan(kLockSeconds));
        file.open(FileBase::kWrite);
        file.write(text);
        file.close();
    } catch (const Exception& failure) {
        why = "cannot write " + path_ + ": " + failureText(failure, lastSystemError());
        return false;
    } catch (const std::exception& failure) {
        why = "cannot write " + path_ + ": " + failure.what();
        return false;
    }
    if (!leftOut.empty())
        why = "records holding a tab, line break or zero byte were left out (processes " + leftOut +
              ")";
    return true;
}

std::string appRecordFileName(const std::string& userTag) {
    std::string name = "Wardex_" + userTag + ".apps";
    for (char& byte : name)
        if (byte == '/' || byte == '\\')
            byte = '_';
    return name;
}

std::string appRecordPath(const std::string& userTag) {
    std::string why;
    return appRecordPath(userTag, why);
}

} // namespace Kalvor
