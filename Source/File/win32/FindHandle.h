// Owns one FindFirstFileA search; FindClose on destruction.
#pragma once

#include "Common/win32/Windows.h"

namespace Kalvor {

class FindHandle {
public:
    explicit FindHandle(HANDLE handle) : handle_(handle) {}
    ~FindHandle() {
        if (valid())
            ::FindClose(handle_);
    }
    FindHandle(FindHandle&& other) noexcept : handle_(other.handle_) {
        other.handle_ = INVALID_HANDLE_VALUE;
    }
    FindHandle& operator=(FindHandle&&) = delete;
    FindHandle(const FindHandle&) = delete;
    FindHandle& operator=(const FindHandle&) = delete;

    bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
    HANDLE get() const { return handle_; }

private:
    HANDLE handle_;
};

} // namespace Kalvor
