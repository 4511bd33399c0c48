// A mailslot: a receiver that drains its own slot, or a sender to another process's slot.
//
// Mode 0 (receiver) creates "\\.\mailslot\NAME" at once; IC_CANNOT_CREATE_COMM when it cannot,
// for example because a live receiver holds the name. Modes 1 (local machine) and 2 (broadcast,
// "\\*\mailslot\NAME") open the receiver's slot on the first send and keep it open; a failed
// write closes it, so the next send opens it again. A text is written as one datagram with its
// terminating zero byte. Every write holds the machine-wide writer lock "Kalvor_MailSlot"; a
// sender waits its turn for it (yielding, then pausing a millisecond between tries) and gives
// up with IC_CANNOT_SEND after 10 seconds. One object is used by one thread at a time.
//
// posix: the slot is a Unix datagram socket at <folder>/NAME, "/" and "\" in NAME made "_",
// the folder being the account's own, mode 0700 (AccountFolder.h): "<base>/<uid>", the base
// $KALVOR_MAILSLOT_DIR (read when the slot is first used), else /tmp/kalvor-mailslots, or where
// another account has taken that name, the account's runtime folder. So no other account can
// take, block or read an account's names. A receiver holds an flock on <folder>/NAME.lock for
// its life, which is how a second receiver of the name is refused and a socket file left by a
// dead one is known to be stale and replaced; it removes both files as it goes. Its own thread
// drains the socket continuously into the object's queue, so that senders never stall on the
// kernel's ten-deep datagram queue; receive() takes what that queue holds. While the queue
// holds more than 64 MiB the thread stops draining until the next receive(): senders then wait
// up to half a second and fail with IC_CANNOT_SEND, so an overflowing receiver shows as failed
// sends rather than as silent loss. A send to a name without a live receiver fails with the
// text of ENOENT. Broadcast reaches the local machine only. The largest message is what one
// datagram can hold: twice net.core.wmem_max bytes, at most 8 MiB. Every received datagram
// carries its sender's user and process ids, as the kernel reports them, and only datagrams of
// the receiver's own account, root and the addressed account (useAccount) are taken: the others
// are dropped unread and counted (droppedFromOthers()). A sender delivers only to a socket file
// of those accounts, checked on the file it opened, never through a link.
//
// win32: a receiver made with kOwnAccount (the default) lets only its own account, SYSTEM and
// the Administrators write; kEveryone, for a caller that asks for it, lets every account write,
// as a null access list does. Names are machine-wide, so a local sender reads the owner of the
// slot it opened and refuses (IC_CANNOT_SEND, "NAME belongs to another account") one owned by
// another account; where the system shows no owner (Wine's client handles) and for broadcast,
// it sends unchecked. Received datagrams carry no sender (Datagram.h). posix ignores the choice:
// there the receiver checks each datagram's sender itself.
#pragma once

#include "IPC/Datagram.h"
#include "IPC/IPCChannel.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace Kalvor {

class Monopoly;
class MailSlotEndpoint;

class MailSlot : public IPCChannel {
public:
    static constexpr int32_t kReceiver = 0;
    static constexpr int32_t kLocalSender = 1;
    static constexpr int32_t kBroadcastSender = 2;

    enum class Writers { kEveryone, kOwnAccount };
    static constexpr uint32_t kWaitForever = 0xFFFFFFFFu;

    // `name` is the bare slot name, without a "\\.\mailslot\" prefix.
    MailSlot(int32_t mode, const std::string& name, Writers writers = Writers::kOwnAccount);
    ~MailSlot() override;

    // Returns the writer lock's release result. IC_NOT_SENDER on a receiver; IC_CANNOT_SEND
    // when the slot cannot be opened or written, or the text holds a zero byte (the receiver
    // would see it cut there).
    bool send(const std::string& text) override;
    // IC_NOT_RECEIVER on a sender; on IC_CANNOT_RECEIVE the texts already appended stay.
    void receive(std::vector<std::string>& texts) override;
    // The same, with each datagram's sender where the platform reports it.
    void receive(std::vector<Datagram>& datagrams);
    // Receivers: waits up to `milliseconds` (kWaitForever: no limit) until receive() has
    // something to give, or interruptWait() is called; false when nothing came. It takes nothing
    // itself.
    bool waitForMessage(uint32_t milliseconds);
    // Receivers, from any thread: ends the wait under way, or the next one, at once.
    void interruptWait();

    // Receivers: how many datagrams from other accounts were dropped so far (posix; win32's
    // access list keeps them out before they arrive, so 0 there). Any thread may ask.
    uint64_t droppedFromOthers() const;
    // Receivers: the next dropped datagram ends the next wait too, once.
    void wakeOnNextDrop();

    // Whose mailslots this process makes and sends to from now on, by account name or number:
    // its own by default; root may choose another (posix: that account's folder, where root's
    // tools then answer among the account's names). False, with `why`, for an unknown account,
    // or another account asked for by anyone but root. win32: names are machine-wide there and
    // carry the account in them, so only the caller's names change.
    static bool useAccount(const std::string& account, std::string& why);

    const std::string& name() const { return name_; }

private:
    std::string name_;
    std::unique_ptr<Monopoly> writerLock_;
    std::unique_ptr<MailSlotEndpoint> endpoint_;
};

} // namespace Kalvor
