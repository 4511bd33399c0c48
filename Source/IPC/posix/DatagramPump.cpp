#include "IPC/posix/DatagramPump.h"

#include "Common/posix/HelperThread.h"
#include "IPC/MailSlotEndpoint.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <limits>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace Kalvor::MailSlotPosix {

namespace {
// Datagrams read per hold of the lock, so that take() never waits long for the thread.
constexpr std::size_t kBatchSize = 256;
// What one queued datagram costs beyond its bytes.
constexpr std::size_t kEntryOverhead = sizeof(Datagram);

// The credentials the kernel attached. Without them, or with the control data cut short (a
// sender's own control messages could do that), the datagram is from nobody this process knows.
// Descriptors a sender passed along are closed: nothing here takes them.
std::optional<SenderIdentity> senderOf(msghdr& message) {
    std::optional<SenderIdentity> sender;
    for (cmsghdr* header = CMSG_FIRSTHDR(&message); header != nullptr;
         header = CMSG_NXTHDR(&message, header)) {
        if (header->cmsg_level != SOL_SOCKET)
            continue;
        if (header->cmsg_type == SCM_CREDENTIALS && header->cmsg_len >= CMSG_LEN(sizeof(ucred))) {
            ucred credentials{};
            std::memcpy(&credentials, CMSG_DATA(header), sizeof credentials);
            sender = SenderIdentity{static_cast<uint32_t>(credentials.uid),
                                    static_cast<uint32_t>(credentials.pid)};
        } else if (header->cmsg_type == SCM_RIGHTS) {
            const std::size_t count = (header->cmsg_len - CMSG_LEN(0)) / sizeof(int);
            for (std::size_t i = 0; i < count; ++i) {
                int descriptor = -1;
                std::memcpy(&descriptor, CMSG_DATA(header) + i * sizeof(int), sizeof descriptor);
                ::close(descriptor);
            }
        }
    }
    if (!sender || (message.msg_flags & MSG_CTRUNC))
        return SenderIdentity{kUnknownSender, 0};
    return sender;
}

// No unprivileged sender can make a datagram larger than its send buffer, which the kernel
// caps at twice net.core.wmem_max.
std::size_t largestSendableDatagram() {
    std::size_t limit = 0;
    std::ifstream("/proc/sys/net/core/wmem_max") >> limit;
    return limit > 0 ? 2 * limit : std::size_t(8) << 20;
}
} // namespace

DatagramPump::DatagramPump(UniqueFd socket, UniqueFd wake, std::size_t byteLimit,
                           std::vector<uint32_t> acceptedUsers)
    : socket_(std::move(socket)), wake_(std::move(wake)), byteLimit_(byteLimit),
      acceptedUsers_(std::move(acceptedUsers)),
      bufferSize_(largestSendableDatagram() + 1), buffer_(new char[bufferSize_]),
      thread_(startHelperThread([this] { run(); })) {}

DatagramPump::~DatagramPump() {
    stopping_ = true;
    wakeThread();
    thread_.join();
}

bool DatagramPump::take(std::vector<Datagram>& texts) {
    bool wasFull = false;
    bool failed = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        wasFull = full_;
        moveQueueLocked(texts);
        drainLocked(std::numeric_limits<std::size_t>::max());
        moveQueueLocked(texts);
        failed = failed_;
    }
    if (wasFull)
        wakeThread();
    return !failed;
}

bool DatagramPump::waitForData(uint32_t milliseconds) {
    std::unique_lock<std::mutex> lock(mutex_);
    const auto ready = [&] { return !queue_.empty() || failed_ || interrupted_ || dropSeen_; };
    if (milliseconds == MailSlot::kWaitForever)
        queued_.wait(lock, ready);
    else
        queued_.wait_for(lock, std::chrono::milliseconds(milliseconds), ready);
    interrupted_ = false;
    dropSeen_ = false;
    return !queue_.empty() || failed_;
}

void DatagramPump::interrupt() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        interrupted_ = true;
    }
    queued_.notify_all();
}

void DatagramPump::moveQueueLocked(std::vector<Datagram>& texts) {
    texts.insert(texts.end(), std::make_move_iterator(queue_.begin()),
                 std::make_move_iterator(queue_.end()));
    queue_.clear();
    queuedBytes_ = 0;
    full_ = false;
}

void DatagramPump::wakeThread() {
    const uint64_t one = 1;
    // A full counter already means "wake up"; nothing else can go wrong with an eventfd.
    [[maybe_unused]] const ssize_t written = ::write(wake_.get(), &one, sizeof one);
}

void DatagramPump::run() {
    bool reading = true;
    while (!stopping_) {
        pollfd watched[2] = {{wake_.get(), POLLIN, 0}, {reading ? socket_.get() : -1, POLLIN, 0}};
        if (::poll(watched, 2, -1) < 0)
            continue; // EINTR; poll fails otherwise only for bad arguments
        if (watched[0].revents & POLLIN) {
            uint64_t count = 0;
            [[maybe_unused]] const ssize_t got = ::read(wake_.get(), &count, sizeof count);
        }
        for (std::size_t read = kBatchSize; read == kBatchSize && !stopping_;) {
            std::lock_guard<std::mutex> lock(mutex_);
            read = drainLocked(kBatchSize);
            reading = !full_ && !failed_;
            if (!queue_.empty() || failed_ || dropSeen_)
                queued_.notify_all();
        }
    }
}

std::size_t DatagramPump::drainLocked(std::size_t limit) {
    std::size_t count = 0;
    while (count < limit && !full_ && !failed_) {
        // One call per datagram; the buffer holds the largest one, and MSG_TRUNC tells of any
        // larger one, which only a sender with a forced send buffer could have made.
        iovec bytes{buffer_.get(), bufferSize_};
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(ucred))];
        msghdr message{};
        message.msg_iov = &bytes;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        const ssize_t got = ::recvmsg(socket_.get(), &message, MSG_DONTWAIT | MSG_TRUNC);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            failed_ = errno != EAGAIN && errno != EWOULDBLOCK;
            break;
        }
        if (static_cast<std::size_t>(got) >= bufferSize_) {
            bufferSize_ = static_cast<std::size_t>(got) + 1;
            buffer_.reset(new char[bufferSize_]);
            continue;
        }
        ++count;
        const std::optional<SenderIdentity> sender = senderOf(message);
        if (std::find(acceptedUsers_.begin(), acceptedUsers_.end(), sender->userId) ==
            acceptedUsers_.end()) {
            dropped_.fetch_add(1, std::memory_order_relaxed);
            if (wakeOnDrop_.exchange(false))
                dropSeen_ = true;
            continue;
        }
        queue_.push_back(Datagram{datagramText(buffer_.get(), static_cast<std::size_t>(got)),
                                  sender});
        queuedBytes_ += queue_.back().text.size() + kEntryOverhead;
        full_ = queuedBytes_ > byteLimit_;
    }
    return count;
}

} // namespace Kalvor::MailSlotPosix
