// The platform side of MailSlot: the native slot or client side and the calls on it, one
// backend per platform (win32/MailSlot.cpp, posix/MailSlot.cpp). MailSlot keeps the modes, the
// writer lock and the reopen rule. Private to the library.
#pragma once

#include "IPC/Datagram.h"
#include "IPC/MailSlot.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace Kalvor {

class MailSlotEndpoint {
public:
    // Works out where the slot of `name` lives; makes no system object yet.
    static std::unique_ptr<MailSlotEndpoint> make(int32_t mode, const std::string& name);
    virtual ~MailSlotEndpoint() = default;

    // Throws IPCException IC_CANNOT_CREATE_COMM (or IC_MEM).
    virtual void createReceiver(MailSlot::Writers writers) = 0;
    // Throws IPCException IC_CANNOT_SEND with the system's text for the error.
    virtual void openSender() = 0;
    virtual bool isSenderOpen() const = 0;
    virtual void closeSender() = 0;
    // Writes one datagram; returns 0 or the system error number.
    virtual int32_t write(const char* bytes, std::size_t size) = 0;
    // Throws IPCException IC_CANNOT_RECEIVE (or IC_MEM); datagrams appended before stay.
    virtual void receiveInto(std::vector<Datagram>& datagrams) = 0;
    // Waits up to `milliseconds` (kWaitForever: no limit) until a datagram can be received or
    // interruptWait() is called; false when none came.
    virtual bool waitForDatagram(uint32_t milliseconds) = 0;
    // Any thread: ends the wait under way, or the next one.
    virtual void interruptWait() = 0;
    // Any thread: datagrams from other accounts dropped so far (MailSlot::droppedFromOthers).
    virtual uint64_t droppedFromOthers() const { return 0; }
    virtual void wakeOnNextDrop() {}
};

// Whose mailslots this process makes and sends to (MailSlot::useAccount); the platform's part.
bool useMailSlotAccount(const std::string& account, std::string& why);

// Whether a write error means the network cannot be reached (the " - No network" detail).
bool isNetworkUnreachable(int32_t systemError);

// A datagram's text: its bytes up to the first zero byte, or all of them when there is none.
std::string datagramText(const char* bytes, std::size_t size);

} // namespace Kalvor
