// Free functions on 8-bit byte strings, shared by the configuration reader, the logger and the
// supervisor's IPC handling.
//
// A byte is blank when its unsigned value is 0 to 32; bytes 128-255 are ordinary characters, so
// UTF-8 names survive trimming and splitting.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace Kalvor {

bool isBlank(char byte);

// Each returns the number of bytes removed.
std::size_t trimLeft(std::string& text);
std::size_t trimRight(std::string& text);
std::size_t trim(std::string& text);

void toLower(std::string& text);
std::string lowerCopy(const std::string& text);

// Removes one pair of matching outer quotes, '"' or '\''; a lone quote character becomes "".
void unquote(std::string& text);

// Occurrences of `byte` in text[start, start + length), cut at the end of the text.
std::size_t countChar(char byte, const std::string& text, std::size_t start, std::size_t length);
std::size_t replaceChar(std::string& text, char from, char to);
void padRight(std::string& text, std::size_t length, char fill);

// Removes and returns the text before the first separator (the separator goes too); without a
// separator the whole text is returned and `text` is left empty.
std::string cutField(std::string& text, char separator);

// Splits at every separator into `parts` (cleared first). With maxParts > 0 the last part holds
// the rest of the text unsplit; 0 means no limit. A trailing separator adds no empty part.
void split(const std::string& text, char separator, std::vector<std::string>& parts,
           std::size_t maxParts = 0);

bool matchesAt(const std::string& text, std::size_t offset, const std::string& pattern);
std::string intToString(int32_t value);

// The text with every byte for which `escaped` holds written as "\r", "\n" or "\x" and two
// lower-case hex digits; all other bytes, backslashes too, are kept as they are. How log lines
// and log wire texts show the bytes they must not carry raw.
std::string escapeBytes(const std::string& text, bool (*escaped)(char byte));

// A received text as a log line quotes it: the whole text up to `limit` bytes, else its first
// `limit` bytes and "…(N bytes)" (UTF-8 ellipsis, N the whole length), so that no sender
// can fill the log with long messages.
std::string quotedExcerpt(const std::string& text, std::size_t limit = 1000);

} // namespace Kalvor
