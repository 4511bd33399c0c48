#include "JobInstance/ContainerSignal.h"

namespace Kalvor {

int32_t containerSignalNamed(const std::string& text) {
    if (text == "close")
        return kCloseSignal;
    if (text == "kill")
        return kKillSignal;
    return 0;
}

} // namespace Kalvor
