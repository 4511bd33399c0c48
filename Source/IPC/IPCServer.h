// The receiving side of the suite's IPC: one mailslot served by a listener thread that hands
// every message addressed to "Kalvor" to one handler.
//
// The listener creates the mailslot itself, wakes as messages arrive (or once a second, to see a
// stop request) and calls the handler on its own thread, one message at a time in arrival order. Whatever a handler or a receive throws is
// logged and the listener goes on. It leaves its loop when stop() asks or when WM_DESTROY reaches
// its thread's queue. stop() waits up to ten seconds for the listener to acknowledge and only
// logs when it does not. waitUntilReady() tells the owner whether the mailslot exists: a mailslot
// that cannot be created ends the listener at once, with the reason.
//
// The stop flag and the handler belong to one server, so two servers in a process stay apart.
#pragma once

#include "IPC/Datagram.h"
#include "IPC/MailSlot.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace Kalvor {

class LogDispatcher;
class LoggerUnit;
class ThreadInstance;

class IPCServer {
public:
    // Arguments: type, id, text, sender.
    using MessageHandler = std::function<void(const std::string&, const std::string&,
                                              const std::string&, const std::string&)>;
    // The same, and who sent the datagram where the platform says (Datagram.h).
    using IdentifiedHandler =
        std::function<void(const std::string&, const std::string&, const std::string&,
                           const std::string&, const std::optional<SenderIdentity>&)>;

    // Starts the listener; throws JobException when the thread cannot be started.
    IPCServer(const std::string& name, std::shared_ptr<LogDispatcher> dispatcher,
              MessageHandler handler);
    // `writers` chooses who may write to the mailslot (MailSlot.h).
    IPCServer(const std::string& name, std::shared_ptr<LogDispatcher> dispatcher,
              IdentifiedHandler handler, MailSlot::Writers writers);
    ~IPCServer();
    IPCServer(const IPCServer&) = delete;
    IPCServer& operator=(const IPCServer&) = delete;

    void stop();
    // Waits until the listener has created its mailslot (true) or has failed to (false, with the
    // reason), at most ten seconds.
    bool waitUntilReady(std::string& failure);

    const std::string& name() const;
    // The listener thread's id, for posting it window messages; 0 before it runs.
    uint32_t listenerThreadId() const;
    // True while the listener has not left its loop.
    bool listening() const;

    struct Shared;

private:
    std::unique_ptr<Shared> shared_;
    std::unique_ptr<ThreadInstance> listener_;
};

} // namespace Kalvor
