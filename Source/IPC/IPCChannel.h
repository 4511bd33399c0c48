// The transport interface shared by the IPC client and server: one text per datagram.
//
// A channel is made for one mode for its whole life (receiver or sender); the operation that
// does not fit the mode throws. Failures are IPCExceptions.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace Kalvor {

class IPCChannel {
public:
    explicit IPCChannel(int32_t mode) : mode_(mode) {}
    virtual ~IPCChannel() = default;
    IPCChannel(const IPCChannel&) = delete;
    IPCChannel& operator=(const IPCChannel&) = delete;

    // Writes `text` as one datagram; true when it was handed to the transport.
    virtual bool send(const std::string& text) = 0;
    // Appends every waiting text to `texts` in arrival order; never waits for one.
    virtual void receive(std::vector<std::string>& texts) = 0;

    int32_t mode() const { return mode_; }

private:
    int32_t mode_;
};

} // namespace Kalvor
