// wardexctl's two forms of the supervisor's status: a table for people, JSON for programs.
//
// The table has the columns NAME, STATE, PID, RESTARTS, STARTED and LAST EXIT ("exit 3",
// "SIGKILL"), each as wide as its widest entry (counted in UTF-8 characters) and two blanks
// apart, with "-" for no process, never started and not known; bytes that would not show are
// written as kalvor-ipc writes them (visibleText). The JSON is an array of one object per record
// with the keys "name", "id", "state", "pid" (number, or null for none), "restarts",
// "last_start" (text, or null for never), "active" (true or false), "exit_code" and
// "exit_signal" (numbers, or null) and "reason" (text, or null), one object a line. Both end
// with a line break.
#pragma once

#include "IPC/StatusReport.h"

#include <string>
#include <vector>

namespace Kalvor {

std::string statusTable(const std::vector<StatusRecord>& records);
std::string statusJson(const std::vector<StatusRecord>& records);

// The bytes as a JSON string with its quotes: '"' and '\' escaped with a backslash, control
// bytes (DEL too) and every byte from 0x80 on as \u00XX. A name is any 8-bit text, not always
// UTF-8, so bytes are read as Latin-1 and the output is valid printable ASCII JSON whatever
// they hold.
std::string jsonString(const std::string& bytes);

} // namespace Kalvor
