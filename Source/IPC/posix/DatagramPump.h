// Drains a bound datagram socket on a thread of its own into a queue of datagrams, each with its
// sender's user and process ids as the kernel reports them (the socket must have SO_PASSCRED).
//
// A Windows mailslot buffers whatever is written to it; the kernel queues only a handful of
// datagrams per Unix socket. The pump keeps that queue empty so senders never wait on a receiver
// that polls slowly. take() drains the socket once more itself, so it also sees what was sent a
// moment ago, as a mailslot would. Texts keep arrival order and are cut at their first zero
// byte. A datagram larger than twice net.core.wmem_max, which only a sender with a forced send
// buffer can make, is dropped. While the queue holds more than `byteLimit` bytes nothing more is
// read (the kernel queue then fills and senders see it) until take() empties the queue.
//
// Only the accounts given may reach the receiver: a datagram from any other, or without a
// sender the kernel reported, is dropped as it is read, before its text is copied or queued,
// and counted (dropped()). So a flood from another account costs a read each and no memory.
#pragma once

#include "Common/posix/UniqueFd.h"
#include "IPC/Datagram.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace Kalvor::MailSlotPosix {

class DatagramPump {
public:
    // `wake` is a non-blocking eventfd that only the pump uses. Starts the thread; throws
    // std::system_error when it cannot.
    DatagramPump(UniqueFd socket, UniqueFd wake, std::size_t byteLimit,
                 std::vector<uint32_t> acceptedUsers);
    // Stops and joins the thread.
    ~DatagramPump();
    DatagramPump(const DatagramPump&) = delete;
    DatagramPump& operator=(const DatagramPump&) = delete;

    // Moves every waiting datagram to the end of `datagrams`. False once reading the socket has
    // failed; the datagrams read before the failure are moved all the same.
    bool take(std::vector<Datagram>& datagrams);
    // Waits up to `milliseconds` until a datagram is queued (or reading failed) or interrupt()
    // is called; false when none came.
    bool waitForData(uint32_t milliseconds);
    // Ends the wait under way, or the next one; any thread may call it.
    void interrupt();
    // How many datagrams from other accounts were dropped so far; any thread may ask.
    uint64_t dropped() const { return dropped_.load(); }
    // The next dropped datagram also ends a wait (once), so that a receiver can report drops
    // without waking for each one.
    void wakeOnNextDrop() { wakeOnDrop_.store(true); }

private:
    void run();
    // With mutex_ held: reads up to `limit` datagrams into the queue, fewer when the socket is
    // empty, the queue full or reading failed; returns how many.
    std::size_t drainLocked(std::size_t limit);
    void moveQueueLocked(std::vector<Datagram>& datagrams);
    void wakeThread();

    const UniqueFd socket_;
    const UniqueFd wake_;
    const std::size_t byteLimit_;
    const std::vector<uint32_t> acceptedUsers_;
    std::atomic<uint64_t> dropped_{0};
    std::atomic<bool> wakeOnDrop_{false};

    // Guards the queue and every read of the socket, so that texts are queued in the order in
    // which they were read.
    std::mutex mutex_;
    std::condition_variable queued_;
    std::vector<Datagram> queue_;
    std::size_t bufferSize_;
    std::unique_ptr<char[]> buffer_; // uninitialised: pages are only touched by large datagrams
    std::size_t queuedBytes_ = 0;
    bool full_ = false;
    bool failed_ = false;
    bool interrupted_ = false;
    bool dropSeen_ = false;

    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

} // namespace Kalvor::MailSlotPosix
