#include "JobInstance/ThreadMessages.h"

#include "Common/win32/Windows.h"

namespace Kalvor {

uint32_t currentThreadId() {
    return ::GetCurrentThreadId();
}

void ensureMessageQueue() {
    MSG message;
    ::PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE);
}

bool postThreadMessage(uint32_t threadId, uint32_t message, uintptr_t wParam, intptr_t lParam) {
    return ::PostThreadMessageA(threadId, message, wParam, lParam) != 0;
}

bool peekMessage(ThreadMessage& out) {
    MSG message;
    if (!::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
        return false;
    out = {message.message, message.wParam, message.lParam};
    return true;
}

} // namespace Kalvor
