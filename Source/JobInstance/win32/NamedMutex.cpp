#include "JobInstance/NamedMutex.h"

#include "Common/SystemError.h"
#include "Common/win32/UniqueHandle.h"
#include "Common/win32/Windows.h"

namespace Kalvor {

struct NamedMutex::State {
    UniqueHandle handle;
};

NamedMutex::NamedMutex(std::unique_ptr<State> state) : state_(std::move(state)) {}

NamedMutex::~NamedMutex() = default;

std::unique_ptr<NamedMutex> NamedMutex::create(const std::string& name, std::string& failure) {
    failure.clear();
    UniqueHandle handle(::CreateMutexA(nullptr, TRUE, name.c_str()));
    const SystemError error = lastSystemErrorValue();
    // An existing mutex is opened, not owned: someone else holds the name.
    if (!handle || error == std::errc::file_exists) {
        if (!handle)
            failure = "CreateMutexA(\"" + name + "\"): " + error.text();
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
