// An advisory, expiring lock on one file, shared between processes through the companion file
// path + ".lock", four lines ending in "\r\n" ("\n" is read as well):
//   1  lock time, ISO 8601 UTC ("2024-05-01T10:00:00Z")
//   2  expiry time: lock time plus the duration, same form
//   3  owner token: a basic-form time text ("20240501T100000Z") and ten characters from " "
//      to "}"
//   4  "original" when the locked file is held open (its writer works on a copy), "missing"
//      when it is not
//
// A lock file appears whole or not at all: it is written under a private name and moved into
// place by a move that never replaces, so of two racing writers exactly one wins. A lock file is
// removed only while it still says what this object expects (the lock read at construction, or
// the one it wrote): it is moved aside and compared first, so a lock that somebody else took
// meanwhile is never deleted. Tokens differ
// between objects and between processes started in the same second: the generator is seeded
// from the clock, the process id, a per-process counter and std::random_device.
//
// Only a malformed date in a found lock file throws (TimeException, this unit's location
// added); every other failure is the false result of lock() or unlock().
#pragma once

#include "File/BufferedFile.h"
#include "Time/DateTime.h"
#include "Time/TimeSpan.h"

#include <string>

namespace Kalvor {

class LockFile {
public:
    // Notes whether the file exists and reads any lock file there.
    explicit LockFile(std::string path);
    // Releases a lock this object holds; a found lock of another owner is left alone.
    ~LockFile();
    LockFile(const LockFile&) = delete;
    LockFile& operator=(const LockFile&) = delete;

    // Refused while a lock is active: one found at construction (even an expired one, until
    // unlock() has removed it) or one this object holds. With holdTarget the locked file is
    // kept open for writing (created when missing, its contents untouched) while the lock lasts.
    bool lock(const TimeSpan& duration, bool holdTarget);
    // Releases this object's lock, or removes another owner's expired one; false while another
    // owner's lock is valid or when it cannot be removed.
    bool unlock();
    // Closes the held locked file but keeps the lock, so that the file can be replaced.
    void releaseTarget();

    bool isLockActive() const { return lockActive_; }
    bool targetExisted() const { return targetExisted_; }
    bool holdsTarget() const { return holdTarget_; }
    const std::string& ownToken() const { return ownToken_; }
    const std::string& ownerToken() const { return ownerToken_; }
    const DateTime& lockTime() const { return lockTime_; }
    const DateTime& expiryTime() const { return expiryTime_; }
    const std::string& lockPath() const { return lockPath_; }

private:
    void readFound();
    std::string lockText(bool holdTarget) const;
    bool writeStaged(const std::string& staging, const std::string& text) const;
    void releaseOwn();
    bool removeIfUnchanged();

    std::string path_;
    std::string lockPath_;
    std::string ownToken_;
    std::string ownerToken_;
    std::string sideSuffix_; // makes this object's private file names
    bool lockActive_ = false;
    bool targetExisted_ = false;
    bool holdTarget_ = false;
    DateTime lockTime_{1970, 1, 1, 0, 0, 0};
    DateTime expiryTime_{1970, 1, 1, 0, 0, 0};
    // What the lock file at lockPath_ should hold: what was read, or what this object wrote.
    bool expectedReadable_ = false;
    std::string expectedText_;
    BufferedFile lockStream_;
    BufferedFile targetStream_;
};

} // namespace Kalvor
