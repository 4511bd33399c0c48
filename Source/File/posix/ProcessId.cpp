#include "File/ProcessId.h"

#include <unistd.h>

namespace Kalvor {

uint32_t currentProcessId() {
    return static_cast<uint32_t>(::getpid());
}

} // namespace Kalvor
