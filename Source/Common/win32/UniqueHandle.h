// Owns one kernel handle and closes it on destruction.
//
// Both of Windows' "no handle" values count as none: null, which most calls return on failure,
// and INVALID_HANDLE_VALUE, which CreateFileA and CreateMailslotA return. So a failed call of
// either kind tests false, and get() is null whenever nothing is held. (The current process's
// pseudo handle has INVALID_HANDLE_VALUE's bits; it needs no closing and is never held here.)
#pragma once

#include "Common/win32/Windows.h"

#include <utility>

namespace Kalvor {

class UniqueHandle {
public:
    UniqueHandle() = default;
    explicit UniqueHandle(HANDLE handle) : handle_(heldOrNull(handle)) {}
    ~UniqueHandle() { reset(); }
    UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other)
            reset(other.release());
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;

    HANDLE get() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr; }
    // Hands the handle to a new owner (a C runtime descriptor, say) without closing it.
    HANDLE release() { return std::exchange(handle_, nullptr); }
    void reset(HANDLE handle = nullptr) {
        if (handle_ != nullptr)
            ::CloseHandle(handle_);
        handle_ = heldOrNull(handle);
    }

private:
    static HANDLE heldOrNull(HANDLE handle) {
        return handle == INVALID_HANDLE_VALUE ? nullptr : handle;
    }

    HANDLE handle_ = nullptr;
};

} // namespace Kalvor
