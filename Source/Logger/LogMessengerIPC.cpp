#include "Logger/LogMessengerIPC.h"

#include "IPC/IPCClient.h"
#include "Logger/LogRecord.h"

namespace Kalvor {

LogMessengerIPC::LogMessengerIPC() = default;

LogMessengerIPC::~LogMessengerIPC() = default;

bool LogMessengerIPC::write(const std::string& wireText) {
    const bool written = LogMessenger::write(wireText);
    if (LogRecord::isDebugWireText(wireText))
        return written;
    try {
        std::lock_guard<std::mutex> lock(clientMutex_);
        if (!client_)
            client_ = std::make_unique<IPCClient>(kCoreMailslot);
        client_->send(kMessageType, "", wireText);
        return written;
    } catch (...) {
        return false;
    }
}

} // namespace Kalvor
