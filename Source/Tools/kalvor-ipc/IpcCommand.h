// kalvor-ipc's work, callable in-process: one message line to a mailslot, or a mailslot's
// traffic printed as it arrives.
//
//   send   TARGET TYPE ID TEXT [SENDER]
//   listen NAME [--count N] [--seconds S] [--raw]
//
// listen prints each received line as its four fields (type, id, text, sender) separated by
// tabs, or with --raw as the whole line; bytes that would not show are written as escapes: ESC
// as \e, tab \t, line feed \n, carriage return \r, backslash \\, other control bytes \xHH. A
// line not addressed to "Kalvor" is printed whole after "#ignored" and a tab. Output is flushed
// line by line. It ends after N lines, after S seconds or when `stopRequested` says so, and
// removes its mailslot on the way out.
// Returns the exit value: 0 done (for send: the line was handed to the transport), 1 failed
// (the exception's report on `err`), 2 bad arguments (a message and the usage on `err`).
#pragma once

#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

namespace Kalvor {

// `arguments` excludes the program name.
int runIpcCommand(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err,
                  const std::function<bool()>& stopRequested);

// A received line as listen prints it (without the line break).
std::string formatReceivedLine(const std::string& line, bool raw);

// `bytes` with every byte that would not show written as an escape (see above).
std::string visibleText(const std::string& bytes);
// The same for a person to read, not to parse back: a backslash stays one, as in a Windows path.
std::string readableText(const std::string& bytes);

} // namespace Kalvor
