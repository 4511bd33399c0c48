#include "Logger/LogRecord.h"

#include "Common/Exception.h"
#include "Common/StringUtils.h"
#include "Logger/DecimalText.h"
#include "Logger/LogCommons.h"
#include "Logger/LogParams.h"

#include <vector>

namespace Kalvor {
namespace {

constexpr const char* kAddressee = "Kalvor";
constexpr const char* kCatalogKind = "LOG";
constexpr const char* kDebugKind = "DEBUG";
constexpr std::size_t kKindColumnWidth = 8;

std::string atLeastTwoDigits(int32_t value) {
    return value >= 0 && value < 10 ? "0" + std::to_string(value) : std::to_string(value);
}

bool breaksWireText(char byte) {
    return byte == '\0' || byte == LogRecord::kFieldSeparator;
}

bool breaksLogLine(char byte) {
    return static_cast<unsigned char>(byte) < 32 && byte != '\t';
}

// The text as a log line shows it: reports keep their continuation lines, which cannot pass for
// an entry; every other control byte is escaped.
std::string lineText(const std::string& text) {
    // How Exception::report() goes on to its next line.
    static const std::string kContinuation = std::string(kLineBreak) + "  >  ";
    std::string out;
    std::size_t from = 0;
    for (auto at = text.find(kContinuation); at != std::string::npos;
         at = text.find(kContinuation, from)) {
        out += escapeBytes(text.substr(from, at - from), breaksLogLine) + kContinuation;
        from = at + kContinuation.size();
    }
    return out + escapeBytes(text.substr(from), breaksLogLine);
}

} // namespace

std::string logTimeText(const DateTime& time, int32_t timeMode) {
    return time.text(TextForm::Extended,
                     timeMode == kTimeLocal ? TextZone::LocalWithZone : TextZone::Utc);
}

std::string LogRecord::wireText() const {
    const bool debug = kind == LogKind::Debug;
    std::string wire;
    wire.reserve(text.size() + 48);
    const auto field = [&wire](const std::string& value) {
        wire += value;
        wire += kFieldSeparator;
    };
    field(kAddressee);
    field(debug ? kDebugKind : kCatalogKind);
    field(std::to_string(sourceNumber));
    field(std::to_string(moduleNumber));
    field(std::to_string(time ? time->seconds() : 0));
    field(std::to_string(debug ? debugLevel : severity));
    field(escapeBytes(text, breaksWireText));
    if (!debug)
        field(std::to_string(messageNumber));
    return wire;
}

bool LogRecord::parse(const std::string& wireText, LogRecord& record) {
    // The six leading fields, then the text, which runs to the last separator of a debug entry
    // and to the one before the message number of a catalog entry: a stray 0x1C inside the
    // text cannot shift the fields after it.
    std::vector<std::string> fields;
    split(wireText, kFieldSeparator, fields, 7);
    fields.resize(7);
    if (fields[0] != kAddressee)
        return false;
    if (fields[1] == kDebugKind)
        record.kind = LogKind::Debug;
    else if (fields[1] == kCatalogKind)
        record.kind = LogKind::Catalog;
    else
        return false;
    record.sourceNumber = leadingDecimal(fields[2]);
    record.moduleNumber = leadingDecimal(fields[3]);
    const int64_t seconds = leadingDecimal64(fields[4]);
    record.time.reset();
    if (seconds >= 0 && seconds <= DateTime::kLatestSeconds) {
        DateTime time(1970, 1, 1, 0, 0, 0);
        time.setSeconds(static_cast<int32_t>(seconds));
        record.time = time;
    }
    const int32_t level = leadingDecimal(fields[5]);
    std::string rest = fields[6];
    if (!rest.empty() && rest.back() == kFieldSeparator)
        rest.pop_back();
    if (record.kind == LogKind::Debug) {
        record.debugLevel = level;
        record.severity = 0;
        record.text = rest;
        record.messageNumber = kNoMessageNumber;
        return true;
    }
    record.severity = level;
    record.debugLevel = 0;
    const auto last = rest.rfind(kFieldSeparator);
    if (last == std::string::npos) {
        record.text = rest;
        record.messageNumber = 0;
    } else {
        record.text = rest.substr(0, last);
        record.messageNumber = leadingDecimal(rest.substr(last + 1));
    }
    return true;
}

bool LogRecord::isDebugWireText(const std::string& wireText) {
    return wireText.size() > 11 && wireText.compare(7, 5, kDebugKind) == 0;
}

std::string LogRecord::line(bool messageFound, int32_t timeMode) const {
    const bool debug = kind == LogKind::Debug;
    std::string out =
        debug ? "debug-" + std::to_string(debugLevel) : LogCommons::severityName(severity);
    padRight(out, kKindColumnWidth, ' ');
    out += ' ';

    std::string stamp;
    try {
        if (time)
            stamp = logTimeText(*time, timeMode) + " ";
    } catch (const Exception&) {
        stamp.clear();
    }
    out += stamp.empty() ? "INVALID TIME STAMP  " : stamp;

    out += "(" + std::to_string(sourceNumber) + "." + atLeastTwoDigits(moduleNumber);
    out += messageNumber == kNoMessageNumber ? ")   " : "." + atLeastTwoDigits(messageNumber) + ")";
    out += ' ';

    if (debug || messageFound) {
        out += lineText(text);
    } else {
        out += "(Message not found.)";
        if (!text.empty())
            out += " Parameters: " + lineText(renderRawParameters(text));
    }
    return out;
}

} // namespace Kalvor
