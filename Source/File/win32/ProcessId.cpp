#include "File/ProcessId.h"

#include "Common/win32/Windows.h"

namespace Kalvor {

uint32_t currentProcessId() {
    return static_cast<uint32_t>(::GetCurrentProcessId());
}

} // namespace Kalvor
