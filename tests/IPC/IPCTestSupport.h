// What the IPC tests share: slot names that no parallel test process uses, a private mailslot
// and lock directory, raw datagrams, and the facts that differ between the platforms.
#pragma once

#include "TestSupport.h"

#include <string>

namespace Kalvor::Test {

// A mailslot name unique to this test process and call: under Wine mailslots are machine-wide,
// and the tests of one binary run in parallel processes.
std::string uniqueSlotName(const std::string& stem);

// Points the posix mailslot and lock directories at a fresh folder for the object's life.
class SlotSandbox {
public:
    SlotSandbox();
    const std::string& path() const { return folder_.path(); }

private:
    TempDir folder_;
    ScopedEnv slots_;
    ScopedEnv locks_;
};

// Writes `bytes` into the receiver's slot as one datagram exactly as given (no zero byte added).
void sendRawDatagram(const std::string& name, const std::string& bytes);

// Whether a receiver's slot of that name is there (posix: its socket file, live or stale).
bool slotExists(const std::string& name);

// Wine accepts writes to a mailslot whose receiver has gone, and has no broadcast mailslots.
bool runningUnderWine();

// Whether named locks live in the sandbox's folder (posix) rather than machine-wide (win32).
bool namedLocksArePrivate();

int currentProcessId();

} // namespace Kalvor::Test
