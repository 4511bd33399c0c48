#include "JobInstance/NativeResult.h"

#include "Common/SystemError.h"

namespace Kalvor {

NativeResult nativeFailure(int32_t error) {
    const auto kind = systemError(error) == std::errc::bad_file_descriptor
                          ? NativeResult::Kind::InvalidHandle
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
