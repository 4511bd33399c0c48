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

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <pwd.h>
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

// Every account but these is kept out of a receiver: its own, the administrator (root), and
// the account whose folder it is in (root answering there for another account's tools).
std::vector<uint32_t> acceptedUsers() {
    std::vector<uint32_t> accepted{static_cast<uint32_t>(::geteuid()), 0};
    if (addressedAccount() != ::geteuid())
        accepted.push_back(static_cast<uint32_t>(addressedAccount()));
    return accepted;
}

class PosixMailSlot final : public MailSlotEndpoint {
public:
    // Broadcast is delivered on this machine only: both sender modes open the same socket.
    explicit PosixMailSlot(std::string name) : name_(std::move(name)) {}

    ~PosixMailSlot() override {
        if (!pump_)
            return;
        pump_.reset();
        // Still under the name lock: nobody can have bound a new socket at the path yet, and a
        // receiver that comes after makes its lock file anew.
        ::unlink(path_.c_str());
        ::unlink((path_ + ".lock").c_str());
    }

    // Only the accounts it accepts are read; the folder keeps every other one from the name.
    void createReceiver(MailSlot::Writers) override {
        locate(IC_CANNOT_CREATE_COMM);
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
        giveToAddressedAccount();
        try {
            pump_ = std::make_unique<DatagramPump>(std::move(socket), std::move(wake),
                                                   kQueueByteLimit, acceptedUsers());
        } catch (const std::system_error& error) {
            ::unlink(path_.c_str());
            cannotCreate(error.code().value(), __LINE__);
        }
        nameLock_ = std::move(nameLock);
    }

    // The socket file is opened without following a link and checked as opened: a socket, and
    // a receiver of this account, root or the addressed account. The connect then goes to that
    // very file through its descriptor, whatever the path leads to by then.
    void openSender() override {
        locate(IC_CANNOT_SEND);
        UniqueFd file(::open(path_.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
        if (!file) {
            const int error = errno == ELOOP ? ENOENT : errno;
            throw IPCException(IC_CANNOT_SEND, systemErrorText(error), KALVOR_HERE);
        }
        struct stat status {};
        if (::fstat(file.get(), &status) != 0)
            throw IPCException(IC_CANNOT_SEND, systemErrorText(errno), KALVOR_HERE);
        if (!S_ISSOCK(status.st_mode))
            throw IPCException(IC_CANNOT_SEND, path_ + " is not a mailslot socket", KALVOR_HERE);
        const std::vector<uint32_t> accepted = acceptedUsers();
        if (std::find(accepted.begin(), accepted.end(), static_cast<uint32_t>(status.st_uid)) ==
            accepted.end())
            throw IPCException(IC_CANNOT_SEND,
                               path_ + " belongs to account " + std::to_string(status.st_uid),
                               KALVOR_HERE);
        SocketAddress address;
        if (!makeSocketAddress("/proc/self/fd/" + std::to_string(file.get()), address))
            throw IPCException(IC_CANNOT_SEND, systemErrorText(ENAMETOOLONG), KALVOR_HERE);
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

    uint64_t droppedFromOthers() const override { return pump_ ? pump_->dropped() : 0; }
    void wakeOnNextDrop() override {
        if (pump_)
            pump_->wakeOnNextDrop();
    }

private:
    // The folder of the addressed account, found once per object: where none can be used, the
    // call fails at once, naming the folders and their faults.
    void locate(int32_t failure) {
        if (!path_.empty())
            return;
        std::string why;
        const std::string directory = mailSlotDirectory(why);
        if (directory.empty())
            throw IPCException(failure, "no mailslot folder: " + why, KALVOR_HERE);
        path_ = socketPath(directory, name_);
    }

    // Held for the receiver's life; a second receiver of the name is refused here. A link or
    // anything but a regular file in its place is refused, never followed. A receiver removes
    // its lock file as it goes, so the lock counts only while its file is still the one at the
    // path: one taken on a file just removed is taken again on the new one.
    UniqueFd lockName() {
        const std::string path = path_ + ".lock";
        for (int round = 0; round < 5; ++round) {
            SafePathResult opened;
            UniqueFd lock = openNoFollow(path, O_RDONLY, 0600, opened);
            if (!lock)
                throw IPCException(IC_CANNOT_CREATE_COMM, opened.why, KALVOR_HERE);
            if (::flock(lock.get(), LOCK_EX | LOCK_NB) != 0) {
                const SystemError failed = lastSystemErrorValue();
                cannotCreate(failed == std::errc::operation_would_block ? EADDRINUSE
                                                                        : failed.native,
                             __LINE__);
            }
            struct stat held {}, atPath {};
            if (::fstat(lock.get(), &held) == 0 && ::lstat(path.c_str(), &atPath) == 0 &&
                held.st_dev == atPath.st_dev && held.st_ino == atPath.st_ino)
                return lock;
        }
        cannotCreate(EADDRINUSE, __LINE__);
    }

    // Root's receiver in another account's folder (an answer slot of root's tools) becomes
    // that account's file, so that the account's programs may write to it and find it theirs.
    // Changed on the file just bound, held without following a link, never through its path.
    void giveToAddressedAccount() {
        const uid_t account = addressedAccount();
        if (account == ::geteuid())
            return;
        UniqueFd bound(::open(path_.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
        struct stat status {};
        if (!bound || ::fstat(bound.get(), &status) != 0 || !S_ISSOCK(status.st_mode) ||
            status.st_uid != ::geteuid() ||
            ::fchownat(bound.get(), "", account, gid_t(-1), AT_EMPTY_PATH) != 0) {
            const int error = errno != 0 ? errno : EPERM;
            ::unlink(path_.c_str());
            cannotCreate(error, __LINE__);
        }
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

    const std::string name_;
    std::string path_;
    UniqueFd nameLock_;
    std::unique_ptr<DatagramPump> pump_;
    UniqueFd sender_;
};

} // namespace

std::unique_ptr<MailSlotEndpoint> MailSlotEndpoint::make(int32_t, const std::string& name) {
    return std::make_unique<PosixMailSlot>(name);
}

bool useMailSlotAccount(const std::string& account, std::string& why) {
    uid_t uid = 0;
    if (!account.empty() && account.find_first_not_of("0123456789") == std::string::npos) {
        uid = static_cast<uid_t>(std::strtoul(account.c_str(), nullptr, 10));
    } else if (const passwd* entry = ::getpwnam(account.c_str())) {
        uid = entry->pw_uid;
    } else {
        why = "no account \"" + account + "\"";
        return false;
    }
    if (::geteuid() != 0 && uid != ::geteuid()) {
        why = "only root may address another account's mailslots";
        return false;
    }
    setAddressedAccount(uid);
    return true;
}

bool isNetworkUnreachable(int32_t error) {
    return systemError(error) == std::errc::network_unreachable;
}

} // namespace Kalvor
