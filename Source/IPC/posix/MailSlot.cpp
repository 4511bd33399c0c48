// The posix mailslot: a Unix datagram socket per receiver, connected datagram sockets for
// senders (see MailSlot.h for the layout on disk).
#include "IPC/MailSlotEndpoint.h"

#include "Common/Exception.h"
#include "Common/StringUtils.h"
#include "Common/SystemError.h"
#include "IPC/MailSlot.h"
#include "Common/posix/SafeFiles.h"
#include "IPC/posix/DatagramPump.h"
#include "IPC/posix/SocketPath.h"
#include "Common/posix/UniqueFd.h"

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <system_error>

namespace Kalvor {

namespace {

using namespace MailSlotPosix;

constexpr std::size_t kQueueByteLimit = std::size_t(64) << 20;
// Asked for on both ends; the kernel caps it at net.core.[rw]mem_max.
constexpr int kSocketBufferBytes = 4 << 20;
// How long a send waits for room in a receiver's socket before it fails.
constexpr auto kSendPatience = std::chrono::milliseconds(500);

[[noreturn]] void cannotCreate(int error, int line) {
    throw IPCException(IC_CANNOT_CREATE_COMM, intToString(error), __FILE__, line);
}

void setBufferSize(int socket, int option) {
    if (::setsockopt(socket, SOL_SOCKET, option, &kSocketBufferBytes, sizeof kSocketBufferBytes) !=
        0) {
        // The default size still works; only the largest messages need more.
    }
}

// 0 when a receiver answers at `address`, else the errno of the attempt.
int probeReceiver(const SocketAddress& address) {
    UniqueFd probe(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!probe)
        return errno;
    return ::connect(probe.get(), reinterpret_cast<const sockaddr*>(&address.address),
                     address.length) == 0
               ? 0
               : errno;
}

class PosixMailSlot final : public MailSlotEndpoint {
public:
    // Broadcast is delivered on this machine only: both sender modes open the same socket.
    explicit PosixMailSlot(const std::string& name)
        : directory_(mailSlotDirectory()), path_(socketPath(directory_, name)) {}

    ~PosixMailSlot() override {
        if (!pump_)
            return;
        pump_.reset();
        // Still under the name lock: nobody can have bound a new socket at the path yet.
        ::unlink(path_.c_str());
    }

