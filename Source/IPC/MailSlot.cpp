#include "IPC/MailSlot.h"

#include "Common/Exception.h"
#include "Common/StringUtils.h"
#include "IPC/MailSlotEndpoint.h"
#include "JobInstance/Monopoly.h"
#include "Time/Timer.h"

#include <chrono>
#include <cstring>
#include <new>
#include <thread>

namespace Kalvor {

namespace {

constexpr const char* kWriterLockName = "Kalvor_MailSlot";
constexpr auto kWriterLockPatience = std::chrono::seconds(10);
// A holder keeps the lock for one write, so a few yields nearly always get it; pausing after
// that keeps a waiter from burning a core behind a holder that has been descheduled.
constexpr int kYieldingTries = 200;

// False at once when the lock cannot be had at all (its folder is unusable): waiting would
// not help.
bool waitForWriterLock(Monopoly& lock) {
    const auto deadline = std::chrono::steady_clock::now() + kWriterLockPatience;
    for (int tries = 0; !lock.acquire(); ++tries) {
        if (!lock.failure().empty() || std::chrono::steady_clock::now() >= deadline)
            return false;
        if (tries < kYieldingTries)
            std::this_thread::yield();
        else
            sleepMilliseconds(1);
    }
    return true;
}

} // namespace

std::string datagramText(const char* bytes, std::size_t size) {
    const void* zero = size == 0 ? nullptr : std::memchr(bytes, '\0', size);
    return std::string(bytes, zero ? static_cast<const char*>(zero) - bytes : size);
}

MailSlot::MailSlot(int32_t mode, const std::string& name, Writers writers)
    : IPCChannel(mode), name_(name) {
    if (mode != kReceiver && mode != kLocalSender && mode != kBroadcastSender)
        throw IPCException(IC_CANNOT_CREATE_COMM, "Unknown mode " + intToString(mode), KALVOR_HERE);
    try {
        writerLock_ = std::make_unique<Monopoly>(kWriterLockName);
    } catch (const std::bad_alloc&) {
        throw IPCException(IC_MEM, "", KALVOR_HERE);
    }
    endpoint_ = MailSlotEndpoint::make(mode, name_);
    if (mode == kReceiver)
        endpoint_->createReceiver(writers);
}

MailSlot::~MailSlot() = default;

bool MailSlot::send(const std::string& text) {
    if (mode() == kReceiver)
        throw IPCException(IC_NOT_SENDER, "", KALVOR_HERE);
    if (text.find('\0') != std::string::npos)
        throw IPCException(IC_CANNOT_SEND, "The text holds a zero byte", KALVOR_HERE);
    if (!endpoint_->isSenderOpen())
        endpoint_->openSender();
    if (!waitForWriterLock(*writerLock_))
        throw IPCException(
            IC_CANNOT_SEND,
            std::string("Writer lock \"") + kWriterLockName + "\" " +
                (writerLock_->failure().empty()
                     ? "not free for " +
                           intToString(static_cast<int32_t>(kWriterLockPatience.count())) +
                           " seconds"
                     : "cannot be taken: " + writerLock_->failure()),
            KALVOR_HERE);
    // c_str() carries the terminating zero the receiver expects.
    const int32_t error = endpoint_->write(text.c_str(), text.size() + 1);
    const bool released = writerLock_->release();
    if (error != 0) {
        endpoint_->closeSender();
        throw IPCException(IC_CANNOT_SEND,
                           "Error " + intToString(error) +
                               (isNetworkUnreachable(error) ? " - No network" : ""),
                           KALVOR_HERE);
    }
    return released;
}

void MailSlot::receive(std::vector<std::string>& texts) {
    std::vector<Datagram> datagrams;
    const auto handOn = [&] {
        for (Datagram& datagram : datagrams)
            texts.push_back(std::move(datagram.text));
    };
    try {
        receive(datagrams);
    } catch (const Exception&) {
        handOn(); // what was taken before the failure is not lost
        throw;
    }
    handOn();
}

bool MailSlot::waitForMessage(uint32_t milliseconds) {
    if (mode() != kReceiver)
        throw IPCException(IC_NOT_RECEIVER, "", KALVOR_HERE);
    return endpoint_->waitForDatagram(milliseconds);
}

void MailSlot::interruptWait() {
    if (mode() != kReceiver)
        throw IPCException(IC_NOT_RECEIVER, "", KALVOR_HERE);
    endpoint_->interruptWait();
}

uint64_t MailSlot::droppedFromOthers() const {
    return endpoint_->droppedFromOthers();
}

void MailSlot::wakeOnNextDrop() {
    endpoint_->wakeOnNextDrop();
}

bool MailSlot::useAccount(const std::string& account, std::string& why) {
    return useMailSlotAccount(account, why);
}

void MailSlot::receive(std::vector<Datagram>& datagrams) {
    if (mode() != kReceiver)
        throw IPCException(IC_NOT_RECEIVER, "", KALVOR_HERE);
    endpoint_->receiveInto(datagrams);
}

} // namespace Kalvor
