// Thread message queues: the few window-message calls the jobs and the supervisor use to tell a
// thread something (PostThreadMessageA / PeekMessageA on win32).
//
// A thread has a queue once it has asked for one (ensureMessageQueue, or its first
// peekMessage); posting to a thread without a queue fails, as on Windows, so a thread that is
// to be told to stop creates its queue before anyone relies on telling it.
//
// posix: an in-process queue per thread, identified by the kernel's thread id (gettid; the main
// thread's id is the process id). A queue goes with its thread. On a thread run by a
// ThreadInstance, ensureMessageQueue() and peekMessage() are also the points where a suspension
// or a forced end takes effect (see ThreadInstance.h).
#pragma once

#include <cstdint>
#include <functional>

namespace Kalvor {

// The window messages of this system, by their Windows numbers.
inline constexpr uint32_t kWmDestroy = 0x0002;
inline constexpr uint32_t kWmClose = 0x0010;
inline constexpr uint32_t kWmQuit = 0x0012;

struct ThreadMessage {
    uint32_t message = 0;
    uintptr_t wParam = 0;
    intptr_t lParam = 0;
};

uint32_t currentThreadId();

// Gives the calling thread its queue (what PeekMessageA with PM_NOREMOVE does on Windows).
void ensureMessageQueue();

// Appends a message to the queue of the thread; false when it has none (or does not exist).
bool postThreadMessage(uint32_t threadId, uint32_t message, uintptr_t wParam, intptr_t lParam);

// Takes the oldest message from the calling thread's queue without waiting; false when there is
// none.
bool peekMessage(ThreadMessage& out);

// Called after a message is posted to the calling thread from within this process, so that a
// thread that waits on something else as well (a socket, a mailslot) wakes for it; an empty
// function removes it. It must not block.
void setMessageArrivalHook(std::function<void()> hook);

} // namespace Kalvor
