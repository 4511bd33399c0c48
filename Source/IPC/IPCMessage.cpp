#include "IPC/IPCMessage.h"

#include "Common/Exception.h"
#include "Common/StringUtils.h"

namespace Kalvor {

namespace {

void appendField(std::string& line, const char* what, const std::string& field) {
    if (field.find(kFieldSeparator) != std::string::npos)
        throw IPCException(IC_CANNOT_SEND, std::string("The ") + what + " holds an ESC byte",
                           KALVOR_HERE);
    line += field;
    line += kFieldSeparator;
}

} // namespace

std::string buildMessageLine(const std::string& type, const std::string& id,
                             const std::string& text, const std::string& sender) {
    std::string line;
    line.reserve(type.size() + id.size() + text.size() + sender.size() + 16);
    appendField(line, "addressee", kAddressee);
    appendField(line, "type", type);
    appendField(line, "id", id);
    appendField(line, "text", text);
    if (!sender.empty())
        appendField(line, "sender", sender);
    return line;
}

bool parseMessageLine(const std::string& line, IPCMessage& message) {
    std::string rest = line;
    if (cutField(rest, kFieldSeparator) != kAddressee)
        return false;
    message.type = cutField(rest, kFieldSeparator);
    message.id = cutField(rest, kFieldSeparator);
    message.text = cutField(rest, kFieldSeparator);
    message.sender = cutField(rest, kFieldSeparator);
    return true;
}

} // namespace Kalvor
