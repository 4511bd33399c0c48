// The supervisor's answer to "STATUS": one record per listed application, packed into the text
// of one message. Shared by the supervisor and wardexctl.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace Kalvor {

struct StatusRecord {
    std::string name;
    std::string id;
    std::string state;      // "running", "stopped", "not started" or "given up"
    uint32_t processId = 0; // 0: none
    int32_t restarts = 0;
    std::string lastStart;  // ISO 8601; empty when never started
    bool active = false;

    bool operator==(const StatusRecord& other) const {
        return name == other.name && id == other.id && state == other.state &&
               processId == other.processId && restarts == other.restarts &&
               lastStart == other.lastStart && active == other.active;
    }
};

// Any text a name or id can hold (everything but ESC and the zero byte, which a message line
// cannot carry) packs and unpacks unchanged.
std::string packStatus(const std::vector<StatusRecord>& records);
// False for a text that is not a packed status.
bool unpackStatus(const std::string& text, std::vector<StatusRecord>& records);

} // namespace Kalvor
