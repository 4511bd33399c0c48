// The win32 mailslot: CreateMailslotA for the receiver, CreateFileA for the client side.
#include "IPC/MailSlotEndpoint.h"

#include "Common/Exception.h"
#include "Common/StringUtils.h"
#include "Common/SystemError.h"
#include "Common/win32/UniqueHandle.h"
#include "Common/win32/Windows.h"
#include "IPC/MailSlot.h"
#include "IPC/win32/MailSlotSecurity.h"

#include <algorithm>
#include <atomic>
#include <iterator>
#include <new>

namespace Kalvor {

namespace {

constexpr const char* kLocalPrefix = "\\\\.\\mailslot\\";
constexpr const char* kBroadcastPrefix = "\\\\*\\mailslot\\";
constexpr DWORD kWineSizeLimit = 64 * 1024;
constexpr std::size_t kLargeRead = std::size_t(4) << 20;
constexpr DWORD kWaitStepMilliseconds = 5;

class Win32MailSlot final : public MailSlotEndpoint {
public:
    Win32MailSlot(int32_t mode, const std::string& name)
        : name_(name), broadcast_(mode == MailSlot::kBroadcastSender),
          senderPrefix_(broadcast_ ? kBroadcastPrefix : kLocalPrefix) {}

    void createReceiver(MailSlot::Writers writers) override {
        MailSlotSecurity security(writers);
        UniqueHandle slot(::CreateMailslotA((kLocalPrefix + name_).c_str(), 0,
                                            MAILSLOT_WAIT_FOREVER, security.attributes()));
        if (!slot)
            throw IPCException(IC_CANNOT_CREATE_COMM, intToString(lastSystemError()), KALVOR_HERE);
        handle_ = std::move(slot);
    }

    void openSender() override {
        // Opening a slot applies no descriptor: of these attributes only the inheritable handle
        // counts.
        MailSlotSecurity security(MailSlot::Writers::kEveryone);
        UniqueHandle client(::CreateFileA((senderPrefix_ + name_).c_str(), GENERIC_WRITE,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE, security.attributes(),
                                          OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!client)
            throw IPCException(IC_CANNOT_SEND, systemErrorText(lastSystemError()), KALVOR_HERE);
        // Names are machine-wide: another account may hold this one. Where the owner cannot be
        // read (Wine's client handles), the text goes out unchecked; so does a broadcast, whose
        // receivers on other machines have no owner to be read here.
        if (!broadcast_ && slotOwner(client.get()) == SlotOwner::kOtherAccount)
            throw IPCException(IC_CANNOT_SEND, name_ + " belongs to another account", KALVOR_HERE);
        handle_ = std::move(client);
    }

    bool isSenderOpen() const override { return static_cast<bool>(handle_); }

    void closeSender() override { handle_.reset(); }

    int32_t write(const char* bytes, std::size_t size) override {
        DWORD written = 0;
        if (!::WriteFile(handle_.get(), bytes, static_cast<DWORD>(size), &written, nullptr))
            return lastSystemError();
        return written == size ? 0 : ERROR_WRITE_FAULT;
    }

    // Looks for a message every few milliseconds rather than blocking in a read with the slot's
    // time-out: under Wine a message that arrives during such a read is cut at 64 KiB, and a
    // mailslot cannot be waited on together with an event. An interruption is seen at the next
    // look.
    bool waitForDatagram(uint32_t milliseconds) override {
        const DWORD start = ::GetTickCount();
        for (;;) {
            DWORD next = MAILSLOT_NO_MESSAGE;
            if (!::GetMailslotInfo(handle_.get(), nullptr, &next, nullptr, nullptr) ||
                next != MAILSLOT_NO_MESSAGE)
                return true;
            if (interrupted_.exchange(false))
                return false;
            if (milliseconds != MailSlot::kWaitForever && ::GetTickCount() - start >= milliseconds)
                return false;
            ::Sleep(kWaitStepMilliseconds);
        }
    }

    void interruptWait() override { interrupted_.store(true); }

    void receiveInto(std::vector<Datagram>& datagrams) override {
        for (;;) {
            DWORD next = 0;
            if (!::GetMailslotInfo(handle_.get(), nullptr, &next, nullptr, nullptr))
                throw IPCException(IC_CANNOT_RECEIVE, "", KALVOR_HERE);
            if (next == MAILSLOT_NO_MESSAGE)
                return;
            // Wine reports no more than 64 KiB as the next size and cuts a longer message read
            // into a buffer that size: such a report gets room for far larger ones.
            const std::size_t needed = std::max<std::size_t>(
                std::size_t(next) + 1, next >= kWineSizeLimit ? kLargeRead : 0);
            try {
                if (buffer_.size() < needed)
                    buffer_.resize(needed);
            } catch (const std::bad_alloc&) {
                throw IPCException(IC_MEM, "", KALVOR_HERE);
            }
            DWORD read = 0;
            if (!::ReadFile(handle_.get(), buffer_.data(), static_cast<DWORD>(buffer_.size()),
                            &read, nullptr))
                throw IPCException(IC_CANNOT_RECEIVE, "", KALVOR_HERE);
            datagrams.push_back(Datagram{datagramText(buffer_.data(), read), std::nullopt});
        }
    }

private:
    const std::string name_;
    const bool broadcast_;
    const std::string senderPrefix_;
    UniqueHandle handle_;
    std::vector<char> buffer_; // the receiver's, kept for the next message
    std::atomic<bool> interrupted_{false};
};

} // namespace

std::unique_ptr<MailSlotEndpoint> MailSlotEndpoint::make(int32_t mode, const std::string& name) {
    return std::make_unique<Win32MailSlot>(mode, name);
}

bool isNetworkUnreachable(int32_t error) {
    return systemError(error) == std::errc::network_unreachable;
}

// Mailslot names are machine-wide here: the account is in the names the caller forms
// ("Wardex_<user>"), and the access lists decide who may write.
bool useMailSlotAccount(const std::string& account, std::string& why) {
    if (account.empty()) {
        why = "no account given";
        return false;
    }
    return true;
}

} // namespace Kalvor
