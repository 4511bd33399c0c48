// A lock that the processes of one account share by name, made for short holds that come often,
// such as one log line. acquire() waits for the lock, up to a patience, rather than polling, so
// that a busy holder cannot starve the others, and a holder that dies gives the lock up. The lock
// carries a counter of changes: a holder that changes what the lock guards in a way the others
// must notice (a log file rotated away) bumps it, and they read it for the price of a memory
// load instead of a look at the file system.
//
// posix: a robust, process-shared pthread mutex and the counter in "<lock dir>/NAME.mutex",
// mapped into every process that uses the name. The lock dir is the account's own folder (see
// Monopoly), so no other account can open, truncate or replace the file. The file is made whole
// under another name and then linked into place, so no process ever maps a half-made one; a file
// at the name that is not such a lock (a leftover, a link) is replaced.
// win32: the named mutex "NAME.mutex" of the caller's session, and the counter in the named
// mapping "NAME.changes", which lasts while any process has the name open (each user keeps it
// open from its first acquire() on). An abandoned mutex is taken as a free one.
//
// One object is used by one thread at a time; each thread that takes the lock needs its own
// object. A thread must not take the lock through a second object while it holds it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace Kalvor {

class SharedLock {
public:
    explicit SharedLock(std::string name);
    // Gives up a held lock.
    ~SharedLock();
    SharedLock(const SharedLock&) = delete;
    SharedLock& operator=(const SharedLock&) = delete;

    // True once taken, at once when this object holds it already. False when it was not had
    // within `patienceMs` (0: at once) or the lock cannot be made; failure() says which.
    bool acquire(uint32_t patienceMs);
    void release();
    bool isHeld() const { return held_; }

    // The counter of changes, while held; bumpChanges() adds one for every user of the name.
    uint64_t changes() const;
    void bumpChanges();

    const std::string& name() const { return name_; }
    const std::string& failure() const { return failure_; }

private:
    struct Shared;
    bool attach();

    std::string name_;
    std::string failure_;
    bool held_ = false;
    std::unique_ptr<Shared> shared_;
};

} // namespace Kalvor
