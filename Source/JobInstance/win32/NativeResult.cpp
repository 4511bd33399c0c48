#include "JobInstance/NativeResult.h"

#include "Common/SystemError.h"
#include "Common/win32/Windows.h"

namespace Kalvor {

NativeResult nativeFailure(int32_t error) {
    const auto kind = error == ERROR_INVALID_HANDLE ? NativeResult::Kind::InvalidHandle
                                                    : NativeResult::Kind::Failed;
    return {kind, error};
}

NativeResult lastNativeFailure() {
    return nativeFailure(lastSystemError());
}

const char* nativeErrorLabel() {
    return "Win32 error code is : ";
}

} // namespace Kalvor
