#include "JobInstance/WaitSet.h"

#include "Common/Exception.h"
#include "Common/win32/Windows.h"
#include "Common/win32/UniqueHandle.h"

#include <algorithm>
#include <map>
#include <mutex>

namespace Kalvor {

struct WaitSet::Native {
    struct Registration {
        Native* owner = nullptr;
        intptr_t waitable = 0;
        HANDLE wait = nullptr;
    };

    UniqueHandle wakeUp;
    std::mutex mutex; // guards `ended`, which the thread pool's callbacks fill
    std::vector<intptr_t> ended;
    std::map<intptr_t, std::unique_ptr<Registration>> registrations;

    void unregister(intptr_t waitable);

    // Runs on a thread of the pool, once per registration (WT_EXECUTEONLYONCE).
    static VOID CALLBACK onEnded(PVOID context, BOOLEAN) {
        auto& registration = *static_cast<Registration*>(context);
        Native& owner = *registration.owner;
        {
            std::lock_guard<std::mutex> guard(owner.mutex);
            owner.ended.push_back(registration.waitable);
        }
        ::SetEvent(owner.wakeUp.get());
    }
};

void WaitSet::Native::unregister(intptr_t waitable) {
    const auto found = registrations.find(waitable);
    if (found == registrations.end())
        return;
    // Waits for a callback under way, which takes the mutex: not held here.
    ::UnregisterWaitEx(found->second->wait, INVALID_HANDLE_VALUE);
    registrations.erase(found);
    std::lock_guard<std::mutex> guard(mutex);
    ended.erase(std::remove(ended.begin(), ended.end(), waitable), ended.end());
}

WaitSet::WaitSet() : native_(std::make_unique<Native>()) {
    native_->wakeUp = UniqueHandle(::CreateEventA(nullptr, FALSE, FALSE, nullptr));
    if (!native_->wakeUp)
        throw JobException(JB_UNKNOWN_ERROR, "CreateEventA", KALVOR_HERE);
}

WaitSet::~WaitSet() {
    while (!native_->registrations.empty())
        native_->unregister(native_->registrations.begin()->first);
}

void WaitSet::watch(intptr_t waitable) {
    if (native_->registrations.count(waitable) != 0)
        return;
    auto registration = std::make_unique<Native::Registration>();
    registration->owner = native_.get();
    registration->waitable = waitable;
    if (!::RegisterWaitForSingleObject(&registration->wait, reinterpret_cast<HANDLE>(waitable),
                                       Native::onEnded, registration.get(), INFINITE,
                                       WT_EXECUTEONLYONCE))
        throw JobException(JB_UNKNOWN_ERROR, "RegisterWaitForSingleObject", KALVOR_HERE);
    native_->registrations.emplace(waitable, std::move(registration));
}

void WaitSet::forget(intptr_t waitable) {
    native_->unregister(waitable);
}

void WaitSet::watchOnly(const std::vector<intptr_t>& waitables) {
    std::vector<intptr_t> stale;
    for (const auto& entry : native_->registrations)
        if (std::find(waitables.begin(), waitables.end(), entry.first) == waitables.end())
            stale.push_back(entry.first);
    for (const intptr_t waitable : stale)
        forget(waitable);
    for (const intptr_t waitable : waitables)
        watch(waitable);
}

void WaitSet::wake() noexcept {
    ::SetEvent(native_->wakeUp.get());
}

std::vector<intptr_t> WaitSet::wait(uint32_t milliseconds) {
    const HANDLE wakeUp = native_->wakeUp.get();
    // MWMO_INPUTAVAILABLE: a message already in the queue ends the wait too, not only a new one.
    ::MsgWaitForMultipleObjectsEx(1, &wakeUp, milliseconds, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    std::vector<intptr_t> ended;
    {
        std::lock_guard<std::mutex> guard(native_->mutex);
        ended.swap(native_->ended);
    }
    for (const intptr_t waitable : ended)
        native_->unregister(waitable);
    return ended;
}

} // namespace Kalvor
