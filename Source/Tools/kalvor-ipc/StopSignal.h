// Ctrl-C and friends for kalvor-ipc listen: the request is noted so the listener ends cleanly
// (removing its mailslot) instead of dying where it stands.
//
// posix: SIGINT and SIGTERM. win32: the console's Ctrl-C, Ctrl-Break and close events.
#pragma once

namespace Kalvor {

void installStopHandlers();
bool stopRequested();

} // namespace Kalvor
