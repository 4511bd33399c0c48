#include "JobInstance/WaitSet.h"

#include "Common/Exception.h"
#include "Common/win32/Windows.h"
#include "JobInstance/win32/UniqueHandle.h"

#include <algorithm>

namespace Kalvor {

struct WaitSet::Native {
    UniqueHandle wakeUp;
};

WaitSet::WaitSet() : native_(std::make_unique<Native>()) {
    native_->wakeUp = UniqueHandle(::CreateEventA(nullptr, FALSE, FALSE, nullptr));
    if (!native_->wakeUp)
        throw JobException(JB_UNKNOWN_ERROR, "CreateEventA", KALVOR_HERE);
}

WaitSet::~WaitSet() = default;

void WaitSet::wake() {
    ::SetEvent(native_->wakeUp.get());
}

bool WaitSet::wait(const std::vector<intptr_t>& waitables, uint32_t milliseconds) {
    // The event and at most 63 processes: MAXIMUM_WAIT_OBJECTS is 64.
    std::vector<HANDLE> handles{native_->wakeUp.get()};
    const std::size_t count = std::min<std::size_t>(waitables.size(), MAXIMUM_WAIT_OBJECTS - 1);
    for (std::size_t index = 0; index < count; ++index)
        handles.push_back(reinterpret_cast<HANDLE>(waitables[index]));
    const DWORD result = ::MsgWaitForMultipleObjects(static_cast<DWORD>(handles.size()),
                                                     handles.data(), FALSE, milliseconds,
                                                     QS_ALLINPUT);
    return result != WAIT_TIMEOUT && result != WAIT_FAILED;
}

} // namespace Kalvor
