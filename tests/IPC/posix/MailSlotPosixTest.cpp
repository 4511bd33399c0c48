// What the posix mailslot adds to the contract: its files, stale sockets, and buffering beyond
// the kernel's datagram queue.
#include "IPC/MailSlot.h"

#include "ChildProcess.h"
#include "Common/Exception.h"
#include "Common/SystemError.h"
#include "IPCTestSupport.h"
#include "Sandbox.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <fstream>
#include <iterator>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

namespace Kalvor {
namespace {

class MailSlotPosixTest : public ::testing::Test {
protected:
    // Without the sandbox's own mailslot and lock folders, as on a fresh machine: the code under
    // test makes them (shared, sticky) unless a test makes the mailslot folder its own way.
    MailSlotPosixTest() {
        ::rmdir(sandbox.mailslotDirectory().c_str());
        ::rmdir(sandbox.lockDirectory().c_str());
    }
    // This account's own folder in the shared base.
    std::string ownFolder() const {
        return sandbox.mailslotDirectory() + "/" + std::to_string(::geteuid());
    }
    std::string slotFile(const std::string& file) const { return ownFolder() + "/" + file; }
    // Both folders made as the code under test makes them, for a test that plants files first.
    void makeFolders() const {
        ASSERT_EQ(::mkdir(sandbox.mailslotDirectory().c_str(), 01777), 0);
        ::chmod(sandbox.mailslotDirectory().c_str(), 01777);
        ASSERT_EQ(::mkdir(ownFolder().c_str(), 0700), 0);
    }

