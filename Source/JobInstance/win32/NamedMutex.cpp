#include "JobInstance/NamedMutex.h"

#include "Common/SystemError.h"
#include "Common/win32/Windows.h"
#include "JobInstance/win32/UniqueHandle.h"

namespace Kalvor {

struct NamedMutex::State {
    UniqueHandle handle;
};

NamedMutex::NamedMutex(std::unique_ptr<State> state) : state_(std::move(state)) {}

NamedMutex::~NamedMutex() = default;

std::unique_ptr<NamedMutex> NamedMutex::create(const std::string& name, std::string& failure) {
    failure.clear();
    const HANDLE created = ::CreateMutexA(nullptr, TRUE, name.c_str());
    const DWORD error = ::GetLastError();
    UniqueHandle handle(created);
    // An existing mutex is opened, not owned: someone else holds the name.
    if (!handle || error == ERROR_ALREADY_EXISTS) {
        if (!handle)
            failure = "CreateMutexA(\"" + name + "\"): " + systemErrorText(static_cast<int32_t>(error));
        return nullptr;
    }
    auto state = std::make_unique<State>();
    state->handle = std::move(handle);
    return std::unique_ptr<NamedMutex>(new NamedMutex(std::move(state)));
}

bool NamedMutex::release() {
    if (!::ReleaseMutex(state_->handle.get()))
        return false;
    state_->handle.reset();
    return true;
}

} // namespace Kalvor
