#include "JobInstance/ThreadMessages.h"

#include "Common/win32/Windows.h"

#include <mutex>
#include <unordered_map>

namespace Kalvor {

namespace {

struct ArrivalHooks {
    std::mutex mutex;
    std::unordered_map<DWORD, std::function<void()>> hooks;
};

// Never destroyed: threads may still post after static destruction.
ArrivalHooks& arrivalHooks() {
    static ArrivalHooks* const instance = new ArrivalHooks;
    return *instance;
}

} // namespace

uint32_t currentThreadId() {
    return ::GetCurrentThreadId();
}

void ensureMessageQueue() {
    MSG message;
    ::PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE);
}

bool postThreadMessage(uint32_t threadId, uint32_t message, uintptr_t wParam, intptr_t lParam) {
    if (!::PostThreadMessageA(threadId, message, wParam, lParam))
        return false;
    ArrivalHooks& registry = arrivalHooks();
    std::lock_guard<std::mutex> guard(registry.mutex);
    if (const auto hook = registry.hooks.find(threadId); hook != registry.hooks.end())
        hook->second();
    return true;
}

void setMessageArrivalHook(std::function<void()> hook) {
    ArrivalHooks& registry = arrivalHooks();
    std::lock_guard<std::mutex> guard(registry.mutex);
    if (hook)
        registry.hooks[::GetCurrentThreadId()] = std::move(hook);
    else
        registry.hooks.erase(::GetCurrentThreadId());
}

bool peekMessage(ThreadMessage& out) {
    MSG message;
    if (!::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
        return false;
    out = {message.message, message.wParam, message.lParam};
    return true;
}

} // namespace Kalvor
