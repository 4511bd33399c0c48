// A log entry in memory, its one-line wire text, and the line written to a log file.
//
// Wire text: fields each followed by 0x1C: "Kalvor", "LOG" or "DEBUG", source number, module
// number, time in seconds since 1970, severity or debug level, text, and for catalog entries
// the message number. It is the body of the "LOGMSG" messages sent to the core process, so its
// layout is an external format. The text's zero bytes and 0x1C are written escaped ("\x00",
// "\x1c"), so that no text can end the wire text early or add a field (LogParams escapes the
// list's own separators inside each parameter).
//
// Written line: kind column (severity name or "debug-<level>", padded to 8, one blank), time
// stamp and one blank, id "(source.module.message)" or "(source.module)" plus three blanks for
// an entry without message number, one blank, text. The log file adds the line end. In the text
// every byte below 32 but TAB is shown escaped ("\r", "\n", else "\x" and two lower-case hex
// digits; backslashes stay as they are), so a logged text never starts a line of its own. The
// one line break kept is an exception report's continuation, "\r\n" followed by "  >  ": the
// line it starts always begins with "  >  ", which no entry's line does.
#pragma once

#include "Time/DateTime.h"

#include <cstdint>
#include <optional>
#include <string>

namespace Kalvor {

enum class LogKind { Catalog, Debug };

// How time stamps are shown: 1 local time with its zone offset, 2 UTC; 0 (unset) shows UTC.
enum TimeMode : int32_t { kTimeUnset = 0, kTimeLocal = 1, kTimeZulu = 2 };

struct LogRecord {
    static constexpr char kFieldSeparator = '\x1C';
    // The message number of an entry that has none: every debug entry.
    static constexpr int32_t kNoMessageNumber = 99999;

    LogKind kind = LogKind::Debug;
    int32_t sourceNumber = 0;
    int32_t moduleNumber = 0;
    // None when the wire text held a second count that is no instant.
    std::optional<DateTime> time;
    int32_t severity = 0;
    int32_t debugLevel = 0;
    // Debug entries: the text. Catalog entries: the encoded parameter list (LogParams), until
    // the messenger replaces it by the expanded message.
    std::string text;
    int32_t messageNumber = kNoMessageNumber;

    std::string wireText() const;
    // False, leaving `record` unspecified, unless the first field is exactly "Kalvor" and the
    // second "LOG" or "DEBUG". Numbers are read as atoi reads them.
    static bool parse(const std::string& wireText, LogRecord& record);
    // Tells a debug entry's wire text without parsing it.
    static bool isDebugWireText(const std::string& wireText);

    // `messageFound` tells, for a catalog entry, whether `text` is the expanded message; when
    // not, the line says "(Message not found.)" and shows the raw parameters.
    std::string line(bool messageFound, int32_t timeMode) const;
};

// A time as log lines and event lines show it in the given mode.
std::string logTimeText(const DateTime& time, int32_t timeMode);

} // namespace Kalvor