    Kalvor::Test::Sandbox sandbox;
};

mode_t fileMode(const std::string& path) {
    struct stat status {};
    return ::lstat(path.c_str(), &status) == 0 ? status.st_mode : 0;
}

// A socket bound at `path`, as a receiver that does not take the name lock would leave it.
class BoundSocket {
public:
    explicit BoundSocket(const std::string& path) : fd_(::socket(AF_UNIX, SOCK_DGRAM, 0)) {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        path.copy(address.sun_path, sizeof address.sun_path - 1);
        bound_ = ::bind(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    }
    ~BoundSocket() { close(); }
    bool bound() const { return bound_; }
    // Closes without removing the file: what a receiver that died leaves behind.
    void close() {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }

private:
    int fd_;
    bool bound_ = false;
};

IPCException creationFailure(const std::string& name) {
    try {
        MailSlot(MailSlot::kReceiver, name);
    } catch (const IPCException& error) {
        return error;
    }
    ADD_FAILURE() << "receiver " << name << " created";
    return IPCException(IC_NONE);
}

// The account's names are in a folder of its own that nobody else can enter; a receiver takes
// its socket and lock file with it.
TEST_F(MailSlotPosixTest, TheReceiverIsASocketInTheAccountsOwnFolderAndGoesWithIt) {
    {
        MailSlot receiver(MailSlot::kReceiver, "Wardex_DOMAIN\\user/x");
        EXPECT_TRUE(S_ISSOCK(fileMode(slotFile("Wardex_DOMAIN_user_x"))));
        EXPECT_TRUE(S_ISREG(fileMode(slotFile("Wardex_DOMAIN_user_x.lock"))));
        EXPECT_EQ(fileMode(sandbox.mailslotDirectory()) & 07777, 01777u);
        EXPECT_EQ(fileMode(ownFolder()) & 07777, 0700u);
    }
    EXPECT_EQ(fileMode(slotFile("Wardex_DOMAIN_user_x")), 0u);
    EXPECT_EQ(fileMode(slotFile("Wardex_DOMAIN_user_x.lock")), 0u);
}

TEST_F(MailSlotPosixTest, ASocketLeftByADeadReceiverIsReplaced) {
    makeFolders();
    BoundSocket dead(slotFile("Stale"));
    ASSERT_TRUE(dead.bound());
    dead.close();

    MailSlot orphanSender(MailSlot::kLocalSender, "Stale");
    try {
        orphanSender.send("nobody listens");
        ADD_FAILURE() << "sent to a stale socket";
    } catch (const IPCException& error) {
        EXPECT_EQ(error.detail(), systemErrorText(ENOENT));
    }

    MailSlot receiver(MailSlot::kReceiver, "Stale");
    MailSlot sender(MailSlot::kLocalSender, "Stale");
    sender.send("to the new one");
    std::vector<std::string> texts;
    receiver.receive(texts);
    EXPECT_EQ(texts, std::vector<std::string>{"to the new one"});
}

TEST_F(MailSlotPosixTest, WhatIsNotAStaleSocketIsLeftAlone) {
    makeFolders();
    BoundSocket live(slotFile("Live"));
    ASSERT_TRUE(live.bound());
    EXPECT_EQ(creationFailure("Live").code(), IC_CANNOT_CREATE_COMM);
    EXPECT_TRUE(S_ISSOCK(fileMode(slotFile("Live"))));

    std::ofstream(slotFile("Plain")) << "not a socket";
    EXPECT_EQ(creationFailure("Plain").code(), IC_CANNOT_CREATE_COMM);
    EXPECT_TRUE(S_ISREG(fileMode(slotFile("Plain"))));
}

TEST_F(MailSlotPosixTest, OfTwoReceiversRacingForAStaleNameExactlyOneWins) {
    makeFolders();
    for (int round = 0; round < 20; ++round) {
        BoundSocket dead(slotFile("Race"));
        ASSERT_TRUE(dead.bound());
        dead.close();
        std::atomic<int> created{0};
        std::atomic<int> refused{0};
        std::atomic<bool> go{false};
        std::unique_ptr<MailSlot> slots[2];
        std::thread racers[2];
        for (int i = 0; i < 2; ++i)
            racers[i] = std::thread([&, i] {
                while (!go) {
                }
                try {
                    slots[i] = std::make_unique<MailSlot>(MailSlot::kReceiver, "Race");
                    ++created;
                } catch (const IPCException&) {
                    ++refused;
                }
            });
        go = true;
        for (std::thread& racer : racers)
            racer.join();
        ASSERT_EQ(created, 1) << "round " << round;
        ASSERT_EQ(refused, 1) << "round " << round;
        MailSlot sender(MailSlot::kLocalSender, "Race");
        EXPECT_NO_THROW(sender.send("to the winner"));
    }
}

TEST_F(MailSlotPosixTest, ThousandsOfTextsWaitForASingleReceive) {
    MailSlot receiver(MailSlot::kReceiver, "Deep");
    MailSlot sender(MailSlot::kLocalSender, "Deep");
    constexpr int kCount = 3000;
    for (int i = 0; i < kCount; ++i)
        ASSERT_NO_THROW(sender.send(std::to_string(i))) << "send " << i;
    std::vector<std::string> texts;
    receiver.receive(texts);
    ASSERT_EQ(texts.size(), static_cast<std::size_t>(kCount));
    for (int i = 0; i < kCount; ++i)
        ASSERT_EQ(texts[i], std::to_string(i));
}

TEST_F(MailSlotPosixTest, AnOverfullReceiverShowsAsFailedSendsNotAsLoss) {
    MailSlot receiver(MailSlot::kReceiver, "Full");
    MailSlot sender(MailSlot::kLocalSender, "Full");
    const std::string block(100 * 1024, 'b');
    int sent = 0;
    bool refused = false;
    while (!refused && sent < 2000) {
        try {
            sender.send(std::to_string(sent) + block);
            ++sent;
        } catch (const IPCException& error) {
            EXPECT_EQ(error.code(), IC_CANNOT_SEND);
            EXPECT_EQ(error.detail(), "Error " + std::to_string(EAGAIN));
            refused = true;
        }
    }
    ASSERT_TRUE(refused) << "no limit after " << sent << " sends";
    EXPECT_GE(sent * block.size(), std::size_t(64) << 20);

    std::vector<std::string> texts;
    receiver.receive(texts);
    ASSERT_EQ(texts.size(), static_cast<std::size_t>(sent));
    for (int i = 0; i < sent; ++i)
        ASSERT_EQ(texts[i], std::to_string(i) + block);
    EXPECT_NO_THROW(sender.send("room again"));
}

// Links planted in the folder are refused, never followed: the file they point at keeps its
// rights and its content.
TEST_F(MailSlotPosixTest, PlantedLinksAreNotFollowed) {
    makeFolders();
    const std::string victim = sandbox.path() + "/victim";
    std::ofstream(victim) << "secret";
    ::chmod(victim.c_str(), 0600);
    ASSERT_EQ(::symlink(victim.c_str(), slotFile("Taken.lock").c_str()), 0);
    EXPECT_EQ(creationFailure("Taken").code(), IC_CANNOT_CREATE_COMM);
    ASSERT_EQ(::symlink(victim.c_str(), slotFile("Lure").c_str()), 0);
    EXPECT_THROW(MailSlot(MailSlot::kLocalSender, "Lure").send("x"), IPCException);
    EXPECT_EQ(fileMode(victim) & 07777, 0600u);
    std::ifstream content(victim);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(content), {}), "secret");
}

// The writer lock is per account: another account holding its own cannot delay this one's
// sends. As root (CI is), with an account number that needs no account.
TEST_F(MailSlotPosixTest, AnotherAccountHoldingTheWriterLockDelaysNoSend) {
    if (!Kalvor::Test::canActAsOtherAccounts())
        GTEST_SKIP() << "needs root, setpriv and a build every account can reach";
    ::chmod(sandbox.path().c_str(), 0777);
    MailSlot receiver(MailSlot::kReceiver, "Quick");
    // The machine-wide base is root's, as an installation makes it.
    MailSlot(MailSlot::kLocalSender, "Quick").send("first");
    const std::string ready = sandbox.path() + "/stranger.ready";
    Kalvor::Test::ChildProcess stranger =
        Kalvor::Test::startAsAccount(4712, Kalvor::Test::helperProgramPath("kalvor-job-helper"),
                                     {"lock", "Kalvor_MailSlot", ready}, Kalvor::Test::ChildProcess::capturing());
    ASSERT_TRUE(Kalvor::Test::waitFor([&] { return std::ifstream(ready).good(); }));
    EXPECT_NO_THROW(MailSlot(MailSlot::kLocalSender, "Quick").send("not held up"));
    std::vector<std::string> texts;
    receiver.receive(texts);
    EXPECT_EQ(texts, (std::vector<std::string>{"first", "not held up"}));
}

// Restores this process's own account on leaving: useAccount() holds for the whole process.
struct AddressedAccount {
    explicit AddressedAccount(const std::string& account) {
        std::string why;
        EXPECT_TRUE(MailSlot::useAccount(account, why)) << why;
    }
    ~AddressedAccount() {
        std::string why;
        MailSlot::useAccount(std::to_string(::geteuid()), why);
    }
};

// The kernel names every datagram's sender: this process, and (as root, which CI is) a sender
// running under another account number, which needs no account, into whose folder root made
// the receiver.
TEST_F(MailSlotPosixTest, EveryDatagramCarriesItsSendersAccountAndProcess) {
    {
        MailSlot receiver(MailSlot::kReceiver, "Told");
        MailSlot(MailSlot::kLocalSender, "Told").send("mine");
        std::vector<Datagram> received;
        ASSERT_TRUE(Kalvor::Test::waitFor([&] {
            receiver.receive(received);
            return !received.empty();
        }));
        ASSERT_TRUE(received[0].sender);
        EXPECT_EQ(received[0].text, "mine");
        EXPECT_EQ(received[0].sender->userId, ::geteuid());
        EXPECT_EQ(received[0].sender->processId, static_cast<uint32_t>(::getpid()));
    }
    if (!Kalvor::Test::canActAsOtherAccounts())
        GTEST_SKIP() << "needs root, setpriv and a build every account can reach";
    ::chmod(sandbox.path().c_str(), 0755);
    const AddressedAccount other("4711");
    MailSlot receiver(MailSlot::kReceiver, "Told");
    EXPECT_EQ(fileMode(sandbox.mailslotDirectory() + "/4711") & 07777, 0700u);
    Kalvor::Test::ChildProcess stranger =
        Kalvor::Test::startAsAccount(4711, Kalvor::Test::helperProgramPath("kalvor-ipc"),
                                     {"send", "Told", "COMMAND", "", "DIE"}, Kalvor::Test::ChildProcess::capturing());
    EXPECT_EQ(stranger.waitForExit(std::chrono::seconds(10)), 0);
    std::vector<Datagram> received;
    ASSERT_TRUE(Kalvor::Test::waitFor([&] {
        receiver.receive(received);
        return !received.empty();
    }));
    ASSERT_TRUE(received[0].sender);
    EXPECT_EQ(received[0].sender->userId, 4711u);
}

// Another account cannot reach this one's names at all; where it could (a folder opened up by
// hand), what it sends is dropped unread and counted, and its receiver is never written to.
TEST_F(MailSlotPosixTest, AnotherAccountNeitherReachesNorIsReachedAndIsDroppedWhereItCould) {
    if (!Kalvor::Test::canActAsOtherAccounts())
        GTEST_SKIP() << "needs root, setpriv and a build every account can reach";
    ::chmod(sandbox.path().c_str(), 0755);
    const auto runAs = [](int account, const std::vector<std::string>& arguments) {
        Kalvor::Test::ChildProcess program = Kalvor::Test::startAsAccount(
            account, Kalvor::Test::helperProgramPath("kalvor-ipc"), arguments,
            Kalvor::Test::ChildProcess::capturing(true));
        return program.waitForExit(std::chrono::seconds(10)).value_or(-1);
    };
    {
        const AddressedAccount owner("4711");
        MailSlot receiver(MailSlot::kReceiver, "Owned");
        EXPECT_EQ(runAs(4712, {"send", "Owned", "COMMAND", "", "DIE"}), 1) << "not its name";
        EXPECT_EQ(runAs(4712, {"--account", "4711", "send", "Owned", "COMMAND", "", "DIE"}), 1)
            << "only root may address another account";

        // Opened up by hand: the stranger now reaches the socket, and is dropped.
        const std::string socket = sandbox.mailslotDirectory() + "/4711/Owned";
        ::chmod((sandbox.mailslotDirectory() + "/4711").c_str(), 0711);
        ::chmod(socket.c_str(), 0777);
        Kalvor::Test::ChildProcess flood = Kalvor::Test::startAsAccount(
            4712, Kalvor::Test::helperProgramPath("kalvor-job-helper"),
            {"send-raw", socket, "Kalvor|COMMAND||UNKNOWN|x", "1000"},
            Kalvor::Test::ChildProcess::capturing(true));
        EXPECT_EQ(flood.waitForExit(std::chrono::seconds(30)), 0);
        EXPECT_TRUE(Kalvor::Test::waitFor([&] { return receiver.droppedFromOthers() == 1000; }))
            << receiver.droppedFromOthers();
        std::vector<Datagram> received;
        receiver.receive(received);
        EXPECT_TRUE(received.empty());
    }
}

} // namespace
} // namespace Kalvor
