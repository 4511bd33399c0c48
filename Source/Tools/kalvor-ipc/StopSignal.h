// Ctrl-C and friends for the tools (kalvor-ipc listen, wardexctl waiting for an answer): the
// request is noted so the tool ends cleanly, removing its mailslot and its lock, instead of
// dying where it stands.
//
// posix: SIGINT, SIGTERM and SIGHUP. win32: the console's Ctrl-C, Ctrl-Break and close events.
#pragma once

namespace Kalvor {

void installStopHandlers();
bool stopRequested();

} // namespace Kalvor
