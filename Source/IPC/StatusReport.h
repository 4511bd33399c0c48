// The supervisor's answer to "STATUS": one record per listed application, packed into the text
// of one message. Shared by the supervisor and wardexctl.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace Kalvor {

struct StatusRecord {
    std::string name;
    std::string id;
    std::string state; // "running", "asking", "stopped", "stopping", "not started", "given up"
    uint32_t processId = 0; // 0: none
    int32_t restarts = 0;
    std::string lastStart;  // ISO 8601; empty when never started
    bool active = false;
    // How its last process ended; the signal on posix only.
    std::optional<int32_t> exitCode;
    std::optional<int32_t> exitSignal;
    // Why it is not running (stopped, given up, not active); empty otherwise.
    std::string reason;

    bool operator==(const StatusRecord& other) const {
        return name == other.name && id == other.id && state == other.state &&
               processId == other.processId && restarts == other.restarts &&
               lastStart == other.lastStart && active == other.active &&
               exitCode == other.exitCode && exitSignal == other.exitSignal &&
               reason == other.reason;
    }
};

// Any text a name or id can hold (everything but ESC and the zero byte, which a message line
// cannot carry) packs and unpacks unchanged.
std::string packStatus(const std::vector<StatusRecord>& records);
// False for a text that is not a packed status.
bool unpackStatus(const std::string& text, std::vector<StatusRecord>& records);

// The usual name of a signal number that every Linux architecture shares ("SIGKILL" for 9);
// null for the others.
const char* signalName(int32_t signal);

} // namespace Kalvor
