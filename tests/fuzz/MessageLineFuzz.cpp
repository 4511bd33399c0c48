// libFuzzer target: any bytes as a received IPC line, and cut into four fields to build one. A
// parsed message built again parses to the same fields; a built line parses to what it was built
// from. Traps when an answer breaks its contract.
#include "Common/Exception.h"
#include "Common/StringUtils.h"
#include "IPC/IPCMessage.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

namespace {

using Kalvor::IPCMessage;
using Kalvor::kFieldSeparator;

void check(bool condition) {
    if (!condition)
        __builtin_trap();
}

bool sameFields(const IPCMessage& a, const IPCMessage& b) {
    return a.type == b.type && a.id == b.id && a.text == b.text && a.sender == b.sender;
}

bool holdsEsc(const std::string& field) {
    return field.find(kFieldSeparator) != std::string::npos;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    using namespace Kalvor;
    const std::string line(reinterpret_cast<const char*>(data), size);

    IPCMessage message{"<untouched>", "<untouched>", "<untouched>", "<untouched>"};
    const bool addressed = parseMessageLine(line, message);
    check(addressed == (line.substr(0, line.find(kFieldSeparator)) == kAddressee));
    if (addressed) {
        check(!holdsEsc(message.type) && !holdsEsc(message.id) && !holdsEsc(message.text) &&
              !holdsEsc(message.sender));
        const std::string rebuilt =
            buildMessageLine(message.type, message.id, message.text, message.sender);
        IPCMessage again;
        check(parseMessageLine(rebuilt, again) && sameFields(again, message));
        // A line that ends right after its last field is exactly what the sender built.
        const auto separators = std::count(line.begin(), line.end(), kFieldSeparator);
        if (!line.empty() && line.back() == kFieldSeparator &&
            separators == (message.sender.empty() ? 4 : 5))
            check(rebuilt == line);
    }

    // The input cut at LF into the four fields, the sender taking the rest.
    std::string rest = line;
    IPCMessage fields;
    fields.type = cutField(rest, '\n');
    fields.id = cutField(rest, '\n');
    fields.text = cutField(rest, '\n');
    fields.sender = rest;
    const bool sendable = !holdsEsc(fields.type) && !holdsEsc(fields.id) &&
                          !holdsEsc(fields.text) && !holdsEsc(fields.sender);
    try {
        const std::string built = buildMessageLine(fields.type, fields.id, fields.text,
                                                   fields.sender);
        check(sendable && !built.empty() && built.back() == kFieldSeparator);
        IPCMessage parsed;
        check(parseMessageLine(built, parsed) && sameFields(parsed, fields));
    } catch (const IPCException& error) {
        check(!sendable && error.code() == IC_CANNOT_SEND);
    }
    return 0;
}
