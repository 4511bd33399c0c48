// A messenger that also forwards every catalog entry to the suite's core process: the entry's
// wire text, unchanged, as the body of a "LOGMSG" message to the mailslot "Kalvor_Core". Debug
// entries stay in the local log.
//
// The IPC client is made by the first forwarded entry and kept; sends are serialised, since a
// client serves one thread at a time.
#pragma once

#include "Logger/LogMessenger.h"

#include <memory>
#include <mutex>
#include <string>

namespace Kalvor {

class IPCClient;

class LogMessengerIPC : public LogMessenger {
public:
    static constexpr const char* kCoreMailslot = "Kalvor_Core";
    static constexpr const char* kMessageType = "LOGMSG";

    LogMessengerIPC();
    ~LogMessengerIPC() override;

    // The local write's result; false as well when a catalog entry could not be handed to the
    // core (for example when no core process listens). Never throws.
    bool write(const std::string& wireText) override;

private:
    std::mutex clientMutex_;
    std::unique_ptr<IPCClient> client_;
};

} // namespace Kalvor
