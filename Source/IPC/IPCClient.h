// The sending side of the suite's IPC: message lines to one receiver's mailslot.
//
// The local-machine sender mailslot is made on the first send and kept for later ones, so a
// client that never sends opens nothing. Failures are IPCExceptions; each one passing through
// the client gets the client's location added to its trail on the way out.
#pragma once

#include <memory>
#include <string>

namespace Kalvor {

class MailSlot;

class IPCClient {
public:
    // `target` is the receiver's bare mailslot name; never fails for a name.
    explicit IPCClient(std::string target);
    ~IPCClient();
    IPCClient(const IPCClient&) = delete;
    IPCClient& operator=(const IPCClient&) = delete;

    // Builds the message line from the fields and sends it; true once it is handed over.
    bool send(const std::string& type, const std::string& id, const std::string& text,
              const std::string& sender = std::string());
    // Sends a finished line as it is; true once it is handed over.
    bool sendLine(const std::string& line);

    const std::string& target() const { return target_; }
    bool hasChannel() const { return channel_ != nullptr; }

private:
    std::string target_;
    std::unique_ptr<MailSlot> channel_;
};

} // namespace Kalvor
