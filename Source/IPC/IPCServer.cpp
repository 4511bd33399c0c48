#include "IPC/IPCServer.h"

#include "Common/Exception.h"
#include "Common/StringUtils.h"
#include "IPC/IPCMessage.h"
#include "IPC/MailSlot.h"
#include "JobInstance/ThreadInstance.h"
#include "JobInstance/ThreadMessages.h"
#include "Logger/LogCommons.h"
#include "Logger/LoggerUnit.h"
#include "Time/DateTime.h"
#include "Time/TimeSpan.h"
#include "Time/Timer.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <vector>

namespace Kalvor {

namespace {
constexpr int32_t kStopWaitSeconds = 10;
// A server destroyed without stop() gives its listener this long to leave on its own.
constexpr int32_t kDestroyWaitSeconds = 3;
} // namespace

struct IPCServer::Shared {
    std::shared_ptr<LoggerUnit> logger;
    std::string name;
    IdentifiedHandler handler;
    MailSlot::Writers writers = MailSlot::Writers::kOwnAccount;
    // 1: asked to stop; the listener puts it back to 0 as it leaves its loop.
    std::atomic<uint8_t> stopFlag{0};
    std::atomic<uint32_t> threadId{0};
    std::atomic<bool> listening{false};

    enum class Readiness { Starting, Ready, Failed };
    std::mutex readyMutex;
    std::condition_variable readyChanged;
    Readiness readiness = Readiness::Starting;
    std::string failure;
    // The listener's mailslot while it waits on it, so that a stop can end the wait; and
    // whether the listener has left, both under readyMutex.
    MailSlot* slot = nullptr;
    bool ended = false;

    void wakeListener() {
        std::lock_guard<std::mutex> guard(readyMutex);
        if (slot)
            slot->interruptWait();
    }
    void setSlot(MailSlot* waitedOn) {
        std::lock_guard<std::mutex> guard(readyMutex);
        slot = waitedOn;
    }
    void markEnded() {
        {
            std::lock_guard<std::mutex> guard(readyMutex);
            ended = true;
        }
        readyChanged.notify_all();
    }
    // True when the listener has ended within the time.
    bool awaitEnd(std::chrono::seconds patience) {
        std::unique_lock<std::mutex> lock(readyMutex);
        return readyChanged.wait_for(lock, patience, [&] { return ended; });
    }

