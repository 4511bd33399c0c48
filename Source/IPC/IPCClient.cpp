#include "IPC/IPCClient.h"

#include "Common/Exception.h"
#include "IPC/IPCMessage.h"
#include "IPC/MailSlot.h"

#include <new>

namespace Kalvor {

IPCClient::IPCClient(std::string target) : target_(std::move(target)) {}

IPCClient::~IPCClient() = default;

bool IPCClient::send(const std::string& type, const std::string& id, const std::string& text,
                     const std::string& sender) {
    try {
        return sendLine(buildMessageLine(type, id, text, sender));
    } catch (IPCException& error) {
        error.addLocation(KALVOR_HERE);
        throw;
    }
}

bool IPCClient::sendLine(const std::string& line) {
    try {
        if (!channel_) {
            try {
                channel_ = std::make_unique<MailSlot>(MailSlot::kLocalSender, target_);
            } catch (const std::bad_alloc&) {
                throw IPCException(IC_MEM, "", KALVOR_HERE);
            }
        }
        channel_->send(line);
        return true;
    } catch (IPCException& error) {
        error.addLocation(KALVOR_HERE);
        throw;
    }
}

} // namespace Kalvor
