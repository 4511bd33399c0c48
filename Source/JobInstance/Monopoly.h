// A lock with two modes.
//
// Unnamed: a recursive lock inside the process; acquire() waits while another thread holds it
// and counts the holder's entries, release() gives up one entry (and refuses a thread that does
// not hold it).
// Named: a machine-wide mutex that is only taken when nobody else holds one of that name, which
// makes it a single-instance guard; acquire() never waits and reports false when refused. The
// lock goes with its holder, also when the holder dies. Holders are refused in other processes
// and in the same one alike.
//
// win32: CreateMutexA with initial ownership, refused on ERROR_ALREADY_EXISTS; a name without
// "Global\" is one of the caller's session. posix: an exclusive flock on <lock dir>/<uid>/NAME,
// the lock dir being $KALVOR_LOCK_DIR, else /tmp/kalvor-locks (sticky, every account's), and
// <uid> this account's own folder (0700), so that names are per account as they are per
// session on Windows and no other account can hold, make or replace this account's locks.
// Where another account has taken that folder's name, the account's runtime folder stands in
// ("<runtime>/kalvor-locks", the runtime folder being $XDG_RUNTIME_DIR, else /run/user/<uid>);
// without one, acquire() fails at once and failure() names the folders and their faults. Lock
// files are opened without following links and stay in place after release: removing one
// while another process opens it would let two holders in.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace Kalvor {

class NamedMutex;

class Monopoly {
public:
    Monopoly();
    explicit Monopoly(const std::string& name);
    // Releases what this object holds (every entry of the calling thread in the unnamed mode).
    ~Monopoly();
    Monopoly(const Monopoly&) = delete;
    Monopoly& operator=(const Monopoly&) = delete;

    // Switches to the named mode with every "/" and "\" of the name replaced by "_". False, with
    // the old name kept, while this object holds a named mutex or the unnamed lock.
    bool setName(const std::string& name);
    // Unnamed: always true, once the lock is entered. Named: true when taken now or already held
    // by this object; false for an empty name or when someone else holds it.
    bool acquire();
    // True when given up or not held; false when it cannot be (the lock then stays held).
    bool release();
    bool isHeld() const { return held_; }
    // Why the last acquire() of a named mutex failed when it was not simply held elsewhere;
    // empty otherwise.
    const std::string& failure() const { return failure_; }

    const std::string& name() const { return name_; }
    bool isNamed() const { return named_; }

private:
    bool acquireNamed();
    bool releaseNamed();

    std::string name_;
    std::string failure_;
    bool named_ = false;
    std::atomic<bool> held_{false};
    std::unique_ptr<NamedMutex> mutex_;

    std::recursive_mutex lock_;
    int32_t entryCount_ = 0;
    std::atomic<std::thread::id> ownerThread_{};
};

} // namespace Kalvor
