// The Windows command line of a process job: built from a program path and an argument text, and
// split into arguments again where the platform starts programs from an argument vector.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace Kalvor {

// The longest command line a job starts: its buffer holds 32,768 bytes with the terminator, the
// Windows limit. A longer line is refused, never cut.
inline constexpr std::size_t kMaxCommandLineLength = 32767;

// The path (in double quotes when it contains a blank), one blank, then the argument text
// unchanged, so an empty argument text leaves a trailing blank.
std::string buildCommandLine(const std::string& programPath, const std::string& arguments);

// Splits as the Microsoft C runtime builds argv, so a program sees the same arguments on both
// platforms:
// - the program name (first argument) ends at the first blank or tab outside double quotes; its
//   quotes only group, backslashes are plain characters;
// - the other arguments are separated by blanks and tabs outside double quotes; a double quote
//   starts or ends a quoted part, and "" inside a quoted part is one literal double quote;
// - 2n backslashes before a double quote give n backslashes and the quote delimits; 2n+1 give n
//   backslashes and a literal double quote; backslashes anywhere else are plain characters.
// CommandLineToArgvW differs only for "" inside quotes (it also ends the quoted part there).
// The result always holds the program name, possibly empty.
std::vector<std::string> splitCommandLine(const std::string& commandLine);

// The command line that splitCommandLine() splits into exactly these words: the program name in
// double quotes when it holds a blank, each argument quoted and escaped where it needs to be.
std::string joinCommandLine(const std::vector<std::string>& words);

} // namespace Kalvor