    void announce(Readiness now, const std::string& why = "") {
        {
            std::lock_guard<std::mutex> guard(readyMutex);
            if (readiness != Readiness::Starting)
                return;
            readiness = now;
            failure = why;
        }
        readyChanged.notify_all();
    }
};

namespace {

void setDebugDeadline(Timer& timer) {
    timer.setDeadline(DateTime().plus(TimeSpan(0, 0, 1, 0)));
}

void handleLines(IPCServer::Shared& shared, const std::vector<Datagram>& lines) {
    const LoggerUnit& log = *shared.logger;
    log.debug(4, "IPC: Server \"%s\": Received %i message(s)...",
              LogParams() << shared.name << static_cast<int32_t>(lines.size()));
    for (const Datagram& line : lines) {
        log.debug(5, "IPC: Received message line \"%s\".", LogParams() << quotedExcerpt(line.text));
        IPCMessage message;
        if (!parseMessageLine(line.text, message)) {
            log.debug(4, "IPC: The message was not adressed to Kalvor. Ignoring it.");
            continue;
        }
        // One bad message must not end the listening: the supervisor would go deaf.
        try {
            shared.handler(message.type, message.id, message.text, message.sender, line.sender);
        } catch (Exception& failure) {
            failure.addLocation(KALVOR_HERE);
            log.debug(1, "IPC: The handler failed on a message: " + failure.report());
        } catch (const std::exception& failure) {
            log.debug(1, std::string("IPC: The handler failed on a message: ") + failure.what());
        } catch (...) {
            log.debug(1, "IPC: The handler failed on a message with an unknown error.");
        }
    }
}

// The reason a mailslot could not be made, for the owner's log line and exit message.
std::string creationFailure(const std::string& name, const Exception& failure) {
    std::string why = "cannot create the mailslot \"" + name + "\": " + failure.describe();
    const std::string detail = failure.detail();
    if (detail.find_first_not_of("0123456789") == std::string::npos && !detail.empty())
        why += " System error " + detail + ".";
    else if (!detail.empty())
        why += " " + detail;
    return why;
}

// While it lives, a stop request or a message posted to the listener's thread ends its wait.
class WaitedSlot {
public:
    WaitedSlot(IPCServer::Shared& shared, MailSlot& slot) : shared_(shared) {
        shared_.setSlot(&slot);
        setMessageArrivalHook([&shared] { shared.wakeListener(); });
    }
    ~WaitedSlot() {
        setMessageArrivalHook(nullptr);
        shared_.setSlot(nullptr);
    }
    WaitedSlot(const WaitedSlot&) = delete;
    WaitedSlot& operator=(const WaitedSlot&) = delete;

private:
    IPCServer::Shared& shared_;
};

// What other accounts sent is dropped unread by the mailslot; it is told in one line at most
// once a second, so that a flood costs the log a line a second and the listener a wake-up.
class DropReport {
public:
    // How long the next wait may be: until the next report is allowed while drops are untold,
    // else until the next drop.
    uint32_t untilReport(MailSlot& slot) {
        if (slot.droppedFromOthers() == told_) {
            slot.wakeOnNextDrop();
            // A drop just before the call would otherwise wait for a message.
            if (slot.droppedFromOthers() == told_)
                return MailSlot::kWaitForever;
        }
        const auto since = std::chrono::steady_clock::now() - lastReport_;
        return since >= kInterval ? 0
                                  : static_cast<uint32_t>(
                                        std::chrono::duration_cast<std::chrono::milliseconds>(
                                            kInterval - since)
                                            .count()) +
                                        1;
    }
    void report(const MailSlot& slot, const LoggerUnit& log, const std::string& name) {
        const uint64_t dropped = slot.droppedFromOthers();
        const auto now = std::chrono::steady_clock::now();
        if (dropped == told_ || now - lastReport_ < kInterval)
            return;
        log.debug(1, "IPC: Server \"%s\": Dropped %i message(s) from other accounts.",
                  LogParams() << name << static_cast<int32_t>(std::min<uint64_t>(
                                             dropped - told_, INT32_MAX)));
        told_ = dropped;
        lastReport_ = now;
    }

private:
    static constexpr std::chrono::seconds kInterval{1};
    uint64_t told_ = 0;
    std::chrono::steady_clock::time_point lastReport_{};
};

void listen(IPCServer::Shared& shared) {
    const LoggerUnit& log = *shared.logger;
    log.debug(2, "IPC: Creating MailSlot \"" + shared.name + "\".");
    MailSlot slot(MailSlot::kReceiver, shared.name, shared.writers);
    log.debug(2, "IPC: MailSlot created \"" + shared.name + "\".");
    const WaitedSlot waited(shared, slot);
    shared.announce(IPCServer::Shared::Readiness::Ready);

    Timer debugTimer;
    setDebugDeadline(debugTimer);
    DropReport drops;
    int32_t passes = 0;
    std::vector<Datagram> lines;
    while (shared.stopFlag.load() == 0) {
        if (debugTimer.expired()) {
            log.debug(5,
                      "IPC: Server \"%s\": Checking for incomming messages. Done so %i times "
                      "since last debug.",
                      LogParams() << shared.name << passes);
            passes = 0;
        } else {
            ++passes;
        }
        ThreadMessage message;
        if (peekMessage(message) && message.message == kWmDestroy) {
            log.debug(4, "IPC: Received message to exit IPC listener.");
            shared.stopFlag.store(1);
        }
        try {
            slot.receive(lines);
            if (!lines.empty())
                handleLines(shared, lines);
        } catch (const Exception&) {
            // A failed receive loses nothing that a later one cannot still take.
        } catch (const std::exception& failure) {
            log.debug(1, std::string("IPC: Receiving failed: ") + failure.what());
        } catch (...) {
            log.debug(1, "IPC: Receiving failed with an unknown error.");
        }
        lines.clear();
        if (debugTimer.expired()) {
            log.debug(5, "IPC: Server \"%s\": Now sleeping for a while.",
                      LogParams() << shared.name);
            setDebugDeadline(debugTimer);
        }
        // Wakes as a message arrives, or for a stop request or a posted message, and for the
        // report of what other accounts sent.
        if (shared.stopFlag.load() != 0)
            break;
        try {
            slot.waitForMessage(drops.untilReport(slot));
        } catch (const Exception&) {
            // A receiver's wait fails only on a broken slot: the receive above reports it.
        }
        drops.report(slot, log, shared.name);
    }
}

uint32_t listenerRoutine(void* parameter) {
    auto& shared = *static_cast<IPCServer::Shared*>(parameter);
    ensureMessageQueue();
    shared.threadId.store(currentThreadId());
    shared.listening.store(true);
    shared.logger->debug(2, "IPC: Initializing listener for \"" + shared.name + "\".");
    try {
        listen(shared);
    } catch (Exception& failure) {
        failure.addLocation(KALVOR_HERE);
        shared.logger->debug(1, failure.report());
        shared.announce(IPCServer::Shared::Readiness::Failed,
                        creationFailure(shared.name, failure));
        shared.listening.store(false);
        shared.markEnded();
        return static_cast<uint32_t>(-1);
    } catch (...) {
        const std::string why = "the listener failed before its mailslot was made";
        shared.logger->debug(1, "IPC: " + why);
        shared.announce(IPCServer::Shared::Readiness::Failed, why);
        shared.listening.store(false);
        shared.markEnded();
        return static_cast<uint32_t>(-1);
    }
    shared.announce(IPCServer::Shared::Readiness::Failed, "the listener ended at once");
    // Not listening before the line says so: whoever reads the line may ask at once.
    shared.listening.store(false);
    shared.logger->debug(1, "IPC: Exitited IPC listener.");
    shared.stopFlag.store(0);
    shared.markEnded();
    return 0;
}

} // namespace

IPCServer::IPCServer(const std::string& name, std::shared_ptr<LogDispatcher> dispatcher,
                     MessageHandler handler)
    : IPCServer(name, std::move(dispatcher),
                [handler = std::move(handler)](
                    const std::string& type, const std::string& id, const std::string& text,
                    const std::string& sender,
                    const std::optional<SenderIdentity>&) { handler(type, id, text, sender); },
                MailSlot::Writers::kOwnAccount) {}

IPCServer::IPCServer(const std::string& name, std::shared_ptr<LogDispatcher> dispatcher,
                     IdentifiedHandler handler, MailSlot::Writers writers)
    : shared_(std::make_unique<Shared>()) {
    shared_->logger = std::make_shared<LoggerUnit>(std::move(dispatcher), LogCommons::kIpcModule);
    shared_->name = name;
    shared_->handler = std::move(handler);
    shared_->writers = writers;
    try {
        listener_ = std::make_unique<ThreadInstance>(&listenerRoutine, shared_.get());
        listener_->execute();
    } catch (JobException& failure) {
        failure.addLocation(KALVOR_HERE);
        shared_->logger->debug(1, failure.report());
        throw;
    } catch (...) {
        shared_->logger->debug(1, "Unknown error when creating listener.");
        throw IPCException(IC_CANNOT_RECEIVE, "", KALVOR_HERE);
    }
    shared_->logger->debug(1, "IPC: Created server \"" + name + "\".");
}

IPCServer::~IPCServer() {
    // Without a prior stop() the listener is still asked politely: ending it by force would
    // leave its mailslot to be reclaimed as stale.
    if (listener_ && listener_->status() == JobRunning) {
        shared_->stopFlag.store(1);
        shared_->wakeListener();
        shared_->awaitEnd(std::chrono::seconds(kDestroyWaitSeconds));
    }
    listener_.reset();
    shared_->logger->debug(1, "IPC: Destroyed server \"" + shared_->name + "\".");
}

void IPCServer::stop() {
    shared_->stopFlag.store(1);
    shared_->wakeListener();
    if (shared_->awaitEnd(std::chrono::seconds(kStopWaitSeconds)))
        shared_->logger->debug(1, "IPC: Stopped server \"" + shared_->name + "\".");
    else
        shared_->logger->debug(1, "IPC: Stopping server \"%s\" timed out.",
                               LogParams() << shared_->name);
}

bool IPCServer::waitUntilReady(std::string& failure) {
    std::unique_lock<std::mutex> lock(shared_->readyMutex);
    using Readiness = Shared::Readiness;
    if (!shared_->readyChanged.wait_for(lock, std::chrono::seconds(kStopWaitSeconds), [&] {
            return shared_->readiness != Readiness::Starting;
        })) {
        failure = "the IPC listener did not create its mailslot within " +
                  std::to_string(kStopWaitSeconds) + " seconds";
        return false;
    }
    failure = shared_->failure;
    return shared_->readiness == Readiness::Ready;
}

const std::string& IPCServer::name() const {
    return shared_->name;
}

uint32_t IPCServer::listenerThreadId() const {
    return shared_->threadId.load();
}

bool IPCServer::listening() const {
    return shared_->listening.load();
}

} // namespace Kalvor