    // Every account may write: each datagram's sender is told by the kernel instead.
    void createReceiver(MailSlot::Writers) override {
        // Machine-wide, as the sockets are the protocol's addresses; taken only when safe.
        const SafePathResult shared = ensureSharedStickyDir(directory_);
        if (!shared.ok())
            throw IPCException(IC_CANNOT_CREATE_COMM, shared.why, KALVOR_HERE);
        SocketAddress address;
        if (!makeSocketAddress(path_, address))
            cannotCreate(ENAMETOOLONG, __LINE__);
        UniqueFd nameLock = lockName();
        removeStaleSocket(address);

        UniqueFd socket(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
        UniqueFd wake(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
        if (!socket || !wake)
            cannotCreate(errno, __LINE__);
        setBufferSize(socket.get(), SO_RCVBUF);
        // Before the bind, so that no datagram can arrive without its sender.
        const int on = 1;
        if (::setsockopt(socket.get(), SOL_SOCKET, SO_PASSCRED, &on, sizeof on) != 0)
            cannotCreate(errno, __LINE__);
        if (::bind(socket.get(), reinterpret_cast<const sockaddr*>(&address.address),
                   address.length) != 0)
            cannotCreate(errno, __LINE__);
        openToEveryAccount();
        try {
            pump_ =
                std::make_unique<DatagramPump>(std::move(socket), std::move(wake), kQueueByteLimit);
        } catch (const std::system_error& error) {
            ::unlink(path_.c_str());
            cannotCreate(error.code().value(), __LINE__);
        }
        nameLock_ = std::move(nameLock);
    }

    void openSender() override {
        SocketAddress address;
        if (!makeSocketAddress(path_, address))
            throw IPCException(IC_CANNOT_SEND, systemErrorText(ENAMETOOLONG), KALVOR_HERE);
        // connect() would follow a link planted in the shared folder to any socket.
        struct stat status {};
        if (::lstat(path_.c_str(), &status) == 0 && !S_ISSOCK(status.st_mode))
            throw IPCException(IC_CANNOT_SEND, path_ + " is not a mailslot socket", KALVOR_HERE);
        UniqueFd socket(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
        if (!socket)
            throw IPCException(IC_CANNOT_SEND, systemErrorText(errno), KALVOR_HERE);
        setBufferSize(socket.get(), SO_SNDBUF);
        if (::connect(socket.get(), reinterpret_cast<const sockaddr*>(&address.address),
                      address.length) != 0) {
            // A socket file nobody listens on is a slot that does not exist.
            const SystemError failed = lastSystemErrorValue();
            const int error = failed == std::errc::connection_refused ? ENOENT : failed.native;
            throw IPCException(IC_CANNOT_SEND, systemErrorText(error), KALVOR_HERE);
        }
        sender_ = std::move(socket);
    }

    bool isSenderOpen() const override { return static_cast<bool>(sender_); }

    void closeSender() override { sender_.reset(); }

    int32_t write(const char* bytes, std::size_t size) override {
        const auto deadline = std::chrono::steady_clock::now() + kSendPatience;
        for (;;) {
            const ssize_t sent = ::send(sender_.get(), bytes, size, MSG_NOSIGNAL);
            if (sent >= 0)
                return static_cast<std::size_t>(sent) == size ? 0 : EMSGSIZE;
            if (errno == EINTR)
                continue;
            if (errno != EAGAIN && errno != EWOULDBLOCK)
                return errno;
            // The receiver's socket is full for a moment; poll wakes when it has room again.
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0)
                return EAGAIN;
            pollfd writable{sender_.get(), POLLOUT, 0};
            ::poll(&writable, 1, static_cast<int>(left.count()) + 1);
        }
    }

    void interruptWait() override { pump_->interrupt(); }

    bool waitForDatagram(uint32_t milliseconds) override {
        return pump_->waitForData(milliseconds);
    }

    void receiveInto(std::vector<Datagram>& datagrams) override {
        if (!pump_->take(datagrams))
            throw IPCException(IC_CANNOT_RECEIVE, "", KALVOR_HERE);
    }

private:
    // Held for the receiver's life; a second receiver of the name is refused here. A link or
    // anything but a regular file in its place is refused, never followed.
    UniqueFd lockName() {
        SafePathResult opened;
        UniqueFd lock = openNoFollow(path_ + ".lock", O_RDONLY, 0644, opened);
        if (!lock)
            throw IPCException(IC_CANNOT_CREATE_COMM, opened.why, KALVOR_HERE);
        if (::flock(lock.get(), LOCK_EX | LOCK_NB) != 0) {
            const SystemError failed = lastSystemErrorValue();
            cannotCreate(failed == std::errc::operation_would_block ? EADDRINUSE : failed.native,
                         __LINE__);
        }
        return lock;
    }

    // Every account may write, as the null access list lets it on Windows; the umask would
    // narrow that. The rights are set on the socket file just bound, held without following a
    // link, never through its path, which another account could have changed meanwhile.
    void openToEveryAccount() {
        UniqueFd bound(::open(path_.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
        struct stat status {};
        if (!bound || ::fstat(bound.get(), &status) != 0 || !S_ISSOCK(status.st_mode) ||
            status.st_uid != ::geteuid())
            return; // left with the umask's rights: this account's own senders still reach it
        // Through the descriptor's /proc entry, which leads to the held file whatever the path
        // leads to now. Refused, the umask's rights stay, as above.
        const std::string held = "/proc/self/fd/" + std::to_string(bound.get());
        ::chmod(held.c_str(), 0777);
    }

    // With the name lock held, a socket file at the path belongs to a receiver that has died,
    // unless something that does not take the lock still answers there.
    void removeStaleSocket(const SocketAddress& address) {
        struct stat status {};
        if (::lstat(path_.c_str(), &status) != 0)
            return;
        if (!S_ISSOCK(status.st_mode))
            cannotCreate(EEXIST, __LINE__);
        const int probe = probeReceiver(address);
        if (probe == 0)
            cannotCreate(EADDRINUSE, __LINE__);
        const SystemError unanswered = systemError(probe);
        if (unanswered != std::errc::connection_refused &&
            unanswered != std::errc::no_such_file_or_directory)
            cannotCreate(probe, __LINE__);
        if (::unlink(path_.c_str()) != 0) {
            const SystemError failed = lastSystemErrorValue();
            if (failed != std::errc::no_such_file_or_directory)
                cannotCreate(failed.native, __LINE__);
        }
    }

    const std::string directory_;
    const std::string path_;
    UniqueFd nameLock_;
    std::unique_ptr<DatagramPump> pump_;
    UniqueFd sender_;
};

} // namespace

std::unique_ptr<MailSlotEndpoint> MailSlotEndpoint::make(int32_t, const std::string& name) {
    return std::make_unique<PosixMailSlot>(name);
}

bool isNetworkUnreachable(int32_t error) {
    return systemError(error) == std::errc::network_unreachable;
}

} // namespace Kalvor
