// What the IPC tests share: raw datagrams, and the facts that differ between the platforms.
// Slot names and the mailslot and lock folders come from a Sandbox.
#pragma once

#include <string>

namespace Kalvor::Test {

// Writes `bytes` into the receiver's slot as one datagram exactly as given (no zero byte added).
void sendRawDatagram(const std::string& name, const std::string& bytes);

// Whether a receiver's slot of that name is there (posix: its socket file, live or stale).
bool slotExists(const std::string& name);

// Wine accepts writes to a mailslot whose receiver has gone, and has no broadcast mailslots.
bool runningUnderWine();

// Whether named locks live in the sandbox's folder (posix) rather than machine-wide (win32).
bool namedLocksArePrivate();

} // namespace Kalvor::Test
