// The points where a thread run by a ThreadInstance takes notice of a suspension or a forced
// end: posix has neither SuspendThread nor a safe TerminateThread, so the thread does it itself.
#pragma once

namespace Kalvor {

// On a ThreadInstance thread: waits while the thread is suspended, and unwinds it (by an
// exception its job catches) once its end is requested. Elsewhere, and while an exception is
// already unwinding, it does nothing.
void threadSafePoint();

} // namespace Kalvor
