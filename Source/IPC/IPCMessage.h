// The one-line message every process of the suite sends through a mailslot.
//
// A line is "Kalvor", type, id, text and, only when it is not empty, sender, each followed by
// ESC (byte 27), so a line always ends with ESC. Empty fields are nothing between two ESCs;
// fields are neither escaped nor quoted, so none may hold an ESC. No length limit of its own.
#pragma once

#include <string>

namespace Kalvor {

inline constexpr char kFieldSeparator = '\x1b';
inline constexpr const char* kAddressee = "Kalvor";

struct IPCMessage {
    std::string type;
    std::string id;
    std::string text;
    std::string sender; // the sender's own mailslot, where answers go; may be empty
};

// Throws IPCException IC_CANNOT_SEND when a field holds an ESC: the receiver would read the
// fields shifted (a text could name a sender of its own).
std::string buildMessageLine(const std::string& type, const std::string& id,
                             const std::string& text, const std::string& sender);

// Reads a received line: false when its first field is not exactly "Kalvor". Otherwise the next
// four fields fill `message`; a field beyond the end of the line is empty, and anything after
// the fifth field is ignored. A line without any ESC is one first field.
bool parseMessageLine(const std::string& line, IPCMessage& message);

} // namespace Kalvor
